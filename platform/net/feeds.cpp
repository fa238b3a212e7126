// The feeds' thread and the rings it serves from (see feeds.h).
//
// The serial reader publishes each read into its port's ring under the
// ring's own lock, held for a copy, and wakes this thread through an
// eventfd. This thread waits in poll() on the wake, the servers, the UDP
// sockets and the clients, and after each wake sends every client what it
// lacks, as far as its socket takes it without waiting.
#include "feeds.h"

#include "base/clock.h"
#include "engine.h"
#include "feed_sockets.h"
#include "network_map.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <poll.h>
#include <sys/eventfd.h>
#include <thread>
#include <unistd.h>
#include <vector>

using net::FeedKind;
using net::FeedSpec;

namespace {

constexpr std::uint64_t kRingBytes = 256 * 1024; // a client's allowance, as docs and messages say
constexpr int kRingArrivals = 4096;              // reads remembered for the datagrams
constexpr std::size_t kDatagramMax = 1472;       // fits an Ethernet frame: never fragmented
constexpr int kMaxClients = 256;
constexpr double kStallSeconds = 30.0;
constexpr int kScratchBytes = 64 * 1024;

// A port's latest bytes, as its reads brought them.
struct Ring {
    std::mutex mutex;
    std::uint64_t head = 0;     // bytes published since the start
    std::uint64_t arrivals = 0; // reads published since the start
    std::uint64_t ends[kRingArrivals]; // where each read's bytes end
    unsigned char data[kRingBytes];
};

struct Feed {
    FeedSpec spec;
    int fd = -1;               // the server's or the UDP socket
    std::uint64_t pos = 0;     // UDP: the next byte to send
    std::uint64_t arrival = 0; // UDP: the read that byte belongs to
    bool blocked = false;      // UDP: the socket refused; waiting for room
    double acceptAgainAt = 0;  // TCP: out of descriptors; tried again then
};

struct Client {
    int fd = -1;
    int feed = -1;
    std::uint64_t pos = 0;
    double blockedSince = 0; // its socket has refused bytes since then; 0 while it takes them
    char peer[64] = "";
};

struct PortCounts {
    std::atomic<int> servers{0}, clients{0}, down{0};
    std::atomic<long long> sent{0}, dropped{0};
};

// Set before the thread starts and the reader first publishes; never freed,
// so a reader still running while the process ends finds it there.
std::atomic<Ring *> g_rings[COM_PORTS + 1];
PortCounts g_counts[COM_PORTS + 1];

// The feeds' thread's own, once it runs.
Feed g_feeds[net::kMaxFeeds];
int g_feedCount = 0;
Client g_clients[kMaxClients];
unsigned char g_scratch[kScratchBytes];

int g_wake = -1;
std::atomic<bool> g_wakePending{false};
std::atomic<bool> g_stop{false};
std::once_flag g_started;
std::thread g_thread;

void wake_thread()
{
    const std::uint64_t one = 1;
    if (g_wake >= 0 && !g_wakePending.exchange(true))
        (void)!::write(g_wake, &one, sizeof one);
}

// Copies up to `size` bytes of the ring from `pos` on, ending no later than
// `end`. Returns how many, or -1 when the ring no longer holds pos.
long copy_out(Ring &ring, std::uint64_t pos, std::uint64_t end, unsigned char *out, std::size_t size)
{
    std::lock_guard<std::mutex> lock(ring.mutex);
    if (ring.head - pos > kRingBytes)
        return -1;
    const std::uint64_t count = std::min<std::uint64_t>(std::min(end, ring.head) - pos, size);
    const std::uint64_t at = pos % kRingBytes;
    const std::uint64_t first = std::min(count, kRingBytes - at);
    std::memcpy(out, ring.data + at, first);
    std::memcpy(out + first, ring.data, count - first);
    return static_cast<long>(count);
}

void close_client(Client &c, const char *why)
{
    const int port = g_feeds[c.feed].spec.port;
    if (why != nullptr) {
        std::fprintf(stderr, "vornacq4: COM%d feed %s: client %s closed: %s\n", port,
                     g_feeds[c.feed].spec.addressText.c_str(), c.peer, why);
        ++g_counts[port].dropped;
    }
    ::close(c.fd);
    --g_counts[port].clients;
    c = Client{};
}

// Sends the client what it lacks, as far as its socket takes it. Closes it
// when it fell out of the ring or its connection failed.
void pump_client(Client &c, double now)
{
    Ring &ring = *g_rings[g_feeds[c.feed].spec.port].load();
    for (;;) {
        const long n = copy_out(ring, c.pos, UINT64_MAX, g_scratch, sizeof g_scratch);
        if (n < 0)
            return close_client(c, "it fell 256 KiB behind");
        if (n == 0) {
            c.blockedSince = 0;
            return;
        }
        const long sent = net::send_some(c.fd, g_scratch, static_cast<std::size_t>(n));
        if (sent == -EAGAIN) {
            c.blockedSince = c.blockedSince != 0 ? c.blockedSince : now;
            return;
        }
        if (sent < 0)
            return close_client(c, nullptr); // it went away
        c.pos += static_cast<std::uint64_t>(sent);
        g_counts[g_feeds[c.feed].spec.port].sent += sent;
        if (sent < n) { // it took some: the 30 s count from now
            c.blockedSince = now;
            return;
        }
    }
}

// Sends a UDP feed's new reads, a datagram each (split where longer than a
// datagram may be). A feed that fell out of the ring goes on from its head.
void pump_udp(Feed &f)
{
    Ring &ring = *g_rings[f.spec.port].load();
    f.blocked = false;
    for (;;) {
        std::uint64_t end = 0;
        {
            std::lock_guard<std::mutex> lock(ring.mutex);
            if (ring.arrivals - f.arrival > kRingArrivals || ring.head - f.pos > kRingBytes) {
                f.arrival = ring.arrivals;
                f.pos = ring.head;
            }
            if (f.arrival == ring.arrivals)
                return;
            end = ring.ends[f.arrival % kRingArrivals];
        }
        const long n = copy_out(ring, f.pos, end, g_scratch, kDatagramMax);
        if (n < 0)
            continue; // overtaken meanwhile: the next round starts from the head
        const long taken = net::send_some(f.fd, g_scratch, static_cast<std::size_t>(n));
        if (taken == -EAGAIN) {
            f.blocked = true;
            return;
        }
        // A datagram the network refused (no listener, no route) is gone, as UDP's are.
        if (taken > 0)
            g_counts[f.spec.port].sent += taken;
        f.pos += static_cast<std::uint64_t>(n);
        if (f.pos == end)
            ++f.arrival;
    }
}

void accept_clients(int index, double now)
{
    Feed &f = g_feeds[index];
    for (int i = 0; i < 16; ++i) {
        Client c;
        c.fd = net::accept_client(f.fd, c.peer, sizeof c.peer);
        if (c.fd == -EAGAIN)
            return;
        if (c.fd < 0) {
            if (c.fd == -EMFILE || c.fd == -ENFILE || c.fd == -ENOBUFS || c.fd == -ENOMEM)
                f.acceptAgainAt = now + 1; // the connection waits in the backlog meanwhile
            return;
        }
        Client *slot = nullptr;
        int connected = 0;
        for (Client &other : g_clients) {
            connected += other.fd >= 0 && other.feed == index ? 1 : 0;
            slot = slot == nullptr && other.fd < 0 ? &other : slot;
        }
        if (slot == nullptr || connected >= f.spec.maxClients) {
            ::close(c.fd); // over the feed's cap: refused at once
            continue;
        }
        c.feed = index;
        {
            std::lock_guard<std::mutex> lock(g_rings[f.spec.port].load()->mutex);
            c.pos = g_rings[f.spec.port].load()->head; // every byte from now on
        }
        *slot = c;
        ++g_counts[f.spec.port].clients;
    }
}

// What poll() waits on, and whose each entry is.
struct Waits {
    pollfd fds[1 + net::kMaxFeeds + kMaxClients];
    int owner[1 + net::kMaxFeeds + kMaxClients]; // feed index, kMaxFeeds + client index, or -1 (wake)
    int count = 0;
    bool timed = false; // something is to be looked at again within a second
};

void add_wait(Waits &w, int fd, short events, int owner)
{
    w.fds[w.count] = pollfd{fd, events, 0};
    w.owner[w.count++] = owner;
}

void collect_waits(Waits &w, double now)
{
    w.count = 0;
    w.timed = false;
    add_wait(w, g_wake, POLLIN, -1);
    for (int i = 0; i < g_feedCount; ++i) {
        const Feed &f = g_feeds[i];
        const bool server = f.spec.kind == FeedKind::Tcp;
        if (f.fd < 0 || (server && f.acceptAgainAt > now) || (!server && !f.blocked)) {
            w.timed = w.timed || (f.fd >= 0 && server);
            continue;
        }
        add_wait(w, f.fd, server ? POLLIN : POLLOUT, i);
    }
    for (int i = 0; i < kMaxClients; ++i) {
        const Client &c = g_clients[i];
        if (c.fd < 0)
            continue;
        add_wait(w, c.fd, static_cast<short>(POLLIN | (c.blockedSince != 0 ? POLLOUT : 0)), net::kMaxFeeds + i);
        w.timed = w.timed || c.blockedSince != 0;
    }
}

void handle_events(const Waits &w, double now)
{
    for (int k = 0; k < w.count; ++k) {
        const short got = w.fds[k].revents;
        if (got == 0 || w.owner[k] < 0)
            continue;
        if (w.owner[k] < net::kMaxFeeds) {
            if (g_feeds[w.owner[k]].spec.kind == FeedKind::Tcp)
                accept_clients(w.owner[k], now);
            continue;
        }
        Client &c = g_clients[w.owner[k] - net::kMaxFeeds];
        if (c.fd < 0 || (got & POLLIN) == 0)
            continue;
        // What a client sends is read and forgotten: it never reaches a device.
        const long n = net::discard_input(c.fd, g_scratch, sizeof g_scratch);
        if (n == 0 || (n < 0 && n != -EAGAIN))
            close_client(c, nullptr);
    }
}

void pump_all(double now)
{
    for (Client &c : g_clients)
        if (c.fd >= 0)
            pump_client(c, now);
    for (int i = 0; i < g_feedCount; ++i)
        if (g_feeds[i].fd >= 0 && g_feeds[i].spec.kind == FeedKind::Udp)
            pump_udp(g_feeds[i]);
    for (Client &c : g_clients)
        if (c.fd >= 0 && c.blockedSince != 0 && now - c.blockedSince >= kStallSeconds)
            close_client(c, "it took no byte for 30 s");
}

void feed_loop()
{
    static Waits w;
    while (!g_stop) {
        collect_waits(w, monotonic_seconds());
        ::poll(w.fds, static_cast<nfds_t>(w.count), w.timed ? 1000 : -1);
        if ((w.fds[0].revents & POLLIN) != 0) {
            std::uint64_t count = 0;
            (void)!::read(g_wake, &count, sizeof count);
        }
        g_wakePending = false; // bytes published from here on wake us again
        const double now = monotonic_seconds();
        handle_events(w, now);
        pump_all(now);
    }
}

// Sets up one feed; false, after one line on stderr, when it cannot be.
bool set_up(Feed &f, const std::string &map)
{
    std::string why;
    const bool tcp = f.spec.kind == FeedKind::Tcp;
    f.fd = tcp ? net::open_tcp_server(f.spec, why) : net::open_udp_sender(f.spec, why);
    if (f.fd >= 0)
        return true;
    std::fprintf(stderr, "vornacq4: %s:%d: COM%d %s %s: %s; the logger runs on without this feed\n", map.c_str(),
                 f.spec.line, f.spec.port, tcp ? "tcp" : "udp", f.spec.addressText.c_str(), why.c_str());
    return false;
}

struct FeedShutdown {
    ~FeedShutdown() { feeds_stop(); }
} g_feedShutdown;

void start(const std::string &dir)
{
    const std::vector<FeedSpec> specs = net::read_network_map(dir);
    for (const FeedSpec &spec : specs) {
        Feed &f = g_feeds[g_feedCount++];
        f.spec = spec;
        PortCounts &counts = g_counts[spec.port];
        if (!set_up(f, dir + "/network.map")) {
            ++counts.down;
            continue;
        }
        counts.servers += spec.kind == FeedKind::Tcp ? 1 : 0;
        if (g_rings[spec.port].load() == nullptr)
            g_rings[spec.port] = new Ring;
    }
}

} // namespace

void feeds_start(const std::string &dir)
{
    std::call_once(g_started, [&] {
        start(dir);
        bool any = false;
        for (int i = 0; i < g_feedCount; ++i)
            any = any || g_feeds[i].fd >= 0;
        if (!any)
            return;
        g_wake = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
        if (g_wake >= 0)
            g_thread = std::thread(feed_loop);
    });
}

void feeds_publish(int port, const unsigned char *bytes, std::size_t count)
{
    Ring *ring = port >= 1 && port <= COM_PORTS ? g_rings[port].load(std::memory_order_acquire) : nullptr;
    if (ring == nullptr || count == 0)
        return;
    {
        std::lock_guard<std::mutex> lock(ring->mutex);
        // A read longer than the ring keeps its end; whoever wanted it all falls out.
        const std::size_t skip = count > kRingBytes ? count - kRingBytes : 0;
        const std::uint64_t start = ring->head + skip;
        const std::uint64_t at = start % kRingBytes;
        const std::size_t kept = count - skip;
        const std::size_t first = std::min<std::size_t>(kept, kRingBytes - at);
        std::memcpy(ring->data + at, bytes + skip, first);
        std::memcpy(ring->data, bytes + skip + first, kept - first);
        ring->head += count;
        ring->ends[ring->arrivals++ % kRingArrivals] = ring->head;
    }
    wake_thread();
}

FeedCounts feed_counts(int port)
{
    FeedCounts counts;
    if (port < 1 || port > COM_PORTS)
        return counts;
    const PortCounts &c = g_counts[port];
    counts.servers = c.servers;
    counts.clients = c.clients;
    counts.down = c.down;
    counts.sentBytes = c.sent;
    counts.droppedClients = c.dropped;
    return counts;
}

void feeds_stop()
{
    if (!g_thread.joinable())
        return;
    g_stop = true;
    const std::uint64_t one = 1;
    (void)!::write(g_wake, &one, sizeof one);
    g_thread.join();
    for (Client &c : g_clients)
        if (c.fd >= 0)
            ::close(c.fd);
    for (int i = 0; i < g_feedCount; ++i)
        if (g_feeds[i].fd >= 0)
            ::close(g_feeds[i].fd);
}
