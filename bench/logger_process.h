// logger_process.h - what the benchmarks that run programs as processes
// share: the logger's station (18 pseudo-terminals, five live views), starting
// and stopping a program by its process id, its CPU time and peak memory, and
// reading back the data files it wrote. Plain POSIX and ptykit: nothing of the
// logger or of the engine is linked, the logger is only started.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <sys/types.h>
#include <vector>

namespace bench {

// The ports of a full rack; every one is logged.
constexpr int kPorts = 18;

// Starts args[0] in `dir` with stdin from `in` and stdout and stderr into
// `out`, with exactly the environment `env`. Returns the child's process id,
// or -1 when it cannot fork (a child that cannot exec ends with status 121).
// The child is sent SIGTERM should the calling thread end before it.
pid_t spawn(const std::vector<std::string> &args, const std::string &dir, const std::string &in,
            const std::string &out, const std::vector<std::string> &env);

// Ends the child `pid` (SIGTERM, then SIGKILL after `graceMs`) and reaps it.
// Does nothing for pid <= 0.
void stop(pid_t pid, int graceMs = 5000);

// Whether the child `pid` is still running; an ended child is left for
// stop() to reap.
bool running(pid_t pid);

// CPU seconds (user and system, all threads) the process has used so far,
// to the nanosecond (the figures of /proc count in hundredths); 0 when it
// cannot be read.
double cpu_seconds(pid_t pid);

// CPU seconds each thread of the process has used so far (to the
// nanosecond, from the scheduler), by the thread's name, threads of one name
// summed. The process's first thread, the window's, is "window"; a thread
// that never named itself goes by the program's name.
std::map<std::string, double> thread_cpu_seconds(pid_t pid);
// Each thread's share of one core between the two readings, `wall` seconds
// apart: "vorn-reader 0.80% window 0.61%".
std::string thread_shares(const std::map<std::string, double> &before, const std::map<std::string, double> &after,
                          double wall);

// The process's peak resident memory (VmHWM) in MiB; 0 when unknown.
double peak_rss_mib(pid_t pid);

// The environment the logger runs in, HOME in `home`: on $DISPLAY when set
// (so that the live views are painted), else on the offscreen platform.
std::vector<std::string> logger_env(const std::string &home);

// Writes comports.map (port n on paths[n - 1]) and coms.cfg into `dir`:
// every port logged at 115200 baud, ports 1 to 5 shown in the five live
// views, ports 2 and 4 as hexadecimal; without views, none shown.
void write_station(const std::string &dir, const std::vector<std::string> &paths, bool views = true);

// Waits, at most `timeoutMs`, until the logger started in `dir` has made one
// data file for each of `ports` ports (its run has begun, its ports are
// opening), then a second more. Returns false on timeout.
bool wait_for_run(const std::string &dir, int ports, int timeoutMs);

// All data files of a port, joined in day and name order.
std::string recorded(const std::string &dir, int port);

// The bytes in the directories whose names begin with `letter`: D for the
// data files, T for their arrival-time index.
std::uint64_t bytes_under(const std::string &dir, char letter);

// How many bytes of `data` follow the test stream from its start.
std::uint64_t intact_prefix(const std::string &data);

// The machine's load averages, as uptime shows them ("0.52 0.61 0.70").
std::string load_average();

} // namespace bench
