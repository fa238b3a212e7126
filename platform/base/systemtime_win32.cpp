#include "systemtime_win32.h"

namespace {

int day_of_year(int year, int month, int day)
{
    static const int before[12] = {0, 31, 59, 90, 120, 151, 181, 212, 243, 273, 304, 334};
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    return before[month - 1] + day - 1 + (leap && month > 2 ? 1 : 0);
}

} // namespace

std::tm tm_of(const SYSTEMTIME &st)
{
    std::tm t{};
    t.tm_year = st.wYear - 1900;
    t.tm_mon = st.wMonth - 1;
    t.tm_mday = st.wDay;
    t.tm_hour = st.wHour;
    t.tm_min = st.wMinute;
    t.tm_sec = st.wSecond;
    t.tm_wday = st.wDayOfWeek;
    t.tm_yday = day_of_year(st.wYear, st.wMonth, st.wDay);
    return t;
}
