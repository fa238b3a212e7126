// The arrival-time index as this logger writes it (version-3 segments, or
// version 2 as it wrote before), read back strictly for the tests: a segment
// mark where a segment belongs, whole records, no time field stored as 0.
// Anything else fails the test.
#pragma once

#include <string>
#include <vector>

namespace testing_support {

// One record, placed: the offset in the data file of its first byte. A gap
// is where `bytes` missing bytes would have been.
struct Record {
    long long offset, bytes, first, last;
    bool gap = false;
};
struct Segment {
    long long offset;
    unsigned long long flags;
    std::vector<Record> records;
};

std::vector<Segment> read_segments(const std::string &bytes);

// The index beside a data file: ".../Dddd/name" is indexed in ".../Tddd/name".
std::string index_path(const std::string &dataPath);
// Every record of the data file's index, after checking (as failures of the
// test) that its segments account for the data file's bytes in order, each
// from where the one before ended, and that no record ends before it begins.
std::vector<Record> consistent_records(const std::string &dataPath);

} // namespace testing_support
