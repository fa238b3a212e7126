// times.h - reading and writing the times vornacq4-when deals in.
//
// A time is given as ISO 8601, 2024-02-14T15:03:00[.fraction] (a space may
// stand for the T, the seconds may be left out), followed by Z for UTC, by
// +hh:mm or -hh:mm for that offset from UTC, or by nothing for local time
// (TZ; on Windows the zone the system is set to), as the data files are
// named; or as @seconds[.fraction] since 1970.
// In the hour repeated when the clocks go back a local time is ambiguous:
// give its offset to be exact.
#pragma once

#include <string>

namespace when {

// Reads a time into microseconds since 1970 UTC. False when it is none of
// the above, a field is out of its range, the day is past its month's end
// (2024-02-31), or a local time is one the local clocks never showed (the
// hour skipped when they go forward) or the system cannot place.
bool parse_time(const std::string &text, long long &us);

// "2024-02-14T15:03:00.123456+01:00" in local time, or with `utc`
// "2024-02-14T14:03:00.123456Z".
std::string format_time(long long us, bool utc);

} // namespace when
