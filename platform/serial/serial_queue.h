// serial_queue.h - what waits of a port's bytes: a circular buffer of bytes
// in arrival order, and beside it the marks of when they arrived.
//
// A port's queue and its backlog are Rings; its Marks hold one mark per read
// from the device, in the same order, so that the marks of any number of the
// oldest bytes can be taken with them. No locking here: the port's owner
// holds the serial lock.
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

// The arrival marks of the bytes queued, oldest first.
struct Marks {
    ComArrival ring[COM_ARRIVALS_MAX];
    int head = 0;
    int count = 0;

    ComArrival &newest() { return ring[(head + count - 1) % COM_ARRIVALS_MAX]; }
    void add(int bytes, long long when)
    {
        if (count == COM_ARRIVALS_MAX) { // the newest reads become one mark
            newest().count += bytes;
            newest().last = when;
            return;
        }
        ring[(head + count) % COM_ARRIVALS_MAX] = ComArrival{bytes, when, when};
        ++count;
    }
    // Moves the marks of the oldest `bytes` bytes to out (splitting a mark
    // that only partly goes); returns how many marks went.
    int take(int bytes, ComArrival *out)
    {
        int n = 0;
        while (bytes > 0 && count > 0) {
            ComArrival &oldest = ring[head];
            const int part = bytes < oldest.count ? bytes : oldest.count;
            out[n++] = ComArrival{part, oldest.first, oldest.last};
            bytes -= part;
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
};

} // namespace serial
