#include "index.h"

#include "index_format.h"

#include <algorithm>
#include <cstddef>
#include <cstring>

namespace when {

namespace {

// A mark is the mark byte, the magic's family ("VTI") and a version digit.
static_assert(INDEX_MAGIC_LEN == 4, "a mark is 0x00, three letters and a version");
constexpr int kMarkLength = 1 + INDEX_MAGIC_LEN;
constexpr int kMaxVarint = INDEX_VARINT_MAX;
constexpr int kMaxRecord = INDEX_RECORD_MAX;

bool known_version(int c)
{
    return c >= '0' + INDEX_VERSION_OLDEST && c <= '0' + INDEX_VERSION;
}

long long unzigzag(unsigned long long v)
{
    return (v & 1) != 0 ? -static_cast<long long>(v >> 1) - 1 : static_cast<long long>(v >> 1);
}

bool in_time_range(long long t)
{
    return t >= kEarliestUs && t < kLatestUs;
}

// The first `pattern` of `length` bytes in [from, end), or null. Each
// candidate is found by its first byte, a 0, which no version-2 record holds.
const char *find_bytes(const char *from, const char *end, const char *pattern, std::size_t length)
{
    for (const char *at = from; end - at >= static_cast<std::ptrdiff_t>(length); ++at) {
        at = static_cast<const char *>(std::memchr(at, pattern[0], static_cast<std::size_t>(end - at)));
        if (at == nullptr || end - at < static_cast<std::ptrdiff_t>(length))
            return nullptr;
        if (std::memcmp(at, pattern, length) == 0)
            return at;
    }
    return nullptr;
}

} // namespace

const char *damage_text(Damage d)
{
    switch (d) {
    case Damage::Overlong: return "a number longer than 10 bytes or 63 bits";
    case Damage::BeyondData: return "records that claim bytes the data file does not hold";
    case Damage::BadTime: return "times outside 1970..2200";
    case Damage::NoRecord: return "a record of no bytes";
    case Damage::BadHeader: return "a segment mark that begins no segment";
    }
    return "?";
}

long long IndexSummary::damagedTotal() const
{
    long long total = 0;
    for (long long n : damaged)
        total += n;
    return total;
}

IndexReader::IndexReader(int fd, long long length, long long dataSize)
    : m_fd(fd), m_length(length), m_dataSize(dataSize)
{
}

// Reads the window from `at` on. A file that shrank or failed ends there.
void IndexReader::load(long long at)
{
    const long long want = m_length - at < kWindow ? m_length - at : kWindow;
    m_windowAt = at;
    m_windowLength = want > 0 ? read_at(m_fd, at, m_window, want) : 0;
    if (m_windowLength == 0)
        m_length = at;
}

// The byte at `at`, or -1 past the end (noted: what is found there may yet
// change). Moves the window when it must.
int IndexReader::peek(long long at)
{
    if (at >= m_length)
        m_touchedEnd = true;
    if (at < 0 || at >= m_length)
        return -1;
    if (at < m_windowAt || at >= m_windowAt + m_windowLength)
        load(at);
    return at < m_length ? static_cast<unsigned char>(m_window[at - m_windowAt]) : -1;
}

bool IndexReader::mark_at(long long at)
{
    if (peek(at) != INDEX_SEGMENT_MARK)
        return false;
    for (int i = 0; i < INDEX_MAGIC_LEN - 1; ++i)
        if (peek(at + 1 + i) != static_cast<unsigned char>(INDEX_MAGIC[i]))
            return false;
    return known_version(peek(at + INDEX_MAGIC_LEN));
}

// The first mark at or after `from`, or -1. Searches the window for the
// mark's first four bytes, so a long stretch of anything costs no more than
// reading it; a mark across the window's end is found in the next window,
// which overlaps this one by three bytes.
long long IndexReader::find_mark(long long from)
{
    const char family[4] = {INDEX_SEGMENT_MARK, INDEX_MAGIC[0], INDEX_MAGIC[1], INDEX_MAGIC[2]};
    for (long long at = from; peek(at) >= 0;) {
        const long long windowEnd = m_windowAt + m_windowLength;
        const char *base = m_window + (at - m_windowAt);
        const char *hit = find_bytes(base, m_window + (windowEnd - m_windowAt), family, sizeof family);
        if (hit == nullptr) {
            if (windowEnd >= m_length)
                return -1;
            at = std::max(at + 1, windowEnd - static_cast<long long>(sizeof family - 1));
            load(at);
            continue;
        }
        at += hit - base;
        if (mark_at(at))
            return at;
        ++at;
    }
    return -1;
}

bool IndexReader::is_index()
{
    return m_length == 0 || mark_at(0);
}

// Reads a varint at `at`, not at or past `stop`. 0 when read (at moves past
// it), 1 when the bytes end first, 2 when it is over 10 bytes or 63 bits.
int IndexReader::read_varint(long long &at, long long stop, unsigned long long &value)
{
    value = 0;
    for (int i = 0; i < kMaxVarint; ++i) {
        const int b = at + i < stop ? peek(at + i) : -1;
        if (b < 0) {
            m_touchedEnd = m_touchedEnd || at + i >= m_length;
            return 1;
        }
        const unsigned long long bits = static_cast<unsigned long long>(b & 0x7F);
        if (i == kMaxVarint - 1 && bits != 0)
            return 2; // bit 63 or above
        value |= bits << (7 * i);
        if ((b & 0x80) == 0) {
            at += i + 1;
            return 0;
        }
    }
    return 2;
}

void IndexReader::damage(Damage d)
{
    ++m_at.summary.damaged[static_cast<int>(d)];
}

// Reads the segment header at `at` (a mark is there). False when it is torn
// or damaged; the segment is then skipped.
bool IndexReader::begin_segment(long long at)
{
    ++m_at.summary.segments;
    m_at.version = peek(at + INDEX_MAGIC_LEN) - '0';
    long long pos = at + kMarkLength;
    unsigned long long offset = 0, flags = 0;
    const int got = read_varint(pos, m_length, offset);
    const int gotFlags = got != 0 || m_at.version < 2 ? got : read_varint(pos, m_length, flags);
    m_at.pos = pos;
    if (got == 1 || gotFlags == 1) {
        ++m_at.summary.torn;
        m_at.pos = at + 1;
        return false;
    }
    if (got == 2 || gotFlags == 2 || offset > static_cast<unsigned long long>(m_dataSize)) {
        damage(got == 2 || gotFlags == 2 ? Damage::Overlong : Damage::BeyondData);
        m_at.pos = at + 1;
        return false;
    }
    if (m_at.version >= 2 && (flags & 1) == 0 && m_at.summary.unsynced++ == 0)
        m_at.summary.firstUnsyncedOffset = static_cast<long long>(offset);
    m_at.offset = static_cast<long long>(offset);
    m_at.time = 0;
    return true;
}

// Checks a record's numbers and makes it the next burst, or gap.
IndexReader::Step IndexReader::place_record(unsigned long long count, unsigned long long delta,
                                           unsigned long long span, bool gap, Burst &b)
{
    if (count == 0) {
        damage(Damage::NoRecord);
        return Step::Damaged;
    }
    if (!gap && count > static_cast<unsigned long long>(m_dataSize - m_at.offset)) {
        damage(Damage::BeyondData);
        return Step::Damaged;
    }
    // m_at.time is within range and both numbers are below 2^63: no overflow.
    const long long first = m_at.time + unzigzag(delta);
    if (!in_time_range(first) || span >= static_cast<unsigned long long>(kLatestUs) ||
        !in_time_range(first + static_cast<long long>(span))) {
        damage(Damage::BadTime);
        return Step::Damaged;
    }
    b = Burst{m_at.offset, static_cast<long long>(count), first, first + static_cast<long long>(span), gap};
    m_at.time = first;
    if (gap) {
        ++m_at.summary.gaps;
        m_at.summary.gapBytes += b.count;
        return Step::Record;
    }
    m_at.offset += b.count;
    ++m_at.summary.records;
    return Step::Record;
}

// The record at m_at.pos. A version-1 segment runs to the next mark found by
// its pattern; in a later one no record byte is 0, so any 0 ends it.
IndexReader::Step IndexReader::read_record(Burst &b)
{
    const int c = peek(m_at.pos);
    if (c < 0 || c == INDEX_SEGMENT_MARK)
        return Step::SegmentEnd;
    long long stop = m_at.pos + kMaxRecord + 1;
    const long long seen = std::min(stop, m_length); // a byte not yet written ends no record
    if (m_at.version == 1) {
        for (long long at = m_at.pos; at < seen; ++at)
            if (mark_at(at))
                stop = at;
    } else {
        for (long long at = m_at.pos; at < seen; ++at)
            if (peek(at) == INDEX_SEGMENT_MARK)
                stop = at;
    }
    long long at = m_at.pos;
    unsigned long long v[3] = {};
    for (unsigned long long &value : v) {
        const int got = read_varint(at, stop, value);
        if (got == 1)
            return Step::Torn;
        if (got != 0) {
            damage(Damage::Overlong);
            return Step::Damaged;
        }
    }
    m_at.pos = at;
    if (m_at.version >= 3) // the count doubled, its low bit telling a gap
        return place_record(v[0] >> 1, v[1] - 1, v[2] - 1, (v[0] & INDEX_GAP_BIT) != 0, b);
    if (m_at.version == 2)
        return place_record(v[0], v[1] - 1, v[2] - 1, false, b);
    return place_record(v[0], v[1], v[2], false, b);
}

// One step of reading: a segment begun, a record read, or a segment left.
// False when the index ends here; `found` says whether b holds a record.
bool IndexReader::step(Burst &b, bool &found)
{
    found = false;
    if (!m_at.inSegment) {
        const long long at = find_mark(m_at.pos);
        if (at < 0)
            return false;
        m_at.inSegment = begin_segment(at);
        return true;
    }
    const long long start = m_at.pos;
    const Step step = read_record(b);
    if (step == Step::Record)
        return found = true;
    m_at.inSegment = false;
    if (step == Step::SegmentEnd && peek(m_at.pos) == INDEX_SEGMENT_MARK && !mark_at(m_at.pos))
        damage(Damage::BadHeader);
    if (step == Step::Torn)
        ++m_at.summary.torn;
    if (step != Step::SegmentEnd)
        m_at.pos = start + 1;
    return true;
}

// A followed index stops before the first step that looked past its end,
// undoing it, so that the same step is taken again, on more bytes, by resume().
bool IndexReader::next(Burst &b)
{
    for (;;) {
        const Decoding before = m_at;
        m_touchedEnd = false;
        bool found = false;
        const bool more = step(b, found);
        if (m_follow && m_touchedEnd) {
            m_at = before;
            return false;
        }
        if (found)
            return true;
        if (!more)
            return false;
    }
}

bool IndexReader::resume(long long length, long long dataSize)
{
    if (length < m_length)
        return false;
    m_length = length;
    m_dataSize = dataSize;
    return true;
}

long long byte_time(const Burst &burst, long long offset)
{
    if (burst.count <= 1)
        return burst.first;
    const __int128 spread = static_cast<__int128>(burst.last - burst.first) * (offset - burst.offset);
    return burst.first + static_cast<long long>(spread / (burst.count - 1));
}

} // namespace when
