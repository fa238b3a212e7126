#include "times.h"

#include "zone.h"

#include <cctype>
#include <cstdio>
#include <ctime>

namespace when {

namespace {

constexpr long long kUsPerSecond = 1000000;
constexpr long long kMaxSeconds = 100000000000LL; // year 5138: beyond any index

// Reads exactly `digits` decimal digits at `at`.
bool fixed(const char *&at, int digits, int &value)
{
    value = 0;
    for (int i = 0; i < digits; ++i, ++at) {
        if (!std::isdigit(static_cast<unsigned char>(*at)))
            return false;
        value = value * 10 + (*at - '0');
    }
    return true;
}

// Reads ".ddd" (any number of digits, the first six counted) as microseconds.
void fraction(const char *&at, long long &us)
{
    us = 0;
    if (*at != '.')
        return;
    long long scale = 100000;
    for (++at; std::isdigit(static_cast<unsigned char>(*at)); ++at, scale /= 10)
        us += (*at - '0') * scale;
}

bool parse_epoch(const char *at, long long &us)
{
    const bool negative = *at == '-';
    at += negative ? 1 : 0;
    long long seconds = 0;
    const char *start = at;
    for (; std::isdigit(static_cast<unsigned char>(*at)) && seconds < kMaxSeconds; ++at)
        seconds = seconds * 10 + (*at - '0');
    long long part = 0;
    fraction(at, part);
    if (at == start || *at != '\0' || seconds >= kMaxSeconds)
        return false;
    us = (negative ? -1 : 1) * (seconds * kUsPerSecond + part);
    return true;
}

// Reads "Z", "+hh:mm", "-hh:mm" (or without the colon) into seconds east of
// UTC; `local` when there is nothing.
bool parse_zone(const char *at, bool &local, long long &east)
{
    local = *at == '\0';
    east = 0;
    if (local || (at[0] == 'Z' && at[1] == '\0'))
        return true;
    if (*at != '+' && *at != '-')
        return false;
    const int sign = *at++ == '+' ? 1 : -1;
    int hours = 0, minutes = 0;
    if (!fixed(at, 2, hours) || (*at == ':' && *++at == '\0') || !fixed(at, 2, minutes) || *at != '\0' ||
        hours > 23 || minutes > 59)
        return false;
    east = sign * (hours * 3600LL + minutes * 60LL);
    return true;
}

int days_in(int year, int month)
{
    static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    return month == 2 && leap ? 29 : days[month - 1];
}

// The local time in `t` (a 60th second aside) as seconds since 1970, when
// the system places it there exactly: not a time the clocks skipped when
// they went forward, nor one the system cannot place at all.
bool local_exactly(const std::tm &t, long long &seconds)
{
    std::tm back{};
    long long east = 0;
    seconds = local_seconds(t);
    broken_down(seconds, false, back, east);
    return back.tm_year == t.tm_year && back.tm_mon == t.tm_mon && back.tm_mday == t.tm_mday &&
           back.tm_hour == t.tm_hour && back.tm_min == t.tm_min && back.tm_sec == t.tm_sec;
}

} // namespace

bool parse_time(const std::string &text, long long &us)
{
    const char *at = text.c_str();
    if (*at == '@')
        return parse_epoch(at + 1, us);
    std::tm t{};
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
    if (!fixed(at, 4, year) || *at++ != '-' || !fixed(at, 2, month) || *at++ != '-' || !fixed(at, 2, day) ||
        (*at != 'T' && *at != ' ') || !fixed(++at, 2, hour) || *at++ != ':' || !fixed(at, 2, minute))
        return false;
    if (*at == ':' && !fixed(++at, 2, second))
        return false;
    long long part = 0, east = 0;
    bool local = false;
    fraction(at, part);
    if (!parse_zone(at, local, east) || month < 1 || month > 12 || day < 1 || day > days_in(year, month) ||
        hour > 23 || minute > 59 || second > 60)
        return false;
    t.tm_year = year - 1900;
    t.tm_mon = month - 1;
    t.tm_mday = day;
    t.tm_hour = hour;
    t.tm_min = minute;
    // A leap second is the second after :59, wherever the zone puts :59.
    t.tm_sec = second == 60 ? 59 : second;
    long long seconds = 0;
    if (local && !local_exactly(t, seconds))
        return false;
    if (!local)
        seconds = utc_seconds(t) - east;
    us = (seconds + (second == 60 ? 1 : 0)) * kUsPerSecond + part;
    return true;
}

std::string format_time(long long us, bool utc)
{
    long long seconds = us / kUsPerSecond, part = us % kUsPerSecond;
    if (part < 0) {
        part += kUsPerSecond;
        --seconds;
    }
    std::tm t{};
    long long east = 0;
    broken_down(seconds, utc, t, east);
    char zone[32] = "Z";
    if (!utc) {
        const long long minutes = (east < 0 ? -east : east) / 60;
        std::snprintf(zone, sizeof zone, "%c%02lld:%02lld", east < 0 ? '-' : '+', minutes / 60, minutes % 60);
    }
    char text[64];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%06lld%s", t.tm_year + 1900, t.tm_mon + 1,
                  t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec, part, zone);
    return text;
}

} // namespace when
