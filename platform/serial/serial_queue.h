// serial_queue.h - what waits of a port's bytes: a circular buffer of bytes
// in arrival order (the queue), the backlog behind it in chunks taken from a
// budget all ports share, and beside them the marks of when they arrived.
//
// A port's Marks hold one mark per read from the device, and one per gap
// (bytes read and not kept), in stream order, so that the marks of any
// number of the oldest bytes can be taken with them. No locking here: the
// port's owner holds the serial lock.
#pragma once

#include "engine.h"

#include <cstring>

namespace serial {

// Bytes in arrival order in a circular buffer.
struct Ring {
    unsigned char *data = nullptr;
    int size = 0;
    int head = 0;  // index of the oldest byte
    int count = 0; // bytes held

    int room() const { return size - count; }
    // The free stretch after the newest byte, up to the end of the buffer.
    unsigned char *tail_span(int &length) const
    {
        const int tail = (head + count) % size;
        length = tail >= head && count < size ? size - tail : head - tail;
        return data + tail;
    }
    // Moves up to max of the oldest bytes to out; returns how many.
    int take(unsigned char *out, int max)
    {
        const int n = max < count ? max : count;
        const int first = n < size - head ? n : size - head;
        std::memcpy(out, data + head, static_cast<std::size_t>(first));
        std::memcpy(out + first, data, static_cast<std::size_t>(n - first));
        head = (head + n) % size;
        count -= n;
        if (count == 0)
            head = 0;
        return n;
    }
    void clear()
    {
        head = 0;
        count = 0;
    }
};

// The bytes all ports' backlogs may hold together, in chunks; guarded by
// the serial lock.
struct Budget {
    long long limit = COM_BACKLOG_BUDGET_DEFAULT;
    long long used = 0; // bytes of the chunks allocated
};

// A backlog's piece: 64 KiB, so that a budget of 1 MiB is still 16 of them
// and one of 64 MiB costs a thousand allocations while it fills.
enum { CHUNK_BYTES = 64 * 1024 };
struct Chunk {
    Chunk *next = nullptr;
    int head = 0;  // index of the oldest byte
    int count = 0; // bytes from head on; the chunk fills from 0 to its end
    unsigned char data[CHUNK_BYTES];
};

// Bytes in arrival order behind a full queue: chunks allocated from the
// budget as bytes come, and given back as soon as they are emptied.
struct Backlog {
    Chunk *first = nullptr;
    Chunk *last = nullptr;
    long long count = 0; // bytes held

    // The free stretch after the newest byte, a chunk more from the budget
    // if need be; null when the budget is spent.
    unsigned char *tail_span(Budget &budget, int &length);
    // The length bytes just put at tail_span are held.
    void added(int length);
    // Moves up to max of the oldest bytes to out; returns how many.
    int take(unsigned char *out, int max, Budget &budget);
    void clear(Budget &budget);
};

// The arrival marks of the bytes queued, and the gaps among them, oldest
// first. Bytes after a gap once the ring is all but full cannot be marked
// apart from it: they are not kept, but join the gap (takes_bytes).
struct Marks {
    ComArrival ring[COM_ARRIVALS_MAX];
    int head = 0;
    int count = 0;

    ComArrival &newest() { return ring[(head + count - 1) % COM_ARRIVALS_MAX]; }
    const ComArrival &newest() const { return ring[(head + count - 1) % COM_ARRIVALS_MAX]; }
    // Whether bytes read now can be marked: a mark of their own, or joined to
    // the newest read when the ring is all but full (the last place is a gap's).
    bool takes_bytes() const { return count < COM_ARRIVALS_MAX - 1 || newest().gap == 0; }
    void add(int bytes, long long when)
    {
        if (count >= COM_ARRIVALS_MAX - 1) { // the newest reads become one mark
            newest().count += bytes;
            newest().last = when;
            return;
        }
        push(ComArrival{bytes, when, when, 0});
    }
    // Bytes read at `when` and not kept: the newest gap grows, or one begins.
    void add_gap(int bytes, long long when)
    {
        const bool grows = count > 0 && newest().gap != 0 && newest().count <= 0x7FFFFFFF - bytes;
        if (!grows && count < COM_ARRIVALS_MAX)
            return push(ComArrival{bytes, when, when, 1});
        // At 2 GiB a gap (or a ring full of them) stays at its size: the
        // port's count of bytes dropped still holds every byte.
        ComArrival &gap = newest();
        gap.count = gap.count <= 0x7FFFFFFF - bytes ? gap.count + bytes : 0x7FFFFFFF;
        gap.last = when;
    }
    // Moves the marks of the oldest `bytes` bytes to out (splitting a mark
    // that only partly goes), with the gaps among them and right after
    // them; returns how many marks went.
    int take(int bytes, ComArrival *out)
    {
        int n = 0;
        while (count > 0 && (bytes > 0 || ring[head].gap != 0)) {
            ComArrival &oldest = ring[head];
            const int part = oldest.gap != 0 || bytes >= oldest.count ? oldest.count : bytes;
            out[n++] = ComArrival{part, oldest.first, oldest.last, oldest.gap};
            bytes -= oldest.gap != 0 ? 0 : part;
            oldest.count -= part;
            if (oldest.count == 0) {
                head = (head + 1) % COM_ARRIVALS_MAX;
                --count;
            }
        }
        return n;
    }
    void clear()
    {
        head = 0;
        count = 0;
    }

private:
    void push(const ComArrival &mark)
    {
        ring[(head + count) % COM_ARRIVALS_MAX] = mark;
        ++count;
    }
};

} // namespace serial
