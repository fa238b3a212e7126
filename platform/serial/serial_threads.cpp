// The serial ports' two threads, and the state they share with the serial
// operations (serial.cpp).
//
// The reader thread waits on every open port at once and moves what arrives
// into the port's queue, or its backlog behind a full queue, marking each read
// with the wall-clock time it returned. The reopen thread opens again, once a
// second, the devices that went away, where the system tells only the same
// device; what a device sends from its return on is kept, none of it flushed.
// The same thread reads, once a second, the line's error counters of every
// open device.
#include "serial_port.h"

#include "base/clock.h"
#include "base/engine_threads.h"
#include "base/liberr.h"
#include "base/thread_name.h"
#include "net/feeds.h"

#include <algorithm>
#include <chrono>
#include <ctime>
#include <thread>

namespace serialdev {

// The one way to the line's counters for both back ends, so that a test's
// counters stand in for either.
std::atomic<LineCountsSource> line_counts_source{system_line_counts};

bool line_counts(Handle device, LineCounts &counts)
{
    return line_counts_source.load()(device, counts);
}

} // namespace serialdev

namespace serial {

std::mutex g_mutex;
std::condition_variable g_arrived;
Port g_ports[COM_PORTS + 1];

namespace {

constexpr int kReopenIntervalMs = 1000;

std::condition_variable g_stopping; // the process is ending
std::thread g_reader;
std::thread g_reopener;
bool g_stop = false;

long long now_us()
{
    return wall_clock_us();
}

// Where the next bytes from the device go: the queue while nothing waits
// behind it, else the backlog (allocated now if need be); null when both are full.
Ring *arrival_ring(Port &p)
{
    if (p.backlog.count == 0 && p.queue.room() > 0)
        return &p.queue;
    if (p.backlog.data == nullptr) {
        p.backlog.data = new unsigned char[COM_BACKLOG_MAX];
        p.backlog.size = COM_BACKLOG_MAX;
    }
    return p.backlog.room() > 0 ? &p.backlog : nullptr;
}

// Moves what the device has waiting into the queue and the backlog, as far
// as they have room. Returns false when the device hung up.
bool fill_queue(Port &p)
{
    for (Ring *ring = arrival_ring(p); ring != nullptr; ring = arrival_ring(p)) {
        int room = 0;
        unsigned char *tail = ring->tail_span(room);
        const long n = serialdev::read_some(p.fd, tail, static_cast<std::size_t>(room));
        if (n == COM_ERR_DEVICE_GONE)
            return false;
        if (n <= 0)
            return true;
        ring->count += static_cast<int>(n);
        feeds_publish(static_cast<int>(&p - g_ports), tail, static_cast<std::size_t>(n));
        const long long at = now_us();
        p.marks.add(static_cast<int>(n), at);
        p.lastByteTime = static_cast<double>(at) / 1e6;
        p.received += n;
        p.lastByteAt = monotonic_seconds();
    }
    return true;
}

void mark_gone(Port &p)
{
    serialdev::close(p.fd);
    p.fd = -1;
    p.gone = true;
    p.goneAt = monotonic_seconds();
    ++p.generation;
}

void reader_loop()
{
    threadname::name_this_thread(threadname::kSerialReader);
    serialdev::Handle fds[COM_PORTS];
    int ports[COM_PORTS];
    unsigned generations[COM_PORTS];
    serialdev::Readiness ready[COM_PORTS];
    for (;;) {
        int count = 0;
        {
            std::lock_guard<std::mutex> lock(g_mutex);
            if (g_stop)
                return;
            for (int i = 1; i <= COM_PORTS; ++i) {
                Port &p = g_ports[i];
                if (!p.open || p.gone || full(p))
                    continue;
                fds[count] = p.fd;
                ports[count] = i;
                generations[count] = p.generation;
                ++count;
            }
        }
        serialdev::wait(fds, ready, count, -1);

        std::lock_guard<std::mutex> lock(g_mutex);
        bool changed = false;
        for (int k = 0; k < count; ++k) {
            Port &p = g_ports[ports[k]];
            // The port may have been closed or reopened while we waited.
            if (ready[k] == serialdev::Idle || !p.open || p.generation != generations[k])
                continue;
            const int before = queued(p);
            if (!fill_queue(p) || (ready[k] == serialdev::HungUp && queued(p) == before))
                mark_gone(p);
            changed = true;
        }
        if (changed)
            g_arrived.notify_all();
    }
}

// Whether the device now at path may be taken in the place of the one that
// went away: the same device, where the system tells (identity), or any where
// it does not. Another device is reported once, when it turns up.
bool same_device(const std::string &path, const std::string &identity, std::string &refused)
{
    if (identity.empty())
        return true;
    const std::string found = serialdev::identity(path.c_str());
    if (found == identity) {
        refused.clear();
        return true;
    }
    if (!found.empty() && found != refused) {
        refused = found;
        const std::string text = "not the device that went away (" + identity + ") but " + found + "; left alone";
        lib_ok(path.c_str()); // a line for each device that turns up
        lib_fail("OpenCom", path.c_str(), COM_ERR_OTHER_DEVICE, text.c_str());
    }
    return false;
}

// The port waits for its device: it went away (open, gone), or it could not
// be opened yet (pending).
bool waiting_for_device(const Port &p)
{
    return p.open ? p.gone : p.pending;
}

// Tries once to open the device of a port that waits for it; called, and
// returns, with lock held. The port's turn to open is taken first, so an
// OpenComConfig of the same port never runs meanwhile.
void try_reopen(Port &p, std::unique_lock<std::mutex> &lock)
{
    lock.unlock();
    std::lock_guard<std::mutex> opening(p.opening);
    lock.lock();
    if (!waiting_for_device(p)) // the program closed or opened it while we waited our turn
        return;
    const bool first = p.pending;
    const std::string path = p.path;
    const std::string identity = first ? std::string() : p.identity; // a first open takes any device
    const serialdev::Settings settings = p.settings;
    const unsigned generation = p.generation;
    lock.unlock();
    const serialdev::Handle fd = same_device(path, identity, p.refused) ? serialdev::open(path.c_str(), settings) : -1;
    const std::string found = fd >= 0 && first ? serialdev::identity(path.c_str()) : std::string();
    lock.lock();
    if (fd < 0)
        return;
    // Closed or opened by the program meanwhile: this descriptor is not wanted.
    if (!waiting_for_device(p) || p.generation != generation) {
        serialdev::close(fd);
        return;
    }
    if (first) {
        install_locked(p, fd, path, settings, p.queue.size, found);
        lock.unlock(); // the reports' table is not taken under the queues' lock
        lib_ok(port_name(static_cast<int>(&p - g_ports)));
        lock.lock();
        return;
    }
    p.fd = fd;
    p.gone = false;
    ++p.generation;
    line_base_locked(p);
    serialdev::wake();
}

// Adds what the driver counted since the last reading to the port's line
// errors. A smaller count than before is a count begun afresh.
void count_line_errors_locked(Port &p)
{
    serialdev::LineCounts now;
    if (!serialdev::line_counts(p.fd, now))
        return;
    p.lineCounted = true;
    for (int k = 0; k < COM_LINE_KINDS && p.lineBaseSet; ++k) {
        const long long before = p.lineBase.kind[k];
        p.lineErrors[k] += now.kind[k] >= before ? now.kind[k] - before : now.kind[k];
    }
    p.lineBase = now;
    p.lineBaseSet = true;
}

// Opens, once a second, the devices that went away and those that could not
// be opened yet. Opening a device can take seconds (a USB adapter that half
// answers), so it happens here, never on the reader thread, never on the
// user-interface thread and never under the queues' lock. Then it reads the
// line's counters of every open device, which asks the driver alone and so
// may be done under the lock.
void reopen_loop()
{
    threadname::name_this_thread(threadname::kSerialReopen);
    std::unique_lock<std::mutex> lock(g_mutex);
    while (!g_stop) {
        g_stopping.wait_for(lock, std::chrono::milliseconds(kReopenIntervalMs), [] { return g_stop; });
        for (int i = 1; i <= COM_PORTS && !g_stop; ++i) {
            if (waiting_for_device(g_ports[i]))
                try_reopen(g_ports[i], lock);
        }
        for (int i = 1; i <= COM_PORTS && !g_stop; ++i) {
            if (g_ports[i].open && !g_ports[i].gone)
                count_line_errors_locked(g_ports[i]);
        }
    }
}

} // namespace

bool valid_port(int port)
{
    return port >= 1 && port <= COM_PORTS;
}

const char *port_name(int port)
{
    static const char *const names[COM_PORTS + 1] = {
        "COM?",  "COM1",  "COM2",  "COM3",  "COM4",  "COM5",  "COM6",  "COM7",  "COM8",  "COM9",
        "COM10", "COM11", "COM12", "COM13", "COM14", "COM15", "COM16", "COM17", "COM18"};
    static_assert(COM_PORTS == 18, "one name per port");
    return valid_port(port) ? names[port] : names[0];
}

int queued(const Port &p)
{
    return p.queue.count + p.backlog.count;
}

bool full(const Port &p)
{
    return p.queue.room() == 0 && p.backlog.count == COM_BACKLOG_MAX;
}

// A backlog exists only while a tick is late: its memory goes once it is empty.
void release_backlog(Port &p)
{
    delete[] p.backlog.data;
    p.backlog = Ring{};
}

void clear_queue(Port &p)
{
    p.queue.clear();
    release_backlog(p);
    p.marks.clear();
    p.takenCount = 0;
}

// Hands backlog bytes forward into the room a read made in the queue.
void advance_backlog(Port &p)
{
    while (p.backlog.count > 0 && p.queue.room() > 0) {
        int room = 0;
        unsigned char *tail = p.queue.tail_span(room);
        p.queue.count += p.backlog.take(tail, room);
    }
    if (p.backlog.count == 0)
        release_backlog(p);
}

void install_locked(Port &p, serialdev::Handle fd, const std::string &path, const serialdev::Settings &settings,
                    int queueSize, const std::string &identity)
{
    clear_queue(p);
    p.fd = fd;
    p.open = true;
    p.gone = false;
    p.pending = false;
    ++p.generation;
    p.settings = settings;
    p.path = path;
    p.identity = identity;
    p.timeout = 10.0;
    p.queue.data = p.storage;
    p.queue.size = queueSize;
    // The operator's figures start afresh.
    p.openResult = 0;
    p.received = 0;
    p.lastByteAt = monotonic_seconds();
    std::fill(p.lineErrors, p.lineErrors + COM_LINE_KINDS, 0LL);
    p.lineCounted = false;
    line_base_locked(p);
    start_threads_locked();
    serialdev::wake();
}

void line_base_locked(Port &p)
{
    p.lineBaseSet = serialdev::line_counts(p.fd, p.lineBase);
    p.lineCounted = p.lineCounted || p.lineBaseSet;
}

void stop_threads()
{
    {
        std::lock_guard<std::mutex> lock(g_mutex);
        g_stop = true;
    }
    g_stopping.notify_all();
    serialdev::wake();
    if (g_reader.joinable())
        g_reader.join();
    if (g_reopener.joinable())
        g_reopener.join();
}

void start_threads_locked()
{
    if (g_reader.joinable())
        return;
    g_reader = std::thread(reader_loop);
    g_reopener = std::thread(reopen_loop);
    engine_thread_started();
}

} // namespace serial
