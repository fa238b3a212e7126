// line.h - one simulated instrument on its line.
//
// The instrument's serial device is the slave side of a pseudo-terminal,
// named by the symbolic link <dir>/sim/COMn, so that it can vanish and come
// back (as a new terminal) under the same name, as a USB adapter does when it
// is pulled out and plugged in again. The terminal is raw: it passes every
// byte value unaltered.
//
// The stream goes onto the line at rate/10 bytes a second (8N1 framing). A
// write never blocks: bytes the terminal has no room for, because nobody
// reads it, are refused and dropped, as a real line loses them, and counted.
// The simulator keeps a descriptor of the device open itself: to see whether
// a reader has taken everything, and to take back what nobody read when the
// device vanishes or the simulator stops.
//
// Counts, over the stream's bytes in order (an offset is a count of bytes
// since the stream began):
//   sent         bytes the device took
//   refused      bytes the device had no room for; the stream went on past
//                them, so sent + refused is the offset the line has reached
//   undelivered  sent bytes that nobody had read when the device vanished or
//                closed; they are lost too
//   intact_from  the offset just after the last refused byte: from there on
//                the line has carried the stream without a gap
//   unplugged_at the offsets at which the device vanished; it comes back at
//                the same offset, for a silent instrument sends nothing
#pragma once

#include "streams.h"

#include <climits>
#include <cstdint>
#include <cstdio>

namespace sim {

// Times the same instrument may be unplugged in one run.
enum { MAX_UNPLUGS = 16 };

enum class LineState {
    talking, // the stream goes onto the line
    hushed,  // silent, waiting for a reader to take what is on the line
    gone,    // the device and its link are not there
};

struct Line {
    int port = 0; // 1..18
    int rate = 0; // baud
    Stream stream;
    char link[PATH_MAX] = {};
    int master = -1;
    int device = -1; // the simulator's own descriptor of the device
    LineState state = LineState::gone;
    double hushedAt = 0.0;
    double lineFree = 0.0; // when the line has finished the bytes put on it so far
    double nextDue = 0.0;  // when the next message is due (kinds with a period)
    unsigned char queue[MESSAGE_MAX] = {};
    std::size_t head = 0, queued = 0; // the rest of the message being sent
    std::uint64_t sent = 0, refused = 0, undelivered = 0, intactFrom = 0;
    std::uint64_t unpluggedAt[MAX_UNPLUGS] = {};
    int unplugs = 0;
};

// Makes a fresh device for the line and points its link at it; the line
// talks from `now` (seconds on the simulator's clock). Returns 0, or the
// errno of what failed (the line is then gone).
int line_plug_in(Line &line, double now);

// Puts onto the line what it can carry by `now`, making messages as they fall
// due; `wall` is the time they describe. Does nothing unless talking.
void line_talk(Line &line, double now, const timespec &wall);

// Silences the line; what is left of the message being sent waits.
void line_hush(Line &line, double now);

// Whether a hushed line is ready to go: its reader has taken every byte, or
// it has waited long enough (half a second).
bool line_drained(const Line &line, double now);

// Takes back the bytes nobody read (counting them undelivered), removes the
// link and closes the device, so that a reader sees it hang up. `unplugged`
// records the offset, for a device that is to come back.
void line_unplug(Line &line, bool unplugged);

// The line's report: one line of text, see main.cpp.
void line_report(const Line &line, std::FILE *out);

} // namespace sim
