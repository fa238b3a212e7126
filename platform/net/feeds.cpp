// Live feeds (see feeds.h): set up from network.map, filled by the serial
// reader. The serial reader publishes each read into its port's ring under
// the ring's own lock, held for a copy, and wakes the feeds' thread
// (feed_thread.cpp) through an eventfd.
#include "feeds.h"

#include "base/engine_threads.h"
#include "feed_sockets.h"
#include "feed_state.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <sys/eventfd.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace net {

std::atomic<Ring *> g_rings[COM_PORTS + 1];
PortCounts g_counts[COM_PORTS + 1];
Feed g_feeds[kMaxFeeds];
int g_feedCount = 0;
Client g_clients[kMaxClients];
int g_wake = -1;
std::atomic<bool> g_wakePending{false};
std::atomic<bool> g_stop{false};

} // namespace net

using namespace net;

namespace {

std::once_flag g_started;
std::thread g_thread;

void wake_thread()
{
    const std::uint64_t one = 1;
    if (g_wake >= 0 && !g_wakePending.exchange(true))
        (void)!::write(g_wake, &one, sizeof one);
}

// Sets up one feed; false, after one line on stderr, when it cannot be.
bool set_up(Feed &f, const std::string &map)
{
    std::string why;
    const bool tcp = f.entry.kind == FeedKind::Tcp;
    f.fd = tcp ? net::open_tcp_server(f.entry, why) : net::open_udp_sender(f.entry, why);
    if (f.fd >= 0)
        return true;
    std::fprintf(stderr, "vornacq4: %s:%d: COM%d %s %s: %s; the logger runs on without this feed\n", map.c_str(),
                 f.entry.line, f.entry.port, tcp ? "tcp" : "udp", f.entry.addressText.c_str(), why.c_str());
    return false;
}

void start(const std::vector<FeedEntry> &entries, const std::string &mapPath)
{
    for (const FeedEntry &entry : entries) {
        if (entry.kind == FeedKind::Http)
            continue;
        Feed &f = g_feeds[g_feedCount++];
        f.entry = entry;
        PortCounts &counts = g_counts[entry.port];
        if (!set_up(f, mapPath)) {
            ++counts.down;
            continue;
        }
        counts.servers += entry.kind == FeedKind::Tcp ? 1 : 0;
        counts.datagrams += entry.kind == FeedKind::Udp ? 1 : 0;
        if (g_rings[entry.port].load() == nullptr)
            g_rings[entry.port] = new Ring;
    }
}

} // namespace

void feeds_start(const std::vector<FeedEntry> &entries, const std::string &mapPath)
{
    std::call_once(g_started, [&] {
        start(entries, mapPath);
        bool any = false;
        for (int i = 0; i < g_feedCount; ++i)
            any = any || g_feeds[i].fd >= 0;
        if (!any)
            return;
        g_wake = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
        if (g_wake < 0)
            return;
        g_thread = std::thread(feed_loop);
        engine_thread_started();
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
    // Nobody to send to: the bytes wait in the ring for nothing, unwoken.
    if (g_counts[port].clients > 0 || g_counts[port].datagrams > 0)
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
    counts.droppedBehind = c.droppedBehind;
    counts.droppedStalled = c.droppedStalled;
    counts.skippedBytes = c.skipped;
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
