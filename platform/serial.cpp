// Serial ports: one input queue per open port, filled by a reader thread.
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
#include "engine_seams.h"

#include "clock.h"
#include "liberr.h"
#include "port_map.h"
#include "serial_backend.h"

#include <algorithm>
#include <chrono>
#include <ctime>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>

namespace {

constexpr int kReopenIntervalMs = 1000;

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

struct Port {
    bool open = false;
    bool gone = false;     // device hung up; fd closed, reopen pending
    // What GetComStatus tells; times on monotonic_seconds().
    long long received = 0;  // bytes since the open
    double lastByteAt = 0;   // the open's time until a byte comes
    double goneAt = 0;
    int openResult = 0;      // of the last OpenComConfig
    int fd = -1;
    unsigned generation = 0; // changes at every open and close
    serialdev::Settings settings;
    double timeout = 10.0;   // seconds a ComRd waits for missing bytes
    Ring queue;              // what GetInQLen reports; data is `storage`
    Ring backlog;            // behind a full queue; data allocated when first needed
    unsigned char storage[COM_QUEUE_MAX];
    Marks marks;             // when the queued bytes arrived
    ComArrival taken[COM_ARRIVALS_MAX]; // the marks of the latest ComRd
    int takenCount = 0;
    std::string path;
    std::mutex opening;      // held across a device open; taken before g_mutex
    std::string identity;    // of the device opened, "" when the system tells none
    std::string refused;     // the reopen thread's own: the device it last left alone
};

std::mutex g_mutex;
std::condition_variable g_arrived; // bytes arrived, or a port changed state
Port g_ports[COM_PORTS + 1];
std::condition_variable g_stopping; // the process is ending
std::thread g_reader;
std::thread g_reopener;
bool g_stop = false;

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

long long now_us()
{
    timespec t{};
    clock_gettime(CLOCK_REALTIME, &t);
    return static_cast<long long>(t.tv_sec) * 1000000 + t.tv_nsec / 1000;
}

int queued(const Port &p)
{
    return p.queue.count + p.backlog.count;
}

// Both the queue and the backlog are full: the reader leaves the device alone.
bool full(const Port &p)
{
    return p.queue.room() == 0 && p.backlog.count == COM_BACKLOG_MAX;
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
        p.marks.add(static_cast<int>(n), now_us());
        p.received += n;
        p.lastByteAt = monotonic_seconds();
    }
    return true;
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
    int fds[COM_PORTS];
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

// Tries once to open a departed device again; called, and returns, with lock
// held. The port's turn to open is taken first, so an OpenComConfig of the
// same port never runs meanwhile.
void try_reopen(Port &p, std::unique_lock<std::mutex> &lock)
{
    lock.unlock();
    std::lock_guard<std::mutex> opening(p.opening);
    lock.lock();
    if (!p.open || !p.gone) // the program closed or opened it while we waited our turn
        return;
    const std::string path = p.path;
    const std::string identity = p.identity;
    const serialdev::Settings settings = p.settings;
    const unsigned generation = p.generation;
    lock.unlock();
    const int fd = same_device(path, identity, p.refused) ? serialdev::open(path.c_str(), settings) : -1;
    lock.lock();
    if (fd < 0)
        return;
    // Closed by the program meanwhile: this descriptor is not wanted.
    if (!p.open || !p.gone || p.generation != generation) {
        serialdev::close(fd);
        return;
    }
    p.fd = fd;
    p.gone = false;
    ++p.generation;
    serialdev::wake();
}

// Opens again, once a second, the devices that went away. Opening a device
// can take seconds (a USB adapter that half answers), so it happens here,
// never on the reader thread and never under the queues' lock.
void reopen_loop()
{
    std::unique_lock<std::mutex> lock(g_mutex);
    while (!g_stop) {
        g_stopping.wait_for(lock, std::chrono::milliseconds(kReopenIntervalMs), [] { return g_stop; });
        for (int i = 1; i <= COM_PORTS && !g_stop; ++i) {
            if (g_ports[i].open && g_ports[i].gone)
                try_reopen(g_ports[i], lock);
        }
    }
}

// Stops the threads when the process ends, so none outlives the queues.
struct ThreadShutdown {
    ~ThreadShutdown()
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
} g_threadShutdown;

void start_threads_locked()
{
    if (!g_reader.joinable())
        g_reader = std::thread(reader_loop);
    if (!g_reopener.joinable())
        g_reopener = std::thread(reopen_loop);
}

void close_locked(Port &p)
{
    if (p.fd >= 0)
        serialdev::close(p.fd);
    p.fd = -1;
    p.open = false;
    p.gone = false;
    ++p.generation;
    clear_queue(p);
}

// A successful open: the operator's figures start afresh.
void start_counting(Port &p)
{
    p.openResult = 0;
    p.received = 0;
    p.lastByteAt = monotonic_seconds();
}

// Whole seconds from `since` to `now`; a moment later than now (the reader
// stamped it meanwhile) counts as now.
long seconds_between(double since, double now)
{
    return now > since ? static_cast<long>(now - since) : 0;
}

// The open port, or a ComError through the caller's reporting.
int check_open(int port, const char *operation)
{
    if (!valid_port(port))
        return lib_fail(operation, port_name(port), COM_ERR_BAD_PORT, ComErrorText(COM_ERR_BAD_PORT));
    if (!g_ports[port].open)
        return lib_fail(operation, port_name(port), COM_ERR_NOT_OPEN, ComErrorText(COM_ERR_NOT_OPEN));
    return 0;
}

// Applies changed settings to an open port (flow control, rates).
int reconfigure(int port, const char *operation, void (*change)(serialdev::Settings &, int), int value)
{
    std::lock_guard<std::mutex> lock(g_mutex);
    const int check = check_open(port, operation);
    if (check != 0)
        return check;
    Port &p = g_ports[port];
    serialdev::Settings s = p.settings;
    change(s, value);
    const int result = p.gone ? 0 : serialdev::apply(p.fd, s);
    if (result != 0)
        return lib_fail(operation, port_name(port), result, ComErrorText(result));
    p.settings = s;
    return 0;
}

} // namespace

const char *ComErrorText(int code)
{
    switch (code) {
    case 0: return "no error";
    case COM_ERR_SYSTEM: return "unexpected system error";
    case COM_ERR_BAD_PORT: return "port number out of range";
    case COM_ERR_NOT_OPEN: return "port not open";
    case COM_ERR_NO_DEVICE: return "no such device";
    case COM_ERR_PERMISSION: return "permission denied";
    case COM_ERR_BUSY: return "port in use by another program";
    case COM_ERR_NOT_SERIAL: return "not a serial device";
    case COM_ERR_BAD_SETTING: return "setting not supported";
    case COM_ERR_DEVICE_GONE: return "device gone";
    case COM_ERR_OTHER_DEVICE: return "another device under the port's name";
    }
    return "unknown error";
}

int OpenComConfig(int port, const char *deviceName, long baud, int parity, int dataBits,
                  int stopBits, int inputQueueSize, int /*outputQueueSize: no writes are queued*/)
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

    Port &p = g_ports[port];
    // The reopen thread's open of this port, if one is under way, ends first.
    std::lock_guard<std::mutex> opening(p.opening);
    std::unique_lock<std::mutex> lock(g_mutex);
    close_locked(p);
    lock.unlock();
    serialdev::wake(); // the reader lets go of the device it was waiting on
    // Opening a device can take a moment; the reader goes on meanwhile.
    const int fd = path.empty() ? COM_ERR_NO_DEVICE : serialdev::open(path.c_str(), s);
    if (fd < 0) {
        lock.lock();
        p.openResult = fd;
        lock.unlock();
        const std::string text = std::string(ComErrorText(fd)) + ": " + (path.empty() ? "none" : path);
        return lib_fail(operation, port_name(port), fd, text.c_str());
    }
    serialdev::flush_input(fd); // what the device sent before the program asked for it
    const std::string identity = serialdev::identity(path.c_str());
    lock.lock();
    p.fd = fd;
    p.open = true;
    p.gone = false;
    ++p.generation;
    p.settings = s;
    start_counting(p);
    p.path = path;
    p.identity = identity;
    p.timeout = 10.0;
    clear_queue(p);
    p.queue.data = p.storage;
    p.queue.size = inputQueueSize <= 0 || inputQueueSize > COM_QUEUE_MAX ? COM_QUEUE_MAX : inputQueueSize;
    start_threads_locked();
    lock.unlock();
    serialdev::wake();
    lib_ok(port_name(port));
    return 0;
}

int OpenCom(int port, const char *deviceName)
{
    return OpenComConfig(port, deviceName, 9600, 0, 8, 1, COM_QUEUE_MAX, 512);
}

int CloseCom(int port)
{
    std::lock_guard<std::mutex> lock(g_mutex);
    const int check = check_open(port, "CloseCom");
    if (check != 0)
        return check;
    close_locked(g_ports[port]);
    g_arrived.notify_all();
    serialdev::wake(); // the reader lets go of the device it was waiting on
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
    std::lock_guard<std::mutex> lock(g_mutex);
    const int check = check_open(port, "SetComTime");
    if (check != 0)
        return check;
    g_ports[port].timeout = seconds > 0 ? seconds : 0.0;
    return 0;
}

int FlushInQ(int port)
{
    {
        std::lock_guard<std::mutex> lock(g_mutex);
        const int check = check_open(port, "FlushInQ");
        if (check != 0)
            return check;
        Port &p = g_ports[port];
        if (!p.gone)
            serialdev::flush_input(p.fd);
        clear_queue(p);
    }
    serialdev::wake(); // the port may have been left out of the wait while full
    return 0;
}

int GetComStatus(int port, ComStatus *status)
{
    if (!valid_port(port) || status == nullptr)
        return COM_ERR_BAD_PORT;
    const double now = monotonic_seconds();
    std::lock_guard<std::mutex> lock(g_mutex);
    const Port &p = g_ports[port];
    status->open = p.open ? 1 : 0;
    status->gone = p.open && p.gone ? 1 : 0;
    status->gone_seconds = status->gone != 0 ? seconds_between(p.goneAt, now) : 0;
    status->bytes = p.received;
    status->idle_seconds = p.open ? seconds_between(p.lastByteAt, now) : 0;
    status->open_result = p.openResult;
    return 0;
}

int GetInQLen(int port)
{
    std::lock_guard<std::mutex> lock(g_mutex);
    const int check = check_open(port, "GetInQLen");
    if (check != 0)
        return check;
    const Port &p = g_ports[port];
    if (p.gone && queued(p) == 0)
        return lib_fail("GetInQLen", port_name(port), COM_ERR_DEVICE_GONE,
                        ComErrorText(COM_ERR_DEVICE_GONE));
    return p.queue.count;
}

int ComRd(int port, char *buffer, int count)
{
    std::unique_lock<std::mutex> lock(g_mutex);
    const int check = check_open(port, "ComRd");
    if (check != 0)
        return check;
    if (buffer == nullptr || count < 0)
        return lib_fail("ComRd", port_name(port), COM_ERR_SYSTEM, "invalid argument");
    Port &p = g_ports[port];
    p.takenCount = 0;
    const unsigned generation = p.generation;
    const auto deadline = std::chrono::steady_clock::now() +
                          std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                              std::chrono::duration<double>(p.timeout));
    // Wait for the missing bytes, unless the port closes or hangs up meanwhile.
    g_arrived.wait_until(lock, deadline, [&] {
        return queued(p) >= count || !p.open || p.gone || p.generation != generation;
    });
    if (!p.open)
        return lib_fail("ComRd", port_name(port), COM_ERR_NOT_OPEN, ComErrorText(COM_ERR_NOT_OPEN));
    if (p.gone && queued(p) == 0 && count > 0)
        return lib_fail("ComRd", port_name(port), COM_ERR_DEVICE_GONE, ComErrorText(COM_ERR_DEVICE_GONE));
    const bool wasFull = full(p);
    auto *out = reinterpret_cast<unsigned char *>(buffer);
    int n = 0;
    while (n < count && p.queue.count > 0) {
        n += p.queue.take(out + n, count - n);
        advance_backlog(p);
    }
    p.takenCount = p.marks.take(n, p.taken);
    lock.unlock();
    if (wasFull && n > 0)
        serialdev::wake(); // room again: take the device's bytes once more
    return n;
}

int ComRdArrivals(int port, ComArrival *arrivals, int max)
{
    std::lock_guard<std::mutex> lock(g_mutex);
    const int check = check_open(port, "ComRdArrivals");
    if (check != 0)
        return check;
    if (arrivals == nullptr || max < 1)
        return lib_fail("ComRdArrivals", port_name(port), COM_ERR_SYSTEM, "invalid argument");
    const Port &p = g_ports[port];
    const int n = p.takenCount < max ? p.takenCount : max;
    std::copy(p.taken, p.taken + n, arrivals);
    for (int i = n; i < p.takenCount; ++i) { // more than max: the rest join the last
        arrivals[n - 1].count += p.taken[i].count;
        arrivals[n - 1].last = p.taken[i].last;
    }
    return n;
}

void SeamReloadPortMap()
{
    port_map_forget();
}

std::string SeamPortPath(int port)
{
    return port_map_resolve(port, "");
}
