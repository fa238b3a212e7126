// The clock: local time through the C library, or a fixed time for tests.
#include "engine.h"
#include "engine_seams.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>

namespace {

struct Reading {
    int year, month, day, hour, minute, second;
    bool operator==(const Reading &o) const
    {
        return year == o.year && month == o.month && day == o.day && hour == o.hour && minute == o.minute &&
               second == o.second;
    }
};

std::ostream &operator<<(std::ostream &out, const Reading &r)
{
    return out << r.year << "-" << r.month << "-" << r.day << " " << r.hour << ":" << r.minute << ":"
               << r.second;
}

Reading engine_now()
{
    Reading r{};
    EXPECT_EQ(RT_GetSystemTime(&r.hour, &r.minute, &r.second), 0);
    EXPECT_EQ(GetSystemDate(&r.month, &r.day, &r.year), 0);
    return r;
}

Reading c_library_now()
{
    const std::time_t t = std::time(nullptr);
    std::tm local{};
    localtime_r(&t, &local);
    return Reading{local.tm_year + 1900, local.tm_mon + 1, local.tm_mday,
                   local.tm_hour,        local.tm_min,     local.tm_sec};
}

// The engine's reading taken between two of the C library's: it must equal
// one of them (the second may have changed meanwhile).
void expect_real_time()
{
    const Reading before = c_library_now();
    const Reading engine = engine_now();
    const Reading after = c_library_now();
    EXPECT_TRUE(engine == before || engine == after) << engine << " not " << before << " or " << after;
}

} // namespace

TEST(Clock, AgreesWithTheCLibrarysLocalTime)
{
    expect_real_time();
}

TEST(Clock, FollowsTheLocalTimeZone)
{
    // Far from UTC either way, so a clock that ignored the zone would differ.
    setenv("TZ", "XYZ-13", 1);
    tzset();
    expect_real_time();
    const std::time_t t = std::time(nullptr);
    std::tm utc{};
    gmtime_r(&t, &utc);
    const Reading engine = engine_now();
    EXPECT_TRUE(engine.hour == (utc.tm_hour + 13) % 24 || engine.hour == (utc.tm_hour + 14) % 24)
        << engine << " against UTC hour " << utc.tm_hour;
}

TEST(Clock, SeamFixesTimeAndDateUntilTheRealClockIsBack)
{
    SeamSetClock(2024, 2, 29, 23, 59, 59);
    EXPECT_EQ(engine_now(), (Reading{2024, 2, 29, 23, 59, 59}));
    EXPECT_EQ(engine_now(), (Reading{2024, 2, 29, 23, 59, 59})) << "a fixed clock does not run";
    SeamSetClock(2025, 1, 1, 0, 0, 0);
    EXPECT_EQ(engine_now(), (Reading{2025, 1, 1, 0, 0, 0}));
    SeamUseRealClock();
    expect_real_time();
}
