// bench_support.h - what the benchmarks share beyond ptykit: the scratch
// directory with its comports.map, and the process's memory.
#pragma once

#include <string>

namespace bench {

// The scratch directory under /tmp; it is the current directory for the
// whole run, so the engine reads comports.map from here and never from the
// directory the benchmark was started in.
const std::string &scratch_dir();

// Writes comports.map into the scratch directory with `port` mapped to
// `path` and every other port marked none, then makes the engine re-read it.
// No benchmark ever reaches a real /dev/ttyS device.
void map_only_port(int port, const std::string &path);

// The process's peak resident set so far, and its resident set now, in MiB.
double max_rss_mib();
double rss_now_mib();

} // namespace bench
