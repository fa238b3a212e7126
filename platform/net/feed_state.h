// feed_state.h - what the feeds' thread (feed_thread.cpp) and the
// operations of feeds.h (feeds.cpp) share: the rings the serial reader fills,
// the feeds and their clients.
#pragma once

#include "engine.h"
#include "network_map.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>

namespace net {

constexpr std::uint64_t kRingBytes = 256 * 1024; // a client's allowance, as docs and messages say
constexpr int kRingArrivals = 4096;              // reads remembered for the datagrams
constexpr std::size_t kDatagramMax = 1472;       // fits an Ethernet frame: never fragmented
constexpr int kMaxClients = 256;
constexpr double kStallSeconds = 30.0;
// A UDP feed's skipping ends when it has skipped nothing for this long: a
// network that keeps choking makes a pair of lines a minute at most.
constexpr double kSkipQuietSeconds = 60.0;
constexpr int kScratchBytes = 64 * 1024;
// A client's own bytes are read once a pause at most: one that floods the
// logger is held back by its connection's flow control, not by our CPU.
constexpr double kReadPauseSeconds = 0.1;

// A port's latest bytes, as its reads brought them.
struct Ring {
    std::mutex mutex;
    std::uint64_t head = 0;     // bytes published since the start
    std::uint64_t arrivals = 0; // reads published since the start
    std::uint64_t ends[kRingArrivals]; // where each read's bytes end
    unsigned char data[kRingBytes];
};

struct Feed {
    FeedEntry entry;
    int fd = -1;               // the server's or the UDP socket
    std::uint64_t pos = 0;     // UDP: the next byte to send
    std::uint64_t arrival = 0; // UDP: the read that byte belongs to
    bool blocked = false;      // UDP: the socket refused; waiting for room
    double skippingSince = 0;  // UDP: when it began to skip bytes; 0 while it keeps up
    double lastSkipAt = 0;     // UDP: when it last skipped
    std::uint64_t episodeSkipped = 0; // UDP: bytes skipped since skippingSince
    double acceptAgainAt = 0;  // TCP: out of descriptors; tried again then
};

struct Client {
    int fd = -1;
    int feed = -1;
    std::uint64_t pos = 0;
    double blockedSince = 0; // its socket has refused bytes since then; 0 while it takes them
    double readAgainAt = 0;  // what it sends is read no sooner (see handle_client)
    bool readClosed = false; // it closed its sending side (shutdown, nc -N): it is still sent to
    char peer[64] = "";
};

struct PortCounts {
    std::atomic<int> servers{0}, clients{0}, down{0}, datagrams{0}; // datagrams: UDP feeds set up
    std::atomic<long long> sent{0}, droppedBehind{0}, droppedStalled{0};
    std::atomic<long long> skipped{0}; // bytes UDP feeds fell out of the ring with
};

// Set before the thread starts and the reader first publishes; never freed,
// so a reader still running while the process ends finds them there.
extern std::atomic<Ring *> g_rings[COM_PORTS + 1];
extern PortCounts g_counts[COM_PORTS + 1];

// Set up before the thread starts, then the thread's alone.
extern Feed g_feeds[kMaxFeeds];
extern int g_feedCount;
extern Client g_clients[kMaxClients];

extern int g_wake;                       // an eventfd: bytes were published, or stop
extern std::atomic<bool> g_wakePending;  // a wake is written and not yet taken
extern std::atomic<bool> g_stop;

// Serves the feeds until g_stop is set and the thread woken.
void feed_loop();

} // namespace net
