// Serial throughput end to end: pty master -> kernel terminal -> the engine's
// reader thread -> the port's 32000-byte queue -> GetInQLen/ComRd.
//
// A writer thread floods the pty as fast as the terminal takes bytes, so the
// figure is what the engine can move, far above any real baud rate. Every
// byte read is checked against the flood pattern: a fast path that loses or
// alters bytes reports an error instead of a figure.
#include "bench_support.h"

#include "engine.h"
#include "ptykit/pty.h"
#include "ptykit/stream.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <memory>
#include <thread>
#include <vector>

namespace {

constexpr int kPort = 3;

// One port opened on a fresh pty, flooded for as long as this lives. The
// members are stopped in reverse order: the writer, then the port, then the pty.
struct FloodedPort {
    ptykit::Pty pty;
    bool open = false;
    std::unique_ptr<ptykit::PacedWriter> writer;

    FloodedPort()
    {
        bench::map_only_port(kPort, pty.path());
        open = OpenComConfig(kPort, "", 115200, 0, 8, 1, COM_QUEUE_MAX, 512) == 0;
        if (!open)
            return;
        SetComTime(kPort, 5.0); // a stalled flood ends the benchmark, not the machine
        writer = std::make_unique<ptykit::PacedWriter>(std::vector<int>{pty.master()}, ptykit::PacedWriter::kFlood,
                                                       ptykit::PacedWriter::kEndless);
    }
    ~FloodedPort()
    {
        writer.reset();
        if (open)
            CloseCom(kPort);
    }
};

char g_buffer[COM_QUEUE_MAX];

void report(benchmark::State &state, std::uint64_t bytes, std::uint64_t reads, bool intact)
{
    if (!intact)
        state.SkipWithError("bytes lost, added or altered between the pty and ComRd");
    state.SetBytesProcessed(static_cast<std::int64_t>(bytes));
    state.counters["bytes_per_ComRd"] = reads > 0 ? static_cast<double>(bytes) / static_cast<double>(reads) : 0.0;
}

// As the logger's tick does: ask how much is queued, take all of it.
void BM_SerialDrain(benchmark::State &state)
{
    FloodedPort port;
    if (!port.open) {
        state.SkipWithError("could not open the pty as a port");
        return;
    }
    std::uint64_t bytes = 0, reads = 0;
    bool intact = true;
    for (auto _ : state) {
        const int queued = GetInQLen(kPort);
        if (queued <= 0) {
            std::this_thread::yield(); // nothing yet: let the reader and writer threads run
            continue;
        }
        const int n = ComRd(kPort, g_buffer, queued);
        intact = intact && n == queued && ptykit::stream_intact(g_buffer, static_cast<std::size_t>(n), bytes);
        bytes += static_cast<std::uint64_t>(n > 0 ? n : 0);
        ++reads;
    }
    report(state, bytes, reads, intact);
}
BENCHMARK(BM_SerialDrain)->UseRealTime();

// Lets the queue fill to its 32000 bytes, then takes it in one ComRd (which
// waits for the count): the reader thread does all the filling alone.
void BM_SerialFullQueue(benchmark::State &state)
{
    FloodedPort port;
    if (!port.open) {
        state.SkipWithError("could not open the pty as a port");
        return;
    }
    std::uint64_t bytes = 0, reads = 0;
    bool intact = true;
    for (auto _ : state) {
        const int n = ComRd(kPort, g_buffer, COM_QUEUE_MAX);
        intact = intact && n == COM_QUEUE_MAX &&
                 ptykit::stream_intact(g_buffer, static_cast<std::size_t>(n), bytes);
        bytes += static_cast<std::uint64_t>(n > 0 ? n : 0);
        ++reads;
    }
    report(state, bytes, reads, intact);
}
BENCHMARK(BM_SerialFullQueue)->UseRealTime();

} // namespace
