// The clock: local time of day and date, elapsed time, and the wall clock
// that dates arrivals, each through its source. The system's own sources of
// local time and the wall clock, and whether the clock is kept synchronised,
// are the system's: clock_posix.cpp and clock_win32.cpp.
#include "clock.h"

#include "engine.h"

#include <chrono>

std::atomic<LocalTimeSource> local_time_source{system_local_time};
std::atomic<MonotonicSource> monotonic_source{system_monotonic_seconds};
std::atomic<WallClockSource> wall_clock_source{system_wall_clock_us};

double system_monotonic_seconds()
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

long long wall_clock_us()
{
    return wall_clock_source.load()();
}

std::tm local_time()
{
    return local_time_source.load()();
}

double monotonic_seconds()
{
    return monotonic_source.load()();
}

int RT_GetSystemTime(int *hours, int *minutes, int *seconds)
{
    const std::tm t = local_time();
    *hours = t.tm_hour;
    *minutes = t.tm_min;
    *seconds = t.tm_sec;
    return 0;
}

int GetSystemDate(int *month, int *day, int *year)
{
    const std::tm t = local_time();
    *month = t.tm_mon + 1;
    *day = t.tm_mday;
    *year = t.tm_year + 1900;
    return 0;
}

double Timer(void)
{
    return monotonic_seconds();
}
