// Recordings for the tests of vornacq4-when: a data file in D045 and the
// index beside it in T045, encoded here in any version of the format
// (docs/arrival-index.md), so that every case of it can be had.
#pragma once

#include "test_support.h"

#include <cstdint>
#include <string>
#include <sys/stat.h>
#include <vector>

using testing_support::TempDir;
using testing_support::write_file;

constexpr long long kSecond = 1000000;
constexpr long long k1403 = 1707919380LL * kSecond; // 2024-02-14T14:03:00Z

// The index as the logger writes it.
inline std::string varint(std::uint64_t v)
{
    std::string s;
    for (; v >= 0x80; v >>= 7)
        s += static_cast<char>((v & 0x7F) | 0x80);
    return s + static_cast<char>(v);
}

struct Rec {
    long long count, first, last;
    bool gap = false; // version 3: `count` bytes missing here
};

inline std::string segment(int version, long long offset, const std::vector<Rec> &records, int flags = 1)
{
    std::string s = std::string(1, '\0') + "VTI" + static_cast<char>('0' + version) + varint(offset);
    if (version >= 2)
        s += varint(flags);
    const std::uint64_t plus = version >= 2 ? 1 : 0;
    long long previous = 0;
    for (const Rec &r : records) {
        const long long d = r.first - previous;
        const std::uint64_t zigzag = d >= 0 ? static_cast<std::uint64_t>(d) << 1 : (static_cast<std::uint64_t>(-d) << 1) - 1;
        const std::uint64_t count = version >= 3 ? 2 * static_cast<std::uint64_t>(r.count) + (r.gap ? 1 : 0) : r.count;
        s += varint(count) + varint(zigzag + plus) + varint(static_cast<std::uint64_t>(r.last - r.first) + plus);
        previous = r.first;
    }
    return s;
}

inline bool has(const std::string &text, const std::string &part)
{
    return text.find(part) != std::string::npos;
}

// A data file D045/name in the directory, and its index T045/name.
inline std::string recording(const TempDir &dir, const std::string &name, const std::string &data, const std::string &index)
{
    mkdir(dir.file("D045").c_str(), 0755);
    mkdir(dir.file("T045").c_str(), 0755);
    write_file(dir.file("T045/" + name), index);
    write_file(dir.file("D045/" + name), data);
    return dir.file("D045/" + name);
}
