// serial_port.h - the state the serial ports share between the engine's
// serial operations (serial.cpp) and its reader and reopen threads
// (serial_threads.cpp). Everything here is guarded by g_mutex, except what a
// comment gives to one thread alone.
#pragma once

#include "engine.h"
#include "serial_backend.h"
#include "serial_queue.h"

#include <condition_variable>
#include <mutex>
#include <string>

namespace serial {

// Bytes lost, or an instrument held back, from its start until a while
// without: one line on stderr as it begins and one as it ends.
struct Episode {
    bool on = false;
    bool said = false;       // its first line was written
    double began = 0;        // when it began
    double latest = 0;       // when it was last seen going on
    long long base = 0;      // the port's dropped count as it began
};

struct Port {
    bool open = false;
    bool gone = false;     // device hung up; fd closed, reopen pending
    bool pending = false;  // not open: its device could not be opened yet; the reopen thread tries
    // What GetComStatus tells; times on monotonic_seconds().
    long long received = 0;  // bytes since the open
    double lastByteAt = 0;   // the open's time until a byte comes
    double lastByteTime = 0; // of the last byte on the wall clock, seconds since 1970; 0 none yet
    double goneAt = 0;
    int openResult = 0;      // of the last OpenComConfig
    serialdev::Handle fd = -1;
    unsigned generation = 0; // changes at every open and close
    serialdev::Settings settings;
    double timeout = 10.0;   // seconds a ComRd waits for missing bytes
    Ring queue;              // what GetInQLen reports; data is `storage`
    Backlog backlog;         // behind a full queue, from g_budget
    unsigned char storage[COM_QUEUE_MAX];
    Marks marks;             // when the queued bytes arrived
    ComArrival taken[COM_ARRIVALS_MAX]; // the marks of the latest ComRd
    int takenCount = 0;
    std::string path;
    std::mutex opening;      // held across a device open; taken before g_mutex
    std::string identity;    // of the device opened, "" when the system tells none
    std::string refused;     // the reopen thread's own: the device it last left alone
    // The line's errors since the open, from the differences between the
    // driver's counters at each reading (lineBase: the latest one, taken
    // afresh from each device opened).
    long long lineErrors[COM_LINE_KINDS] = {};
    bool lineCounted = false;  // the driver answered at least once since the open
    bool lineBaseSet = false;  // lineBase holds a reading of the device open now
    serialdev::LineCounts lineBase;
    // Bytes read and not kept for want of room, since the open, and the
    // episode that counts them (serial_losses.cpp); times on monotonic_seconds().
    long long dropped = 0;
    Episode dropping;
    // A port with flow control is left unread for want of room instead.
    double heldTotal = 0;  // seconds, since the open, but for the present hold
    double holdSince = 0;  // when the present hold began; 0 while read
    Episode held;
};

extern std::mutex g_mutex;
extern std::condition_variable g_arrived; // bytes arrived, or a port changed state
extern Port g_ports[COM_PORTS + 1];
extern Budget g_budget;

bool valid_port(int port);
const char *port_name(int port);
int queued(const Port &p);
// The port's next bytes cannot be kept: the queue is full and the backlog
// has no room left in the budget (or its marks none past a gap).
bool full(const Port &p);
// Flow control holds the instrument back while the port is full: the reader
// leaves the device alone. Without it, the reader reads on and drops.
bool holds_back(const Port &p);
// What the reader found for the port: dropped bytes (reader thread), a port
// held back or read again; and the reports of them, once a second.
void note_dropped_locked(Port &p, long n, long long at);
void note_held_locked(Port &p, bool held);
void report_losses();
// Empties the queue, the backlog and the marks of the port.
void clear_queue(Port &p);
// Hands backlog bytes forward into the room a read made in the queue.
void advance_backlog(Port &p);
// Starts the reader and reopen threads if they do not run yet.
void start_threads_locked();
// Makes fd, just opened at path with the settings, the port's device, with
// an empty queue of queueSize bytes and its figures started afresh.
void install_locked(Port &p, serialdev::Handle fd, const std::string &path, const serialdev::Settings &settings,
                    int queueSize, const std::string &identity);
// Takes a first reading of the line's counters of the device just opened
// (p.fd), from which its errors are counted; with lock held.
void line_base_locked(Port &p);
// Ends the reader and reopen threads for good; the queues keep what they hold.
void stop_threads();

} // namespace serial
