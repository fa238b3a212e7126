// The clock: local time of day and date, through the C library.
#include "engine.h"
#include "seams/engine_seams.h"

#include "clock.h"

#include <chrono>
#include <ctime>
#include <mutex>

namespace {

std::mutex g_mutex;
bool g_fixed = false;
std::tm g_fixedTime{};

std::tm now()
{
    std::lock_guard<std::mutex> lock(g_mutex);
    if (g_fixed)
        return g_fixedTime;
    std::time_t t = std::time(nullptr);
    std::tm local{};
    localtime_r(&t, &local);
    return local;
}

} // namespace

double monotonic_seconds()
{
    {
        std::lock_guard<std::mutex> lock(g_mutex);
        if (g_fixed) {
            std::tm t = g_fixedTime;
            return static_cast<double>(std::mktime(&t));
        }
    }
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

int RT_GetSystemTime(int *hours, int *minutes, int *seconds)
{
    const std::tm t = now();
    *hours = t.tm_hour;
    *minutes = t.tm_min;
    *seconds = t.tm_sec;
    return 0;
}

int GetSystemDate(int *month, int *day, int *year)
{
    const std::tm t = now();
    *month = t.tm_mon + 1;
    *day = t.tm_mday;
    *year = t.tm_year + 1900;
    return 0;
}

void SeamSetClock(int year, int month, int day, int hour, int minute, int second)
{
    std::lock_guard<std::mutex> lock(g_mutex);
    g_fixed = true;
    g_fixedTime = std::tm{};
    g_fixedTime.tm_year = year - 1900;
    g_fixedTime.tm_mon = month - 1;
    g_fixedTime.tm_mday = day;
    g_fixedTime.tm_hour = hour;
    g_fixedTime.tm_min = minute;
    g_fixedTime.tm_sec = second;
}

void SeamUseRealClock()
{
    std::lock_guard<std::mutex> lock(g_mutex);
    g_fixed = false;
}
