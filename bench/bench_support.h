// bench_support.h - what the benchmarks share: the scratch directory, a
// pseudo-terminal standing in for an instrument, and a writer that floods it.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>
#include <thread>

namespace bench {

// The scratch directory under /tmp; it is the current directory for the
// whole run, so the engine reads comports.map from here and never from the
// directory the benchmark was started in.
const std::string &scratch_dir();

// Writes comports.map into the scratch directory with `port` mapped to
// `path` and every other port marked none, then makes the engine re-read it.
// No benchmark ever reaches a real /dev/ttyS device.
void map_only_port(int port, const std::string &path);

// Pours the test stream (testing_support::stream_bytes) into a pty master
// (made non-blocking, so the writer can always be stopped) as fast as the
// terminal takes it, on a thread of its own, until destroyed. A reader that
// checks it with testing_support::stream_intact() also proves nothing was
// lost, added or translated on the way.
class FloodWriter {
public:
    explicit FloodWriter(int master);
    ~FloodWriter();
    FloodWriter(const FloodWriter &) = delete;
    FloodWriter &operator=(const FloodWriter &) = delete;

private:
    void run();
    int m_fd;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

// The process's peak resident set so far, and its resident set now, in MiB.
double max_rss_mib();
double rss_now_mib();

} // namespace bench
