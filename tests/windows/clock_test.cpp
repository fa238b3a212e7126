// The Win32 clock: arrival times on the Unix epoch, as on Linux.
#include "base/clock.h"

#include <gtest/gtest.h>

#include <ctime>
#include <windows.h>

TEST(WindowsClock, WallClockCountsMicrosecondsSince1970)
{
    const long long before = static_cast<long long>(std::time(nullptr));
    const long long us = system_wall_clock_us();
    const long long after = static_cast<long long>(std::time(nullptr));
    EXPECT_GE(us / 1000000, before - 1);
    EXPECT_LE(us / 1000000, after + 1);
}

// The day directories and file names come from the local time Windows
// keeps; with no TZ to follow, the C library's agrees with it, field by field.
TEST(WindowsClock, LocalTimeIsTheOneWindowsKeeps)
{
    _putenv("TZ=");
    _tzset();
    for (int attempt = 0; attempt < 3; ++attempt) { // a second may turn between the two
        const std::tm got = system_local_time();
        const std::time_t now = std::time(nullptr);
        std::tm expected{};
        localtime_s(&expected, &now);
        if (got.tm_sec != expected.tm_sec)
            continue;
        EXPECT_EQ(got.tm_year, expected.tm_year);
        EXPECT_EQ(got.tm_yday, expected.tm_yday);
        EXPECT_EQ(got.tm_mon, expected.tm_mon);
        EXPECT_EQ(got.tm_mday, expected.tm_mday);
        EXPECT_EQ(got.tm_wday, expected.tm_wday);
        EXPECT_EQ(got.tm_hour, expected.tm_hour);
        EXPECT_EQ(got.tm_min, expected.tm_min);
        return;
    }
    FAIL() << "the two clocks never read the same second";
}
