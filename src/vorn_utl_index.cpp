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
// One tick's records of one port (at most one per arrival mark), or a
// segment's header.
enum { INDEX_RECORD_MAX = 5 + 10 + 10, INDEX_HEADER_MAX = 1 + INDEX_MAGIC_LEN + 10 };
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

static unsigned char *put_zigzag(unsigned char *out, long long value)
{
    const unsigned long long bits = static_cast<unsigned long long>(value);
    return put_varint(out, value < 0 ? ~(bits << 1) : bits << 1);
}

// Appends to the port's index; an index that takes less is closed, so that
// no record follows a torn one (a reader finds the next segment's mark).
static void index_write(int port, const unsigned char *bytes, long n)
{
    if (RT_WriteFile(index_handle[port], reinterpret_cast<const char *>(bytes), static_cast<int>(n)) != n)
        close_index_file(port);
}

static void start_segment(int port)
{
    unsigned char header[INDEX_HEADER_MAX];
    header[0] = INDEX_SEGMENT_MARK;
    std::memcpy(header + 1, INDEX_MAGIC, INDEX_MAGIC_LEN);
    const unsigned char *end = put_varint(header + 1 + INDEX_MAGIC_LEN, static_cast<unsigned long long>(data_length[port]));
    index_time[port] = 0;
    index_write(port, header, end - header);
}

void open_index_file(int port)
{
    char dir[PATH_LEN], name[PATH_LEN];
    std::snprintf(dir, sizeof dir, "../T%.3s", data_dir + 1);
    const int made = MakeDir(dir);
    data_length[port] = RT_FileLength(file_handle[port]);
    index_handle[port] = NO_HANDLE;
    if ((made != 0 && made != MAKEDIR_EXISTS) || data_length[port] < 0 ||
        std::snprintf(name, sizeof name, "%s/%s", dir, file_name[port]) >= static_cast<int>(sizeof name))
        return;
    index_handle[port] = RT_OpenFile(name, DATA_FILE_ACCESS, DATA_FILE_ACTION, DATA_FILE_TYPE);
    if (index_handle[port] != NO_HANDLE)
        start_segment(port);
}

void close_index_file(int port)
{
    if (index_handle[port] != NO_HANDLE)
        RT_CloseFile(index_handle[port]);
    index_handle[port] = NO_HANDLE;
}

static unsigned char *put_record(unsigned char *out, int port, const ComArrival &burst)
{
    out = put_varint(out, static_cast<unsigned long long>(burst.count));
    out = put_zigzag(out, burst.first - index_time[port]);
    out = put_varint(out, static_cast<unsigned long long>(burst.last - burst.first));
    index_time[port] = burst.first;
    return out;
}

void index_bytes(int port, const ComArrival *arrivals, int count, int written)
{
    data_length[port] += written;
    if (index_handle[port] == NO_HANDLE)
        return;
    unsigned char *out = index_buf;
    ComArrival burst = {0, 0, 0};
    int uncovered = written;
    for (int i = 0; i < count && uncovered > 0; ++i) {
        ComArrival mark = arrivals[i];
        if (mark.count > uncovered) // the data file took only part of the bytes
            mark.count = uncovered;
        uncovered -= mark.count;
        if (burst.count > 0 && mark.first - burst.last <= INDEX_BURST_GAP_US) {
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
    index_write(port, index_buf, out - index_buf);
    if (uncovered > 0 && index_handle[port] != NO_HANDLE)
        start_segment(port);
}
