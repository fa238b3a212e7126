// zone.h over the C library: timegm, mktime, gmtime_r and localtime_r (TZ).
#include "zone.h"

namespace when {

long long utc_seconds(std::tm t)
{
    return static_cast<long long>(timegm(&t));
}

long long local_seconds(std::tm t)
{
    t.tm_isdst = -1;
    return static_cast<long long>(std::mktime(&t));
}

void broken_down(long long seconds, bool utc, std::tm &t, long long &east)
{
    const std::time_t s = static_cast<std::time_t>(seconds);
    if (utc)
        gmtime_r(&s, &t);
    else
        localtime_r(&s, &t);
    east = utc ? 0 : t.tm_gmtoff;
}

} // namespace when
