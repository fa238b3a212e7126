#include "index.h"

#include "vorn_utl.h"

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <algorithm>
#include <fstream>
#include <iterator>

namespace when {

namespace {

// Reads an unsigned LEB128 varint at `at`; false when the bytes end first.
bool get_varint(const std::string &bytes, std::size_t &at, unsigned long long &value)
{
    value = 0;
    for (int shift = 0; at < bytes.size() && shift < 64; shift += 7) {
        const unsigned char b = static_cast<unsigned char>(bytes[at++]);
        value |= static_cast<unsigned long long>(b & 0x7F) << shift;
        if ((b & 0x80) == 0)
            return true;
    }
    return false;
}

long long unzigzag(unsigned long long v)
{
    return (v & 1) != 0 ? static_cast<long long>(~(v >> 1)) : static_cast<long long>(v >> 1);
}

} // namespace

std::string index_path(const std::string &given)
{
    char resolved[PATH_MAX];
    const std::string dataPath = realpath(given.c_str(), resolved) != nullptr ? resolved : given;
    const std::size_t slash = dataPath.rfind('/');
    const std::size_t day = slash == std::string::npos ? std::string::npos : dataPath.rfind('/', slash - 1);
    const std::size_t d = day == std::string::npos ? 0 : day + 1;
    if (slash == std::string::npos || dataPath.compare(d, 1, "D") != 0)
        return std::string();
    std::string path = dataPath;
    path[d] = 'T';
    return path;
}

bool read_index(const std::string &dataPath, std::vector<Burst> &bursts, std::string &error)
{
    const std::string path = index_path(dataPath);
    std::ifstream in(path, std::ios::binary);
    if (path.empty() || !in) {
        error = "no index for " + dataPath + (path.empty() ? " (not in a day directory Dddd)" : ": " + path + " cannot be read");
        return false;
    }
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const std::string mark = std::string(1, static_cast<char>(INDEX_SEGMENT_MARK)) + INDEX_MAGIC;
    if (bytes.compare(0, mark.size(), mark) != 0) {
        error = path + " is not an arrival-time index";
        return false;
    }
    // Segment by segment, from one mark to the next: a record cut short where
    // the logger stopped, or where the disk refused the rest, ends its segment.
    for (std::size_t at = 0; at < bytes.size();) {
        const std::size_t next = std::min(bytes.find(mark, at + mark.size()), bytes.size());
        const std::string segment = bytes.substr(at, next - at);
        std::size_t pos = mark.size();
        unsigned long long offset = 0, count = 0, delta = 0, span = 0;
        long long time = 0;
        if (get_varint(segment, pos, offset))
            while (get_varint(segment, pos, count) && get_varint(segment, pos, delta) &&
                   get_varint(segment, pos, span)) {
                time += unzigzag(delta);
                bursts.push_back(Burst{static_cast<long long>(offset), static_cast<long long>(count), time,
                                       time + static_cast<long long>(span)});
                offset += count;
            }
        at = next;
    }
    return true;
}

long long byte_time(const Burst &burst, long long offset)
{
    if (burst.count <= 1)
        return burst.first;
    return burst.first + (burst.last - burst.first) * (offset - burst.offset) / (burst.count - 1);
}

std::string format_time(long long us)
{
    const std::time_t seconds = static_cast<std::time_t>(us / 1000000);
    std::tm t{};
    gmtime_r(&seconds, &t);
    char text[48];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%06lldZ", t.tm_year + 1900, t.tm_mon + 1,
                  t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec, us % 1000000);
    return text;
}

bool parse_time(const std::string &text, long long &us)
{
    double seconds = 0;
    int used = 0;
    if (!text.empty() && text[0] == '@') {
        if (std::sscanf(text.c_str() + 1, "%lf%n", &seconds, &used) != 1 || text[1 + used] != '\0')
            return false;
        us = static_cast<long long>(seconds * 1e6 + (seconds < 0 ? -0.5 : 0.5));
        return true;
    }
    std::tm t{};
    char sep = 0;
    if (std::sscanf(text.c_str(), "%4d-%2d-%2d%c%2d:%2d:%lf%n", &t.tm_year, &t.tm_mon, &t.tm_mday, &sep,
                    &t.tm_hour, &t.tm_min, &seconds, &used) != 7 ||
        (sep != 'T' && sep != ' ') || (text[used] != '\0' && std::strcmp(text.c_str() + used, "Z") != 0))
        return false;
    t.tm_year -= 1900;
    t.tm_mon -= 1;
    const long long whole = static_cast<long long>(timegm(&t));
    us = whole * 1000000 + static_cast<long long>(seconds * 1e6 + 0.5);
    return true;
}

} // namespace when
