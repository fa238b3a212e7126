// Test seam of the clock: a fixed local time, which the engine's measure of
// elapsed time reads too.
#include "engine_seams.h"

#include "base/clock.h"

#include <mutex>

namespace {

std::mutex g_mutex;
std::tm g_fixedTime{};
std::atomic<long long> g_wallStep{0};

long long stepped_wall_clock_us()
{
    return system_wall_clock_us() + g_wallStep.load();
}

std::tm fixed_local_time()
{
    std::lock_guard<std::mutex> lock(g_mutex);
    return g_fixedTime;
}

double fixed_monotonic_seconds()
{
    std::tm t = fixed_local_time();
    return static_cast<double>(std::mktime(&t));
}

} // namespace

void SeamSetClock(int year, int month, int day, int hour, int minute, int second)
{
    {
        std::lock_guard<std::mutex> lock(g_mutex);
        g_fixedTime = std::tm{};
        g_fixedTime.tm_year = year - 1900;
        g_fixedTime.tm_mon = month - 1;
        g_fixedTime.tm_mday = day;
        g_fixedTime.tm_hour = hour;
        g_fixedTime.tm_min = minute;
        g_fixedTime.tm_sec = second;
    }
    local_time_source.store(fixed_local_time);
    monotonic_source.store(fixed_monotonic_seconds);
}

void SeamUseRealClock()
{
    local_time_source.store(system_local_time);
    monotonic_source.store(system_monotonic_seconds);
}

void SeamStepWallClock(long long us)
{
    g_wallStep += us;
    wall_clock_source.store(stepped_wall_clock_us);
}
