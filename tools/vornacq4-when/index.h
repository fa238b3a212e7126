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
// its segment without harm. Gap records (version 3) say where bytes are
// missing that the logger read and could not keep.
#pragma once

#include "files.h"

#include <cstdint>
#include <string>

namespace when {

// Bytes [offset, offset + count) of the data file arrived from `first` to
// `last`, in microseconds since 1970 UTC. A record read never has count < 1,
// last < first, a time outside kEarliestUs..kLatestUs, or bytes beyond the
// data file. A gap: `count` bytes arrived from `first` to `last` that the
// logger could not keep; they would have begun at `offset`, where the next
// record's bytes begin: a gap covers no byte of the data file.
struct Burst {
    long long offset;
    long long count;
    long long first;
    long long last;
    bool gap = false;
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
    long long records = 0;    // records of bytes (gaps not counted)
    long long gaps = 0;       // gap records
    long long gapBytes = 0;   // the bytes they say are missing
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
    // The next record or gap in file order into `b`; false when there are no more.
    bool next(Burst &b);
    const IndexSummary &summary() const { return m_at.summary; }

    // For an index still being written: from now on next() stops short of
    // anything the bytes read so far cannot settle (a record or segment mark
    // cut by the end, a segment that may go on), instead of taking it as torn
    // or ended, so that resume() can go on from there.
    void follow() { m_follow = true; }
    // The index has grown to `length` bytes for a data file of `dataSize`
    // (the index's length taken first, as for the constructor): reading goes
    // on where it stopped, with the decoding state it had (segment, offset,
    // previous time), and gives exactly the records a reader of the whole
    // index from its start would give past those already read. False (and
    // nothing changed) when the index is shorter than before: it is not the
    // one read, and is to be read again from its start.
    bool resume(long long length, long long dataSize);

private:
    enum class Step { Record, SegmentEnd, Torn, Damaged };
    void load(long long at);
    int peek(long long at);
    bool mark_at(long long at);
    long long find_mark(long long from);
    bool begin_segment(long long at);
    int read_varint(long long &at, long long stop, unsigned long long &value);
    Step read_record(Burst &b);
    Step place_record(unsigned long long count, unsigned long long delta, unsigned long long span, bool gap,
                      Burst &b);
    void damage(Damage d);
    bool step(Burst &b, bool &found);

    static constexpr long long kWindow = 64 * 1024; // bytes read at once
    int m_fd;
    long long m_length;
    long long m_dataSize;
    char m_window[kWindow];
    long long m_windowAt = 0;
    long long m_windowLength = 0;

    // Where reading stands: all that a step changes, so that one can be undone.
    struct Decoding {
        long long pos = 0;       // where reading goes on
        bool inSegment = false;
        int version = 0;
        long long offset = 0;    // the data offset of the next record's first byte
        long long time = 0;      // the previous record's first
        IndexSummary summary;
    };
    Decoding m_at;
    bool m_follow = false;
    bool m_touchedEnd = false; // the step being taken looked past m_length
};

// When byte `offset` (inside the burst) arrived: spread evenly from the
// burst's first arrival to its last.
long long byte_time(const Burst &burst, long long offset);

} // namespace when
