#include "index_records.h"

#include "ptykit/station.h"

#include <gtest/gtest.h>

namespace testing_support {

namespace {

bool get_varint(const std::string &bytes, std::size_t &at, unsigned long long &value)
{
    value = 0;
    for (int shift = 0; at < bytes.size() && shift < 70; shift += 7) {
        const unsigned char b = static_cast<unsigned char>(bytes[at++]);
        value |= static_cast<unsigned long long>(b & 0x7F) << shift;
        if ((b & 0x80) == 0)
            return true;
    }
    return false;
}


} // namespace

std::vector<Segment> read_segments(const std::string &bytes)
{
    const std::string mark = std::string(1, '\0') + "VTI";
    std::vector<Segment> segments;
    std::size_t at = 0;
    while (at < bytes.size()) {
        unsigned long long offset = 0, flags = 0, count = 0, delta = 0, span = 0;
        EXPECT_EQ(bytes.compare(at, mark.size(), mark), 0) << "no segment mark at " << at;
        const char version = at + mark.size() < bytes.size() ? bytes[at + mark.size()] : '?';
        EXPECT_TRUE(version == '2' || version == '3') << "a segment of version " << version << " at " << at;
        at += mark.size() + 1;
        if (!get_varint(bytes, at, offset) || !get_varint(bytes, at, flags))
            ADD_FAILURE() << "segment header cut short";
        Segment segment{static_cast<long long>(offset), flags, {}};
        long long time = 0;
        while (at < bytes.size() && bytes[at] != '\0') {
            const bool whole = get_varint(bytes, at, count) && get_varint(bytes, at, delta) && get_varint(bytes, at, span);
            if (!whole || delta == 0 || span == 0) {
                ADD_FAILURE() << "record cut short or holding a 0 time field before " << at;
                return segments;
            }
            const unsigned long long zigzag = delta - 1;
            time += (zigzag & 1) != 0 ? -static_cast<long long>(zigzag >> 1) - 1 : static_cast<long long>(zigzag >> 1);
            const bool gap = version == '3' && (count & 1) != 0;
            if (version == '3')
                count >>= 1;
            segment.records.push_back(Record{static_cast<long long>(offset), static_cast<long long>(count), time,
                                             time + static_cast<long long>(span - 1), gap});
            offset += gap ? 0 : count;
        }
        segments.push_back(segment);
    }
    return segments;
}

std::string index_path(const std::string &dataPath)
{
    std::string index = dataPath;
    const std::size_t day = dataPath.rfind('/');
    if (day != std::string::npos && day >= 4)
        index[day - 4] = 'T';
    return index;
}

std::vector<Record> consistent_records(const std::string &dataPath)
{
    std::vector<Record> records;
    long long end = 0;
    for (const Segment &segment : read_segments(ptykit::read_file(index_path(dataPath)))) {
        EXPECT_EQ(segment.offset, end) << "a segment begins where the data covered so far end";
        EXPECT_EQ(segment.flags & ~1ULL, 0u);
        for (const Record &r : segment.records) {
            EXPECT_GE(r.last, r.first) << "record at " << r.offset;
            records.push_back(r);
            end = r.offset + r.bytes;
        }
    }
    EXPECT_EQ(end, static_cast<long long>(ptykit::read_file(dataPath).size())) << dataPath;
    return records;
}

} // namespace testing_support
