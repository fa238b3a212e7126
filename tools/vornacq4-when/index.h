// index.h - reading the arrival-time index that the logger writes beside
// each data file: Dddd/name has its index in Tddd/name (the format is in
// src/vorn_utl.h and docs/arrival-index.md).
#pragma once

#include <string>
#include <vector>

namespace when {

// Bytes [offset, offset + count) of the data file arrived from `first` to
// `last`, in microseconds since 1970 UTC.
struct Burst {
    long long offset;
    long long count;
    long long first;
    long long last;
};

// The index's path for a data file's: the day directory's D becomes T.
std::string index_path(const std::string &dataPath);

// Reads every record of the data file's index in file order. A record cut
// short at the end (the logger stopped while writing it) is left out.
// Returns false, with a message in `error`, when the index cannot be read or
// is not one.
bool read_index(const std::string &dataPath, std::vector<Burst> &bursts, std::string &error);

// When byte `offset` (inside the burst) arrived: spread evenly from the
// burst's first arrival to its last.
long long byte_time(const Burst &burst, long long offset);

// "2024-02-14T10:00:01.234567Z"
std::string format_time(long long us);
// Reads "2024-02-14T10:00:01[.fraction][Z]" (UTC; a space may stand for the
// T) or "@seconds[.fraction]" since 1970. False when it is neither.
bool parse_time(const std::string &text, long long &us);

} // namespace when
