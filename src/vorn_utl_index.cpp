// The arrival-time index beside the data files: when each burst of a port's
// bytes arrived, written after the bytes, in the same tick. Its format is in
// vorn_utl.h.
#include "vorn_utl.h"

#include "engine.h"
#include "run_state.h"

#include <cstdio>
#include <cstring>

// Where the next record's first time is counted from, per port: the
// previous record's first time, 0 at the start of a segment.
static long long index_time[PORT_SLOTS];
// An index set aside as stale takes the first free name "<index>.stale-N",
// N up to this: far more than a data file's name recurs in a lifetime.
enum { INDEX_STALE_MAX = 999 };
// The index each port opened last ("../T045/04500065.C03" and its zero), so
// that one it began itself in this run is never taken for stale.
enum { INDEX_NAME_LEN = 32 };
static char index_opened[PORT_SLOTS][INDEX_NAME_LEN];
// One tick's records of one port: at most one per arrival mark.
static unsigned char index_buf[COM_ARRIVALS_MAX * INDEX_RECORD_MAX];

static unsigned char *put_varint(unsigned char *out, unsigned long long value)
{
    do {
        *out = static_cast<unsigned char>(value & 0x7F);
        value >>= 7;
        if (value != 0)
            *out |= 0x80;
        ++out;
    } while (value != 0);
    return out;
}

// 0, -1, 1, -2, ... as 0, 1, 2, 3, ...
static unsigned long long zigzag(long long value)
{
    const unsigned long long bits = static_cast<unsigned long long>(value);
    return value < 0 ? ~(bits << 1) : bits << 1;
}

// Appends to the port's index; 1 when it took everything. An index that
// takes less is closed, so that no record follows a torn one (a reader finds
// the next segment's mark), and it refused: the arrival times of `covers`
// bytes of data are lost.
static int index_write(int port, const unsigned char *bytes, long n, long long covers)
{
    if (RT_WriteFile(index_handle[port], reinterpret_cast<const char *>(bytes), static_cast<int>(n)) == n)
        return 1;
    file_refused(port, REFUSED_INDEX, covers);
    close_index_file(port);
    return 0;
}

// A segment whose records follow from the data file's present end, noting
// whether the clock they are read from is kept synchronised.
static void start_segment(int port)
{
    unsigned char header[INDEX_HEADER_MAX];
    header[0] = INDEX_SEGMENT_MARK;
    std::memcpy(header + 1, INDEX_MAGIC, INDEX_MAGIC_LEN);
    unsigned char *end = put_varint(header + 1 + INDEX_MAGIC_LEN, static_cast<unsigned long long>(data_length[port]));
    end = put_varint(end, ClockSynchronised() != 0 ? INDEX_FLAG_CLOCK_SYNCHRONISED : 0);
    index_time[port] = 0;
    index_write(port, header, end - header, 0);
}

// Gives a stale index the first free name "<name>.stale-N". 1 when done.
static int set_aside(const char *name)
{
    char stale[PATH_LEN];
    for (int n = 1; n <= INDEX_STALE_MAX; ++n) {
        if (std::snprintf(stale, sizeof stale, "%s.stale-%d", name, n) >= static_cast<int>(sizeof stale))
            return 0;
        const int renamed = RT_RenameFile(name, stale);
        if (renamed != RENAME_EXISTS)
            return renamed == 0;
    }
    return 0;
}

// Opens the index named for the port's data file. An index that holds
// bytes while the data file is new (empty), and that this run did not begin,
// tells of an earlier data file of that name, since archived or removed: its
// times are not this file's, so it is set aside and a fresh one begun.
// NO_HANDLE when it cannot be.
static int open_index_named(int port, const char *name)
{
    const int handle = RT_OpenFile(name, DATA_FILE_ACCESS, DATA_FILE_ACTION, DATA_FILE_TYPE);
    const int ours = std::strcmp(index_opened[port], name) == 0;
    if (std::strlen(name) < sizeof index_opened[port])
        std::strcpy(index_opened[port], name);
    if (handle == NO_HANDLE || ours || data_length[port] != 0 || RT_FileLength(handle) <= 0)
        return handle;
    RT_CloseFile(handle);
    if (!set_aside(name))
        return NO_HANDLE;
    return RT_OpenFile(name, DATA_FILE_ACCESS, DATA_FILE_ACTION, DATA_FILE_TYPE);
}

void open_index_file(int port)
{
    char dir[PATH_LEN], name[PATH_LEN];
    std::snprintf(dir, sizeof dir, "../T%.3s", data_dir + 1);
    const int made = MakeDir(dir);
    data_length[port] = RT_FileLength(file_handle[port]);
    index_handle[port] = NO_HANDLE;
    if ((made == 0 || made == MAKEDIR_EXISTS) && data_length[port] >= 0 &&
        std::snprintf(name, sizeof name, "%s/%s", dir, file_name[port]) < static_cast<int>(sizeof name))
        index_handle[port] = open_index_named(port, name);
    if (index_handle[port] == NO_HANDLE) {
        file_refused(port, REFUSED_INDEX, 0);
        return;
    }
    start_segment(port);
}

void close_index_file(int port)
{
    if (index_handle[port] != NO_HANDLE)
        RT_CloseFile(index_handle[port]);
    index_handle[port] = NO_HANDLE;
}

// A burst's bytes, or a gap's missing bytes, doubled with the gap bit
// beside them. Both times are stored one more than they are, so that no byte
// of a record is ever 0: every 0 byte of an index begins a segment's mark.
static unsigned char *put_record(unsigned char *out, int port, const ComArrival &burst)
{
    const unsigned long long count = static_cast<unsigned long long>(burst.count);
    out = put_varint(out, 2 * count + (burst.gap != 0 ? INDEX_GAP_BIT : 0));
    out = put_varint(out, zigzag(burst.first - index_time[port]) + 1);
    out = put_varint(out, static_cast<unsigned long long>(burst.last - burst.first) + 1);
    index_time[port] = burst.first;
    return out;
}

// Whether a read belongs to the burst before it: it returned no earlier than
// the burst's last read and not more than the burst gap after it. A read
// from before (the clock was set back meanwhile) or long after starts a
// burst of its own, so that a burst never ends before it begins.
static int joins_burst(const ComArrival &burst, const ComArrival &mark)
{
    return burst.count > 0 && mark.first >= burst.last && mark.first - burst.last <= INDEX_BURST_GAP_US;
}

// Merges the marks of the `written` bytes into bursts and puts their records
// into index_buf, with a gap record for each gap mark that lies within them
// or right after them; returns the end. `uncovered` is left with the bytes
// that the marks do not account for.
static unsigned char *put_records(int port, const ComArrival *arrivals, int count, int written, int *uncovered)
{
    unsigned char *out = index_buf;
    ComArrival burst = {0, 0, 0};
    *uncovered = written;
    for (int i = 0; i < count; ++i) {
        ComArrival mark = arrivals[i];
        if (mark.last < mark.first) // reads joined across a step of the clock
            mark.last = mark.first;
        if (mark.gap != 0) {
            if (burst.count > 0)
                out = put_record(out, port, burst);
            out = put_record(out, port, mark);
            burst = ComArrival{0, 0, 0};
            continue;
        }
        if (*uncovered == 0) // beyond what the data file took
            break;
        if (mark.count > *uncovered) // the data file took only part of the bytes
            mark.count = *uncovered;
        *uncovered -= mark.count;
        if (joins_burst(burst, mark)) {
            burst.count += mark.count;
            burst.last = mark.last;
            continue;
        }
        if (burst.count > 0)
            out = put_record(out, port, burst);
        burst = mark;
    }
    if (burst.count > 0)
        out = put_record(out, port, burst);
    return out;
}

void index_bytes(int port, const ComArrival *arrivals, int count, int written)
{
    data_length[port] += written;
    if (index_handle[port] == NO_HANDLE) {
        if (index_enabled != 0)
            file_refused(port, REFUSED_INDEX, written);
        return;
    }
    int uncovered = 0;
    const unsigned char *end = put_records(port, arrivals, count, written, &uncovered);
    if (!index_write(port, index_buf, end - index_buf, written))
        return;
    file_took(port, REFUSED_INDEX);
    if (uncovered > 0)
        start_segment(port);
}
