// thread_name.h - the names the engine's threads go by.
//
// Each thread the engine starts names itself, so that top -H, perf and the
// benchmarks can tell what costs the CPU: the window's thread keeps the
// program's name, the others are named here. A name has at most 15
// characters (the kernel's limit).
#pragma once

namespace threadname {

constexpr const char *kSerialReader = "vorn-reader";
constexpr const char *kSerialReopen = "vorn-reopen";
constexpr const char *kFeeds = "vorn-feeds";
constexpr const char *kHttp = "vorn-http";

// Gives the calling thread `name`; threads it starts afterwards inherit it.
// Does nothing where the system keeps no names (Windows here).
void name_this_thread(const char *name);

} // namespace threadname
