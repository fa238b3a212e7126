// Data files and labels: RT_WriteFile of one full queue (the most a tick
// writes to a port's file) with no user-space buffer in between, and Fmt as
// the logger uses it to build a display slot's labels.
#include "bench_support.h"

#include "engine.h"

#include <benchmark/benchmark.h>

#include <string>
#include <unistd.h>

namespace {

void BM_WriteFile(benchmark::State &state)
{
    // Opened as the logger opens its data files: write only, appending.
    const std::string name = bench::scratch_dir() + "/COM3.dat";
    const int handle = RT_OpenFile(name.c_str(), 2, 1, 0);
    if (handle <= 0) {
        state.SkipWithError("could not open the data file");
        return;
    }
    static char block[COM_QUEUE_MAX];
    for (int i = 0; i < COM_QUEUE_MAX; ++i)
        block[i] = static_cast<char>(i * 7);
    long written = 0;
    bool ok = true;
    for (auto _ : state) {
        ok = ok && RT_WriteFile(handle, block, COM_QUEUE_MAX) == COM_QUEUE_MAX;
        // Keep the scratch file small on a shared disk: cut it back every
        // 64 MiB, outside the timing (appending writes start again at 0).
        if ((written += COM_QUEUE_MAX) >= (64L << 20)) {
            state.PauseTiming();
            ok = ok && truncate(name.c_str(), 0) == 0;
            written = 0;
            state.ResumeTiming();
        }
    }
    RT_CloseFile(handle);
    unlink(name.c_str());
    if (!ok)
        state.SkipWithError("RT_WriteFile failed");
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * COM_QUEUE_MAX);
}
BENCHMARK(BM_WriteFile);

// A slot's LED label, "COMM" and "3 Logging" joined.
void BM_FmtLabel(benchmark::State &state)
{
    char comm[64] = "COMM", tail[64] = "3 Logging", label[64];
    for (auto _ : state) {
        benchmark::DoNotOptimize(Fmt(label, "%s<%s%s", comm, tail));
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_FmtLabel);

// A number item, and the target used as an item, as the rate label is built.
void BM_FmtRateLabel(benchmark::State &state)
{
    char label[64];
    for (auto _ : state) {
        Fmt(label, "%s<%s", "COMM3 @ ");
        benchmark::DoNotOptimize(Fmt(label, "%s<%s%i Baud", label, 115200));
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * 2); // two Fmt calls an iteration
}
BENCHMARK(BM_FmtRateLabel);

} // namespace
