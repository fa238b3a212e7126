// zone.h over Win32: the zone Windows is set to, with the rules it holds for
// the year in question (GetTimeZoneInformationForYear), so a time of an
// earlier year gets that year's offset. TZ plays no part: the C runtime's own
// zone handling knows one set of rules only.
#include "zone.h"

#include "base/systemtime_win32.h"

#include <windows.h>

namespace when {

namespace {

constexpr long long kSecondsPerDay = 86400;
constexpr long long kSeconds1601To1970 = 11644473600LL; // FILETIME counts from 1601
constexpr long long kTicksPerSecond = 10000000;         // FILETIME counts 100 ns

// Days from 1970-01-01 to the given day of the proleptic Gregorian calendar
// (H. Hinnant's days_from_civil); `month` 1..12.
long long days_from_civil(long long year, long long month, long long day)
{
    year -= month <= 2 ? 1 : 0;
    const long long era = (year >= 0 ? year : year - 399) / 400;
    const long long yearOfEra = year - era * 400;
    const long long dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const long long dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + dayOfEra - 719468;
}

bool to_system_time(long long seconds, SYSTEMTIME &st)
{
    if (seconds < -kSeconds1601To1970)
        return false;
    ULARGE_INTEGER ticks{};
    ticks.QuadPart = static_cast<unsigned long long>(seconds + kSeconds1601To1970) * kTicksPerSecond;
    const FILETIME ft{ticks.LowPart, ticks.HighPart};
    return FileTimeToSystemTime(&ft, &st) != 0;
}

bool from_system_time(const SYSTEMTIME &st, long long &seconds)
{
    FILETIME ft{};
    if (!SystemTimeToFileTime(&st, &ft))
        return false;
    ULARGE_INTEGER ticks{};
    ticks.LowPart = ft.dwLowDateTime;
    ticks.HighPart = ft.dwHighDateTime;
    seconds = static_cast<long long>(ticks.QuadPart / kTicksPerSecond) - kSeconds1601To1970;
    return true;
}

// The rules of the system's zone for `year`.
bool zone(WORD year, TIME_ZONE_INFORMATION &z)
{
    return GetTimeZoneInformationForYear(year, nullptr, &z) != 0;
}

} // namespace

long long utc_seconds(std::tm t)
{
    const long long month = t.tm_mon % 12 < 0 ? t.tm_mon % 12 + 12 : t.tm_mon % 12;
    const long long year = t.tm_year + 1900LL + (t.tm_mon - month) / 12;
    const long long days = days_from_civil(year, month + 1, 1) + t.tm_mday - 1;
    return days * kSecondsPerDay + t.tm_hour * 3600LL + t.tm_min * 60LL + t.tm_sec;
}

long long local_seconds(std::tm t)
{
    // The fields carried over as for UTC, then read as the zone's local time.
    SYSTEMTIME local{}, utc{};
    TIME_ZONE_INFORMATION z{};
    long long seconds = -1;
    if (!to_system_time(utc_seconds(t), local) || !zone(local.wYear, z) ||
        !TzSpecificLocalTimeToSystemTime(&z, &local, &utc) || !from_system_time(utc, seconds))
        return -1;
    return seconds;
}

void broken_down(long long seconds, bool utc, std::tm &t, long long &east)
{
    SYSTEMTIME inUtc{}, local{};
    TIME_ZONE_INFORMATION z{};
    long long localSeconds = seconds;
    t = std::tm{};
    east = 0;
    if (!to_system_time(seconds, inUtc))
        return;
    if (utc) {
        t = tm_of(inUtc);
        return;
    }
    if (!zone(inUtc.wYear, z) || !SystemTimeToTzSpecificLocalTime(&z, &inUtc, &local) ||
        !from_system_time(local, localSeconds))
        return;
    t = tm_of(local);
    east = localSeconds - seconds;
}

} // namespace when
