// index.h - reading the arrival-time index that the logger writes beside
// each data file (Dddd/name has its index in Tddd/name; the format is in
// docs/arrival-index.md).
//
// The index is read as a stream, record by record, through a window of
// fixed size, so an index of any length costs the same memory. Nothing in it
// is trusted: a segment whose numbers cannot be right (a varint over 10 bytes
// or beyond 63 bits, bytes the data file does not hold, a time outside
// 1970..2200) is damaged, and reading goes on at the next segment mark. A
// record cut short (the logger stopped, or the disk refused the rest) ends
// its segment without harm.
#pragma once

#include "files.h"

#include <cstdint>
#include <string>

namespace when {

// Bytes [offset, offset + count) of the data file arrived from `first` to
// `last`, in microseconds since 1970 UTC. A record read never has count < 1,
// last < first, a time outside kEarliestUs..kLatestUs, or bytes beyond the
// data file.
struct Burst {
    long long offset;
    long long count;
    long long first;
    long long last;
    bool gap = false; // a gap record: `count` bytes lost at `offset`, none of them in the data file
};

constexpr long long kEarliestUs = 0;                    // 1970-01-01
constexpr long long kLatestUs = 7258118400LL * 1000000; // 2200-01-01

// Why a segment was found damaged. Kept in step with damage_text().
enum class Damage { Overlong, BeyondData, BadTime, NoRecord, BadHeader };
constexpr int kDamageKinds = 5;
const char *damage_text(Damage d);

// What reading an index found, besides its records.
struct IndexSummary {
    long long segments = 0;   // segment marks read
    long long unsynced = 0;   // version-2 segments begun on an unsynchronised clock
    long long firstUnsyncedOffset = -1; // the data offset the first of them began at
    long long records = 0;
    long long torn = 0;       // records cut short (a stop, a refused write)
    long long damaged[kDamageKinds] = {};
    long long damagedTotal() const;
};

class IndexReader {
public:
    // Reads the first `length` bytes of the index `fd` for a data file of
    // `dataSize` bytes. Neither descriptor is closed.
    IndexReader(int fd, long long length, long long dataSize);
    explicit IndexReader(const Recording &r) : IndexReader(r.indexFd, r.indexLength, r.size) {}

    // Whether the index begins with a segment mark (an empty one counts as
    // an index with no records).
    bool is_index();
    // The next record in file order into `b`; false when there are no more.
    bool next(Burst &b);
    const IndexSummary &summary() const { return m_summary; }

private:
    enum class Step { Record, SegmentEnd, Torn, Damaged };
    void load(long long at);
    int peek(long long at);
    bool mark_at(long long at);
    long long find_mark(long long from);
    bool begin_segment(long long at);
    int read_varint(long long &at, long long stop, unsigned long long &value);
    Step read_record(Burst &b);
    Step place_record(unsigned long long count, unsigned long long delta, unsigned long long span, Burst &b);
    void damage(Damage d);

    static constexpr long long kWindow = 64 * 1024; // bytes read at once
    int m_fd;
    long long m_length;
    long long m_dataSize;
    char m_window[kWindow];
    long long m_windowAt = 0;
    long long m_windowLength = 0;

    long long m_pos = 0;       // where reading goes on
    bool m_inSegment = false;
    int m_version = 0;
    long long m_offset = 0;    // the data offset of the next record's first byte
    long long m_time = 0;      // the previous record's first
    IndexSummary m_summary;
};

// When byte `offset` (inside the burst) arrived: spread evenly from the
// burst's first arrival to its last.
long long byte_time(const Burst &burst, long long offset);

} // namespace when
