// Serial ports: one input queue per open port, filled by a reader thread.
// This file holds the serial operations of engine.h; the threads and the
// state they share are in serial_threads.cpp and serial_port.h, the queue's
// buffers in serial_queue.h, the operating system's side in serial_posix.cpp
// and serial_identity.cpp.
//
// The reader thread waits on every open port at once and moves what arrives
// into the port's queue at once, so the kernel's small terminal buffer never
// overflows while the user-interface thread is busy (a tick, a popup, a slow
// repaint). Nothing queued is ever dropped, reordered or altered.
//
// The queue the program sees holds at most the size it asked for (32000
// bytes). A tick that comes late (a popup waiting for the operator, a slow
// disk) must not cost bytes, and at 921600 baud 32000 bytes are a third of a
// second: so when the queue is full, the reader goes on into a backlog of up
// to COM_BACKLOG_MAX bytes behind it, allocated only then, and every read hands
// backlog bytes forward into the queue in arrival order. Only when both are
// full does the reader stop taking the port's bytes, as a full hardware queue
// does.
//
// Each read from a device is marked with the wall-clock time it returned and
// its byte count; the marks wait beside the bytes in a ring of their own and
// are handed over with them, so the program learns when its bytes arrived.
//
// A device that hangs up (a USB adapter pulled out) keeps what it queued; the
// reader closes it, and a second thread tries to open the same path again
// once a second with the same settings, so a logger left alone survives an
// adapter being replugged; what the device sends from its return on is kept,
// none of it flushed. Opens of one port, the program's and that thread's,
// take turns, so neither ever finds the device busy because of the other.
// Where the system tells one device from another, only the same device is
// taken back: another adapter plugged in meanwhile may have been given the name.
#include "engine.h"

#include "base/clock.h"
#include "base/liberr.h"
#include "net/feeds.h"
#include "port_map.h"
#include "serial_port.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <mutex>
#include <string>

using namespace serial;

namespace {

void close_locked(Port &p)
{
    if (p.fd >= 0)
        serialdev::close(p.fd);
    p.fd = -1;
    p.open = false;
    p.gone = false;
    p.pending = false;
    ++p.generation;
    clear_queue(p);
}

// Whole seconds from `since` to `now`; a moment later than now (the reader
// stamped it meanwhile) counts as now.
long seconds_between(double since, double now)
{
    return now > since ? static_cast<long>(now - since) : 0;
}

// 0 for an open port, else its ComError; with g_mutex held. Nothing is
// reported here: a line on stderr may wait on whoever reads it, and the
// reader thread must never wait for the lock meanwhile.
int open_check(int port)
{
    if (!valid_port(port))
        return COM_ERR_BAD_PORT;
    return g_ports[port].open ? 0 : COM_ERR_NOT_OPEN;
}

// What an operation met, reported once the lock is let go: code itself.
int report(const char *operation, int port, int code, const char *text = nullptr)
{
    if (code == 0)
        return 0;
    return lib_fail(operation, port_name(port), code, text != nullptr ? text : ComErrorText(code));
}

// Forgets what the port's device and queue hold.
void flush_locked(Port &p)
{
    if (!p.gone)
        serialdev::flush_input(p.fd);
    clear_queue(p);
}

// GetInQLen's answer for an open port: the bytes in its queue, or
// COM_ERR_DEVICE_GONE once its departed device's last byte is taken.
int waiting_locked(const Port &p)
{
    return p.gone && queued(p) == 0 ? COM_ERR_DEVICE_GONE : p.queue.count;
}

// ComRd's work on an open port: up to count bytes in arrival order, waiting
// up to the port's time-out for the rest unless it closes or hangs up
// meanwhile; the bytes taken or a ComError. wasFull tells whether the reader
// had left the device alone for want of room.
int take_locked(Port &p, unsigned char *out, int count, std::unique_lock<std::mutex> &lock, bool &wasFull)
{
    p.takenCount = 0;
    const unsigned generation = p.generation;
    const auto deadline = std::chrono::steady_clock::now() +
                          std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                              std::chrono::duration<double>(p.timeout));
    g_arrived.wait_until(lock, deadline, [&] {
        return queued(p) >= count || !p.open || p.gone || p.generation != generation;
    });
    if (!p.open)
        return COM_ERR_NOT_OPEN;
    if (p.gone && queued(p) == 0 && count > 0)
        return COM_ERR_DEVICE_GONE;
    wasFull = full(p);
    int n = 0;
    while (n < count && p.queue.count > 0) {
        n += p.queue.take(out + n, count - n);
        advance_backlog(p);
    }
    p.takenCount = p.marks.take(n, p.taken);
    return n;
}

// Applies changed settings to an open port (flow control, rates).
int reconfigure(int port, const char *operation, void (*change)(serialdev::Settings &, int), int value)
{
    int result = 0;
    {
        std::lock_guard<std::mutex> lock(g_mutex);
        result = open_check(port);
        if (result == 0) {
            Port &p = g_ports[port];
            serialdev::Settings s = p.settings;
            change(s, value);
            result = p.gone ? 0 : serialdev::apply(p.fd, s);
            p.settings = result == 0 ? s : p.settings;
        }
    }
    return report(operation, port, result);
}

} // namespace

// OpenComConfig and OpenComConfigRetry: the port opened, or, when its device
// cannot be opened now and `retry` is set, left pending for the reopen thread.
static int open_port(int port, const char *deviceName, long baud, int parity, int dataBits, int stopBits,
                     int inputQueueSize, bool retry)
{
    const char *operation = "OpenCom";
    if (!valid_port(port))
        return lib_fail(operation, port_name(port), COM_ERR_BAD_PORT, ComErrorText(COM_ERR_BAD_PORT));
    serialdev::Settings s;
    s.baud = baud;
    s.parity = parity;
    s.dataBits = dataBits;
    s.stopBits = stopBits;
    const std::string path = port_map_resolve(port, deviceName);
    const int queueSize = inputQueueSize <= 0 || inputQueueSize > COM_QUEUE_MAX ? COM_QUEUE_MAX : inputQueueSize;

    Port &p = g_ports[port];
    // The reopen thread's open of this port, if one is under way, ends first.
    std::lock_guard<std::mutex> opening(p.opening);
    std::unique_lock<std::mutex> lock(g_mutex);
    close_locked(p);
    lock.unlock();
    serialdev::wake(); // the reader lets go of the device it was waiting on
    // Opening a device can take a moment; the reader goes on meanwhile.
    const serialdev::Handle fd = path.empty() ? COM_ERR_NO_DEVICE : serialdev::open(path.c_str(), s);
    lock.lock();
    if (fd < 0) {
        p.openResult = fd;
        // A device that may yet come: the reopen thread keeps trying (a
        // wrong setting will not come right by itself).
        if (retry && !path.empty() && fd != COM_ERR_BAD_SETTING) {
            p.pending = true;
            p.path = path;
            p.settings = s;
            p.queue.size = queueSize;
            start_threads_locked();
        }
        lock.unlock();
        const std::string text = std::string(ComErrorText(fd)) + ": " + (path.empty() ? "none" : path);
        return lib_fail(operation, port_name(port), fd, text.c_str());
    }
    lock.unlock();
    serialdev::flush_input(fd); // what the device sent before the program asked for it
    const std::string identity = serialdev::identity(path.c_str());
    lock.lock();
    install_locked(p, fd, path, s, queueSize, identity);
    lock.unlock();
    lib_ok(port_name(port));
    return 0;
}

int OpenComConfig(int port, const char *deviceName, long baud, int parity, int dataBits, int stopBits,
                  int inputQueueSize, int /*outputQueueSize: no writes are queued*/)
{
    return open_port(port, deviceName, baud, parity, dataBits, stopBits, inputQueueSize, false);
}

int OpenComConfigRetry(int port, const char *deviceName, long baud, int parity, int dataBits, int stopBits,
                       int inputQueueSize, int /*outputQueueSize: no writes are queued*/)
{
    return open_port(port, deviceName, baud, parity, dataBits, stopBits, inputQueueSize, true);
}

int OpenCom(int port, const char *deviceName)
{
    return OpenComConfig(port, deviceName, 9600, 0, 8, 1, COM_QUEUE_MAX, 512);
}

int CloseCom(int port)
{
    int result = 0;
    {
        std::lock_guard<std::mutex> lock(g_mutex);
        if (valid_port(port))
            g_ports[port].pending = false; // a port still waiting for its device waits no more
        result = open_check(port);
        if (result == 0) {
            close_locked(g_ports[port]);
            g_arrived.notify_all();
        }
    }
    if (result == 0)
        serialdev::wake(); // the reader lets go of the device it was waiting on
    return report("CloseCom", port, result);
}

int StopComInput(void)
{
    stop_threads();
    return 0;
}

int SetXMode(int port, int mode)
{
    return reconfigure(port, "SetXMode", [](serialdev::Settings &s, int v) { s.xonxoff = v != 0; }, mode);
}

int SetCTSMode(int port, int mode)
{
    return reconfigure(port, "SetCTSMode", [](serialdev::Settings &s, int v) { s.rtscts = v != 0; }, mode);
}

int SetComTime(int port, double seconds)
{
    int result = 0;
    {
        std::lock_guard<std::mutex> lock(g_mutex);
        result = open_check(port);
        if (result == 0)
            g_ports[port].timeout = seconds > 0 ? seconds : 0.0;
    }
    return report("SetComTime", port, result);
}

int FlushInQ(int port)
{
    int result = 0;
    {
        std::lock_guard<std::mutex> lock(g_mutex);
        result = open_check(port);
        if (result == 0)
            flush_locked(g_ports[port]);
    }
    if (result == 0)
        serialdev::wake(); // the port may have been left out of the wait while full
    return report("FlushInQ", port, result);
}

int GetComStatus(int port, ComStatus *status)
{
    if (!valid_port(port) || status == nullptr)
        return COM_ERR_BAD_PORT;
    const FeedCounts feeds = feed_counts(port);
    status->feed_servers = feeds.servers;
    status->feed_clients = feeds.clients;
    status->feeds_down = feeds.down;
    const double now = monotonic_seconds();
    std::lock_guard<std::mutex> lock(g_mutex);
    const Port &p = g_ports[port];
    status->open = p.open ? 1 : 0;
    status->gone = p.open && p.gone ? 1 : 0;
    status->gone_seconds = status->gone != 0 ? seconds_between(p.goneAt, now) : 0;
    status->bytes = p.received;
    status->idle_seconds = p.open ? seconds_between(p.lastByteAt, now) : 0;
    status->open_result = p.openResult;
    status->waiting = queued(p);
    status->last_byte_time = p.lastByteTime;
    status->line_counted = p.lineCounted ? 1 : 0;
    std::copy(p.lineErrors, p.lineErrors + COM_LINE_KINDS, status->line_errors);
    return 0;
}

int GetInQLen(int port)
{
    int result = 0;
    {
        std::lock_guard<std::mutex> lock(g_mutex);
        result = open_check(port);
        if (result == 0)
            result = waiting_locked(g_ports[port]);
    }
    return result >= 0 ? result : report("GetInQLen", port, result);
}

int ComRd(int port, char *buffer, int count)
{
    std::unique_lock<std::mutex> lock(g_mutex);
    int result = open_check(port);
    const char *invalid = result == 0 && (buffer == nullptr || count < 0) ? "invalid argument" : nullptr;
    result = invalid != nullptr ? COM_ERR_SYSTEM : result;
    bool wasFull = false;
    if (result == 0)
        result = take_locked(g_ports[port], reinterpret_cast<unsigned char *>(buffer), count, lock, wasFull);
    lock.unlock();
    if (wasFull && result > 0)
        serialdev::wake(); // room again: take the device's bytes once more
    return result >= 0 ? result : report("ComRd", port, result, invalid);
}

int ComRdArrivals(int port, ComArrival *arrivals, int max)
{
    std::unique_lock<std::mutex> lock(g_mutex);
    const int result = open_check(port);
    if (result != 0 || arrivals == nullptr || max < 1) {
        lock.unlock();
        return result != 0 ? report("ComRdArrivals", port, result)
                           : report("ComRdArrivals", port, COM_ERR_SYSTEM, "invalid argument");
    }
    const Port &p = g_ports[port];
    const int n = p.takenCount < max ? p.takenCount : max;
    std::copy(p.taken, p.taken + n, arrivals);
    for (int i = n; i < p.takenCount; ++i) { // more than max: the rest join the last
        arrivals[n - 1].count += p.taken[i].count;
        arrivals[n - 1].last = p.taken[i].last;
    }
    return n;
}
