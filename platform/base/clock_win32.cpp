// The system's clock on Windows: the precise system time (UTC, in 100 ns
// steps since 1601), the local time Windows keeps (its zone and its rules;
// the C library's would follow a TZ variable, which Windows itself ignores),
// and whether a time service disciplines the clock.
#include "clock.h"

#include "engine.h"
#include "systemtime_win32.h"

#include <ctime>
#include <windows.h>

namespace {

// 100 ns steps from 1601-01-01 to 1970-01-01.
constexpr long long kUnixEpochIn100ns = 116444736000000000LL;

} // namespace

std::tm system_local_time()
{
    SYSTEMTIME t{};
    GetLocalTime(&t);
    TIME_ZONE_INFORMATION zone{};
    std::tm local = tm_of(t);
    local.tm_isdst = GetTimeZoneInformation(&zone) == TIME_ZONE_ID_DAYLIGHT ? 1 : 0;
    return local;
}

long long system_wall_clock_us()
{
    FILETIME ft{};
    GetSystemTimePreciseAsFileTime(&ft);
    const long long steps = (static_cast<long long>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
    return (steps - kUnixEpochIn100ns) / 10;
}

// Windows tells no more than whether the system adjusts the clock's rate
// itself, which it does while its time service keeps the clock in step.
int ClockSynchronised(void)
{
    DWORD adjustment = 0, increment = 0;
    BOOL disabled = TRUE;
    if (!GetSystemTimeAdjustment(&adjustment, &increment, &disabled))
        return 0;
    return disabled ? 0 : 1;
}
