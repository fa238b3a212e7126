// The Win32 clock: arrival times on the Unix epoch, as on Linux.
#include "base/clock.h"

#include <gtest/gtest.h>

#include <ctime>

TEST(WindowsClock, WallClockCountsMicrosecondsSince1970)
{
    const long long before = static_cast<long long>(std::time(nullptr));
    const long long us = system_wall_clock_us();
    const long long after = static_cast<long long>(std::time(nullptr));
    EXPECT_GE(us / 1000000, before - 1);
    EXPECT_LE(us / 1000000, after + 1);
}

TEST(WindowsClock, LocalTimeIsTheCLibrarys)
{
    const std::time_t now = std::time(nullptr);
    std::tm expected{};
    localtime_s(&expected, &now);
    const std::tm got = system_local_time();
    EXPECT_EQ(got.tm_year, expected.tm_year);
    EXPECT_EQ(got.tm_yday, expected.tm_yday);
}
