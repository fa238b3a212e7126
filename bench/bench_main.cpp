// engine_bench: how fast the engine moves a port's bytes to the queue, the
// live text boxes and the data files, and how much memory a text box keeps.
//
// Runs offscreen, from a scratch directory under /tmp, with serial ports on
// pseudo-terminals only. `make bench` runs it; options are Google Benchmark's
// (e.g. --benchmark_filter=Serial, --benchmark_min_time=0.2).
#include "bench_support.h"

#include "engine.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <unistd.h>

namespace bench {

namespace {
std::string g_scratch;
}

const std::string &scratch_dir()
{
    return g_scratch;
}

} // namespace bench

int main(int argc, char *argv[])
{
    // No display is needed, and painting still happens (into an image), so
    // the text box figures include the repaint.
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;

    char scratch[] = "/tmp/vornacq4-bench-XXXXXX";
    if (mkdtemp(scratch) == nullptr || chdir(scratch) != 0) {
        std::perror("engine_bench: scratch directory");
        return 1;
    }
    bench::g_scratch = scratch;
    // Every port none until a benchmark maps its pty, before the engine
    // first looks for comports.map (it reads it from the start-up directory).
    bench::map_only_port(0, "");

    char *engineArgv[] = {argv[0], nullptr};
    if (!InitEngine(0, engineArgv, 0))
        return 1;

    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();

    std::error_code ignored;
    std::filesystem::current_path("/tmp", ignored);
    std::filesystem::remove_all(bench::g_scratch, ignored);
    return 0;
}
