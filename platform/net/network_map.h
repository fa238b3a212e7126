// network_map.h - which of the logged ports are fed to the network, and where.
//
// The optional file network.map in the start-up directory:
//     # network.map: live feeds of logged ports
//     COM1  tcp 4001                   a TCP server on 127.0.0.1:4001
//     COM1  tcp 0.0.0.0:4101 max=8     on every interface, at most 8 clients
//     COM2  udp 127.0.0.1:5002         a datagram per read, to that address
//     COM3  udp 239.255.10.3:5003      multicast, TTL 1 unless ttl=N
//     http  9100                       the monitoring endpoint on 127.0.0.1:9100
//     mqtt  10.0.0.5 station=ship1     the uplink to a broker (uplink.h)
// An address is numeric (IPv6 in brackets: [::1]:4001); a port alone means
// the loopback address, so a feed reaches another machine only where the
// operator wrote out an address that does. A port may have several feeds.
// As with comports.map, only a regular file of up to 64 KiB is read, never
// waiting on it, and a malformed line is reported on stderr with its number
// and skipped.
#pragma once

#include <netinet/in.h>
#include <string>
#include <sys/socket.h>
#include <vector>

namespace net {

enum class FeedKind { Tcp, Udp, Http, Mqtt }; // Http: the monitoring endpoint; Mqtt: the uplink

struct FeedEntry {
    int port = 0; // 1..COM_PORTS; 0 for the http line
    FeedKind kind = FeedKind::Tcp;
    sockaddr_storage address{};
    socklen_t addressLength = 0;
    std::string addressText; // "127.0.0.1:4001", "[::1]:4001"
    int maxClients = 4;      // TCP: more are closed at once
    int ttl = 1;             // UDP multicast: hops the datagrams may take
    int line = 0;            // in network.map, for the reports
    std::string text;        // Mqtt: the line's words, checked, for the uplink
};

// At most this many feeds are set up; the lines after are reported and skipped.
constexpr int kMaxFeeds = 64;
constexpr int kMaxClientsPerFeed = 64;

// Reads one line's text, its comment already cut off and not blank, into
// entry. False, with why in `why`, when it is not a feed line.
bool parse_feed_line(const std::string &text, FeedEntry &entry, std::string &why);

// The feeds named in dir/network.map, in the order of their lines, and its
// http line if it has one (a second is a bad line); none when the file is
// absent. Unreadable files and bad lines are reported on stderr.
std::vector<FeedEntry> read_network_map(const std::string &dir);

} // namespace net
