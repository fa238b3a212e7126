// The feeds' thread: it waits in poll() on the wake, the servers, the UDP
// sockets and the clients, and after each wake sends every client what it
// lacks, as far as its socket takes it without waiting.
#include "feed_sockets.h"
#include "feed_state.h"

#include "base/clock.h"
#include "base/thread_name.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <poll.h>
#include <unistd.h>

namespace net {

namespace {

unsigned char g_scratch[kScratchBytes];

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

// Why the logger closes a client: none (it left, or its connection
// failed), it fell out of the ring, or its socket took nothing for too long.
enum class Drop { Left, Behind, Stalled };

void close_client(Client &c, Drop why)
{
    const int port = g_feeds[c.feed].entry.port;
    if (why != Drop::Left) {
        std::fprintf(stderr, "vornacq4: COM%d feed %s: client %s closed: %s\n", port,
                     g_feeds[c.feed].entry.addressText.c_str(), c.peer,
                     why == Drop::Behind ? "it fell 256 KiB behind" : "it took no byte for 30 s");
        ++(why == Drop::Behind ? g_counts[port].droppedBehind : g_counts[port].droppedStalled);
    }
    ::close(c.fd);
    --g_counts[port].clients;
    c = Client{};
}

// Sends the client what it lacks, as far as its socket takes it. Closes it
// when it fell out of the ring or its connection failed.
void pump_client(Client &c, double now)
{
    Ring &ring = *g_rings[g_feeds[c.feed].entry.port].load();
    for (;;) {
        const long n = copy_out(ring, c.pos, UINT64_MAX, g_scratch, sizeof g_scratch);
        if (n < 0)
            return close_client(c, Drop::Behind);
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
            return close_client(c, Drop::Left); // it went away
        c.pos += static_cast<std::uint64_t>(sent);
        g_counts[g_feeds[c.feed].entry.port].sent += sent;
        if (sent < n) { // it took some: the 30 s count from now
            c.blockedSince = now;
            return;
        }
    }
}

// A UDP feed that fell out of the ring (its bytes or its reads overwritten)
// goes on from the ring's head; returns the bytes it skipped. With the
// ring's lock held.
std::uint64_t skip_to_head_locked(Feed &f, const Ring &ring)
{
    if (ring.arrivals - f.arrival <= kRingArrivals && ring.head - f.pos <= kRingBytes)
        return 0;
    const std::uint64_t skipped = ring.head - f.pos;
    f.arrival = ring.arrivals;
    f.pos = ring.head;
    return skipped;
}

// Counts bytes a UDP feed skipped; the first of an episode is named on stderr.
void note_skipped(Feed &f, std::uint64_t bytes, double now)
{
    g_counts[f.entry.port].skipped += static_cast<long long>(bytes);
    f.episodeSkipped += bytes;
    f.lastSkipAt = now;
    if (f.skippingSince != 0)
        return;
    f.skippingSince = now;
    std::fprintf(stderr,
                 "vornacq4: COM%d feed udp %s: fell 256 KiB behind: what it cannot send is skipped until it keeps "
                 "up again\n",
                 f.entry.port, f.entry.addressText.c_str());
}

// The end of a UDP feed's episode of skipping, once it has skipped nothing
// for kSkipQuietSeconds: how long it lasted and what it cost.
void end_skipping(Feed &f, double now)
{
    if (f.skippingSince == 0 || now - f.lastSkipAt < kSkipQuietSeconds)
        return;
    std::fprintf(stderr, "vornacq4: COM%d feed udp %s: keeps up again: %llu bytes skipped in %.0f s\n", f.entry.port,
                 f.entry.addressText.c_str(), static_cast<unsigned long long>(f.episodeSkipped),
                 f.lastSkipAt - f.skippingSince);
    f.skippingSince = 0;
    f.episodeSkipped = 0;
}

// Sends a UDP feed's new reads, a datagram each (split where longer than a
// datagram may be). A feed that fell out of the ring goes on from its head.
void pump_udp(Feed &f, double now)
{
    Ring &ring = *g_rings[f.entry.port].load();
    f.blocked = false;
    for (;;) {
        std::uint64_t end = 0, skipped = 0;
        bool caughtUp = false;
        {
            std::lock_guard<std::mutex> lock(ring.mutex);
            skipped = skip_to_head_locked(f, ring);
            caughtUp = f.arrival == ring.arrivals;
            end = caughtUp ? 0 : ring.ends[f.arrival % kRingArrivals];
        }
        if (skipped > 0)
            note_skipped(f, skipped, now);
        if (caughtUp)
            return;
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
            g_counts[f.entry.port].sent += taken;
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
        if (slot == nullptr || connected >= f.entry.maxClients) {
            ::close(c.fd); // over the feed's cap: refused at once
            continue;
        }
        c.feed = index;
        {
            std::lock_guard<std::mutex> lock(g_rings[f.entry.port].load()->mutex);
            c.pos = g_rings[f.entry.port].load()->head; // every byte from now on
        }
        *slot = c;
        ++g_counts[f.entry.port].clients;
    }
}

// What poll() waits on, and whose each entry is.
struct Waits {
    pollfd fds[1 + net::kMaxFeeds + kMaxClients];
    int owner[1 + net::kMaxFeeds + kMaxClients]; // feed index, kMaxFeeds + client index, or -1 (wake)
    int count = 0;
    int timeoutMs = -1; // something is to be looked at again this soon
};

void add_wait(Waits &w, int fd, short events, int owner)
{
    w.fds[w.count] = pollfd{fd, events, 0};
    w.owner[w.count++] = owner;
}

void collect_waits(Waits &w, double now)
{
    w.count = 0;
    w.timeoutMs = -1;
    const auto again_within = [&w](int ms) { w.timeoutMs = w.timeoutMs < 0 ? ms : std::min(w.timeoutMs, ms); };
    add_wait(w, g_wake, POLLIN, -1);
    for (int i = 0; i < g_feedCount; ++i) {
        const Feed &f = g_feeds[i];
        const bool server = f.entry.kind == FeedKind::Tcp;
        if (f.skippingSince != 0)
            again_within(1000); // its episode's end is looked for
        if (f.fd >= 0 && server && f.acceptAgainAt > now)
            again_within(1000);
        if (f.fd < 0 || (server && f.acceptAgainAt > now) || (!server && !f.blocked))
            continue;
        add_wait(w, f.fd, server ? POLLIN : POLLOUT, i);
    }
    for (int i = 0; i < kMaxClients; ++i) {
        const Client &c = g_clients[i];
        if (c.fd < 0)
            continue;
        const bool reading = !c.readClosed && c.readAgainAt <= now;
        add_wait(w, c.fd, static_cast<short>((reading ? POLLIN : 0) | (c.blockedSince != 0 ? POLLOUT : 0)),
                 net::kMaxFeeds + i);
        if (c.blockedSince != 0)
            again_within(1000);
        if (!reading)
            again_within(static_cast<int>(kReadPauseSeconds * 1000));
    }
}

// What a client sends is read and forgotten: it never reaches a device.
// The end of what it sends is not the end of the connection: a client that
// closed its sending side alone (shutdown(SHUT_WR), nc -N) still wants the
// bytes, until it closes the connection (its socket then fails: POLLERR,
// POLLHUP or a refused send).
void handle_client(Client &c, short got, double now)
{
    if (c.fd < 0)
        return;
    if ((got & (POLLERR | POLLHUP)) != 0)
        return close_client(c, Drop::Left);
    if ((got & POLLIN) == 0)
        return;
    const long n = net::discard_input(c.fd, g_scratch, sizeof g_scratch);
    if (n < 0 && n != -EAGAIN)
        return close_client(c, Drop::Left); // its connection failed
    c.readClosed = n == 0;
    c.readAgainAt = now + kReadPauseSeconds;
}

void handle_events(const Waits &w, double now)
{
    for (int k = 0; k < w.count; ++k) {
        const short got = w.fds[k].revents;
        if (got == 0 || w.owner[k] < 0)
            continue;
        if (w.owner[k] < net::kMaxFeeds) {
            if (g_feeds[w.owner[k]].entry.kind == FeedKind::Tcp)
                accept_clients(w.owner[k], now);
            continue;
        }
        handle_client(g_clients[w.owner[k] - net::kMaxFeeds], got, now);
    }
}

void pump_all(double now)
{
    for (Client &c : g_clients)
        if (c.fd >= 0)
            pump_client(c, now);
    for (int i = 0; i < g_feedCount; ++i)
        if (g_feeds[i].fd >= 0 && g_feeds[i].entry.kind == FeedKind::Udp) {
            pump_udp(g_feeds[i], now);
            end_skipping(g_feeds[i], now);
        }
    for (Client &c : g_clients)
        if (c.fd >= 0 && c.blockedSince != 0 && now - c.blockedSince >= kStallSeconds)
            close_client(c, Drop::Stalled);
}

} // namespace

void feed_loop()
{
    threadname::name_this_thread(threadname::kFeeds);
    static Waits w;
    while (!g_stop) {
        collect_waits(w, monotonic_seconds());
        ::poll(w.fds, static_cast<nfds_t>(w.count), w.timeoutMs);
        if ((w.fds[0].revents & POLLIN) != 0) {
            std::uint64_t count = 0;
            (void)!::read(g_wake, &count, sizeof count);
        }
        g_wakePending = false; // bytes published from here on wake us again
        const double now = monotonic_seconds();
        handle_events(w, now);
        pump_all(now);
    }
    // The end: what the reader handed over last goes out as far as the
    // sockets take it now.
    pump_all(monotonic_seconds());
}

} // namespace net
