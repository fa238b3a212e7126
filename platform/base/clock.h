// clock.h - the engine's clocks: the local time of day and date the program
// reads (RT_GetSystemTime, GetSystemDate), and a clock for elapsed time.
//
// The engine reads both through sources it always calls through, the
// system's own by default. A test that fixes the time (engine_seams) gives
// sources of its own that read the fixed time, so that moving it moves
// elapsed time with it.
#pragma once

#include <atomic>
#include <ctime>

// The local time now, through local_time_source.
std::tm local_time();
// Seconds on a clock that never goes back, for how long ago something
// happened (a port's last byte, its device's departure); only differences
// mean anything. Through monotonic_source.
double monotonic_seconds();

// Microseconds since 1970 UTC on the system's clock, which may be set back
// or forward: when bytes arrived. Through wall_clock_source.
long long wall_clock_us();

// The system's sources: local time through the C library (so time-faking
// tools work), the steady clock, and CLOCK_REALTIME.
std::tm system_local_time();
double system_monotonic_seconds();
long long system_wall_clock_us();

using LocalTimeSource = std::tm (*)();
using MonotonicSource = double (*)();
using WallClockSource = long long (*)();
extern std::atomic<LocalTimeSource> local_time_source;
extern std::atomic<MonotonicSource> monotonic_source;
extern std::atomic<WallClockSource> wall_clock_source;
