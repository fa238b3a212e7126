// feeds.h - live feeds: each logged port's bytes, as the reader thread reads
// them, to the network.
//
// One thread of its own serves every feed, so nothing on the way from a
// device to its queue (and on to the data file) ever waits on the network:
// the reader only copies what it read into the port's feed ring and wakes
// that thread. The ring holds the last 256 KiB a port received; each TCP
// client and each UDP feed keeps its own place in it. A client that falls
// more than the ring behind, or whose socket has taken nothing for 30 s, is
// closed and named once on stderr; the others never notice. A UDP feed that
// falls more than the ring behind goes on from the newest byte, counts what
// it skipped and says so on stderr once when it begins and once when it has
// kept up for a minute. A client that closes only its sending side
// (shutdown(SHUT_WR), nc -N) goes on receiving until it closes the
// connection. Memory is fixed
// when the feeds start: a ring per fed port, a slot per possible client.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace net {
struct FeedEntry; // network_map.h
}

// Sets up the feeds of network.map (read_network_map; other lines are left
// alone): binds the TCP servers and opens the UDP sockets, reporting on
// stderr each that cannot be, with its line of mapPath, and starts the
// feeds' thread. Only the first call does anything.
void feeds_start(const std::vector<net::FeedEntry> &entries, const std::string &mapPath);

// Hands a read's bytes to the port's feeds; returns at once, whatever the
// clients do. Nothing happens for a port without feeds. Called by the
// serial reader thread alone.
void feeds_publish(int port, const unsigned char *bytes, std::size_t count);

// What a port's feeds are doing, for its status.
struct FeedCounts {
    int servers = 0;  // TCP feeds listening for clients
    int clients = 0;  // clients connected to them
    int down = 0;     // feeds network.map names that could not be set up
    long long sentBytes = 0;     // to TCP clients and UDP feeds, since the start
    long long droppedBehind = 0;  // clients closed for falling out of the ring
    long long droppedStalled = 0; // clients closed for taking nothing for 30 s
    long long skippedBytes = 0;   // bytes UDP feeds skipped for falling out of the ring
};
FeedCounts feed_counts(int port);

// Ends the feeds' thread, once it has sent its clients what they lack as far
// as their sockets take it without waiting, and closes every socket. Called
// by StopEngine after the serial threads have ended; later calls do nothing.
void feeds_stop();
