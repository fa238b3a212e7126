// feed_sockets.h - the sockets of the feeds, set up the way a feed needs
// them: non-blocking, closed across exec, never raising SIGPIPE.
#pragma once

#include "network_map.h"

#include <cstddef>
#include <string>

namespace net {

// A listening TCP socket on the feed's address, or -1 with the reason in why.
int open_tcp_server(const FeedEntry &entry, std::string &why);
// A UDP socket whose sends go to the feed's address (broadcast allowed, as
// the operator wrote the address out; multicast with the feed's TTL), or -1
// with the reason in why.
int open_udp_sender(const FeedEntry &entry, std::string &why);
// Takes one waiting connection: a descriptor and the peer's "address:port"
// in peer, or -errno (-EAGAIN when none waits).
int accept_client(int server, char *peer, std::size_t peerSize);
// Sends without waiting: bytes taken, or -errno (-EAGAIN when the socket is full).
long send_some(int fd, const unsigned char *bytes, std::size_t count);
// Reads and forgets what a client sent: 0 when it closed its side, -errno
// on an error (-EAGAIN when nothing waits), else the bytes thrown away.
long discard_input(int fd, unsigned char *scratch, std::size_t size);

} // namespace net
