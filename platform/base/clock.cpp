// The clock: local time of day and date through the C library, elapsed
// time, the wall clock that dates arrivals, and whether it is kept synchronised.
#include "clock.h"

#include "engine.h"

#include <chrono>
#include <sys/timex.h>

std::atomic<LocalTimeSource> local_time_source{system_local_time};
std::atomic<MonotonicSource> monotonic_source{system_monotonic_seconds};
std::atomic<WallClockSource> wall_clock_source{system_wall_clock_us};

std::tm system_local_time()
{
    std::time_t t = std::time(nullptr);
    std::tm local{};
    localtime_r(&t, &local);
    return local;
}

double system_monotonic_seconds()
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

long long system_wall_clock_us()
{
    timespec t{};
    clock_gettime(CLOCK_REALTIME, &t);
    return static_cast<long long>(t.tv_sec) * 1000000 + t.tv_nsec / 1000;
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

int ClockSynchronised(void)
{
    timex status{};
    const int state = ntp_adjtime(&status); // modes 0: reads, changes nothing
    return state != -1 && state != TIME_ERROR && (status.status & STA_UNSYNC) == 0 ? 1 : 0;
}
