// network.map's lines: what makes a feed, where it listens or sends, and
// what is refused.
#include "net/network_map.h"

#include <gtest/gtest.h>

namespace {

struct Line {
    const char *text;
    bool good;
    int port;
    const char *address;
    int max, ttl;
};

const Line kLines[] = {
    {"COM1 tcp 4001", true, 1, "127.0.0.1:4001", 4, 1}, // no address: loopback only
    {"com18  tcp  0.0.0.0:4101  max=8", true, 18, "0.0.0.0:4101", 8, 1},
    {"COM2 udp 127.0.0.1:5002", true, 2, "127.0.0.1:5002", 4, 1},
    {"COM3 udp 127.0.0.1:5003 ttl=4", true, 3, "127.0.0.1:5003", 4, 4},
    {"COM4 tcp [::1]:4004", true, 4, "[::1]:4004", 4, 1},
    {"http 9100", true, 0, "127.0.0.1:9100", 4, 1}, // the monitoring endpoint, loopback unless written out
    {"http 0.0.0.0:9100", true, 0, "0.0.0.0:9100", 4, 1},
    {"http", false, 0, "", 0, 0},
    {"http 9100 max=2", false, 0, "", 0, 0},
    {"COM19 tcp 4001", false, 0, "", 0, 0},
    {"COM01 tcp 4001", false, 0, "", 0, 0},
    {"COM1 http 4001", false, 0, "", 0, 0},
    {"COM1 tcp", false, 0, "", 0, 0},
    {"COM1 tcp 0", false, 0, "", 0, 0},
    {"COM1 tcp 65536", false, 0, "", 0, 0},
    {"COM1 tcp ship-gateway:4001", false, 0, "", 0, 0}, // never looked up by name
    {"COM1 tcp ::1:4001", false, 0, "", 0, 0},          // IPv6 goes in brackets
    {"COM1 tcp 4001 max=0", false, 0, "", 0, 0},
    {"COM1 tcp 4001 max=65", false, 0, "", 0, 0},
    {"COM1 tcp 4001 ttl=2", false, 0, "", 0, 0},
    {"COM1 udp 127.0.0.1:5002 max=2", false, 0, "", 0, 0},
    {"COM1 udp 127.0.0.1:5003 ttl=256", false, 0, "", 0, 0},
};

TEST(NetworkMap, ReadsFeedLinesAndRefusesWhatIsNoFeed)
{
    for (const Line &line : kLines) {
        SCOPED_TRACE(line.text);
        net::FeedEntry entry;
        std::string why;
        ASSERT_EQ(net::parse_feed_line(line.text, entry, why), line.good);
        if (!line.good) {
            EXPECT_FALSE(why.empty());
            continue;
        }
        EXPECT_EQ(entry.port, line.port);
        EXPECT_EQ(entry.addressText, line.address);
        EXPECT_EQ(entry.maxClients, line.max);
        EXPECT_EQ(entry.ttl, line.ttl);
    }
}

} // namespace
