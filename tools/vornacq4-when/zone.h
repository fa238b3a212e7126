// zone.h - the calendar and the local time zone as the system keeps them:
// the one place vornacq4-when asks the system about time. POSIX in
// zone_posix.cpp (TZ and the zone database), Win32 in zone_win32.cpp (the
// zone Windows is set to, with its rules for each year).
#pragma once

#include <ctime>

namespace when {

// Seconds since 1970 UTC of the UTC time in `t`'s year, month, day, hour,
// minute and second; a day past its month's end or a 60th second carries
// over into the next, as timegm does.
long long utc_seconds(std::tm t);

// Seconds since 1970 UTC of the local time in `t` (fields as above), the
// system choosing in the hour repeated when the clocks go back; -1 when the
// system cannot tell, as mktime.
long long local_seconds(std::tm t);

// `seconds` since 1970 as year, month, day, hour, minute and second in `t`,
// in UTC or local time, and how many seconds local time is ahead of UTC then
// in `east` (0 in UTC).
void broken_down(long long seconds, bool utc, std::tm &t, long long &east);

} // namespace when
