// The pace of instrument-sim: how many bytes each simulated line carried in
// two seconds against the rate/10 bytes a second it should carry. Nobody
// reads the lines, so they fill and refuse bytes; a refused byte was still
// put on the line, so the figure is (sent + refused) / (2 s * rate / 10),
// where 1.00 is the exact pace (the last tick before the end falls up to
// 10 ms short of it).
#include "bench_support.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>
#include <sys/stat.h>

namespace {

struct Paced {
    const char *arg;
    int rate;
};

const Paced kLines[] = {
    {"pattern:4800", 4800}, {"pattern:9600", 9600}, {"pattern:115200", 115200},
    {"chatty:115200", 115200}, {"pattern:921600", 921600},
};

void BM_SimPacing(benchmark::State &state)
{
    constexpr double kSeconds = 2.0;
    const std::string dir = bench::scratch_dir() + "/sim";
    mkdir(dir.c_str(), 0755);
    std::string command = std::string(INSTRUMENT_SIM_BINARY) + " -d " + dir + " -t 2";
    int port = 0;
    for (const Paced &p : kLines)
        command += " COM" + std::to_string(++port) + "=" + p.arg;
    command += " 2>/dev/null";

    double ratio[sizeof kLines / sizeof kLines[0]] = {};
    for (auto _ : state) {
        std::FILE *sim = popen(command.c_str(), "r");
        char line[512];
        int n = 0;
        unsigned long long sent = 0, refused = 0;
        while (sim != nullptr && std::fgets(line, sizeof line, sim) != nullptr)
            if (std::sscanf(line, "COM%d %*s %*s %*s sent=%llu refused=%llu", &n, &sent, &refused) == 3 &&
                n >= 1 && n <= port)
                ratio[n - 1] = static_cast<double>(sent + refused) / (kSeconds * kLines[n - 1].rate / 10.0);
        if (sim == nullptr || pclose(sim) != 0)
            state.SkipWithError("instrument-sim did not run");
    }
    for (int i = 0; i < port; ++i)
        state.counters[kLines[i].arg] = ratio[i];
}
BENCHMARK(BM_SimPacing)->Iterations(1)->Unit(benchmark::kMillisecond);

} // namespace
