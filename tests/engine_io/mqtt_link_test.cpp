// What the uplink and vornacq4-shore agree on: the mqtt line's words, the
// shore's position, a data file's name and the arrival times as text.
#include "net/mqtt_link.h"
#include "net/network_map.h"

#include <gtest/gtest.h>

#include <sstream>

namespace {

struct MqttLine {
    const char *text;
    bool good;
    const char *host;
    int port;
    bool ack;
    long long rate;
};

const MqttLine kMqttLines[] = {
    {"mqtt 10.0.0.5 station=ship1", true, "10.0.0.5", 1883, true, 0},
    {"mqtt shore.example.org:8883 station=a_b-1.c ack=off rate=20000", true, "shore.example.org", 8883, false, 20000},
    {"mqtt [fd00::5]:1884 station=s user=u password-file=/etc/pw", true, "fd00::5", 1884, true, 0},
    {"mqtt 10.0.0.5", false, "", 0, true, 0},                      // no station
    {"mqtt 10.0.0.5 station=a/b", false, "", 0, true, 0},          // a station that is no topic level
    {"mqtt 10.0.0.5 station=..", false, "", 0, true, 0},           // nor a directory of its own
    {"mqtt 10.0.0.5 station=s user=u", false, "", 0, true, 0},     // a user without a password file
    {"mqtt 10.0.0.5:0 station=s", false, "", 0, true, 0},
    {"mqtt fd00::5 station=s", false, "", 0, true, 0},             // IPv6 goes in brackets
    {"mqtt 10.0.0.5 station=s rate=0", false, "", 0, true, 0},
    {"mqtt 10.0.0.5 station=s qos=2", false, "", 0, true, 0},
};

} // namespace

TEST(MqttLink, ReadsTheMqttLineAndRefusesWhatIsWrong)
{
    for (const MqttLine &line : kMqttLines) {
        net::FeedEntry entry;
        std::string why;
        ASSERT_EQ(net::parse_feed_line(line.text, entry, why), line.good) << line.text << ": " << why;
        if (!line.good)
            continue;
        EXPECT_EQ(entry.kind, net::FeedKind::Mqtt);
        std::istringstream in(entry.text);
        std::vector<std::string> words;
        for (std::string w; in >> w;)
            words.push_back(w);
        mqtt_link::Options o;
        ASSERT_TRUE(mqtt_link::parse({words.begin() + 1, words.end()}, o, why, true)) << why;
        EXPECT_EQ(o.host, line.host) << line.text;
        EXPECT_EQ(o.port, line.port) << line.text;
        EXPECT_EQ(o.ack, line.ack) << line.text;
        EXPECT_EQ(o.rate, line.rate) << line.text;
    }
}

TEST(MqttLink, ThePositionAndTheTimesReadBackAsWritten)
{
    std::string file;
    long long offset = 0, us = 0;
    bool resend = false;
    ASSERT_TRUE(mqtt_link::parse_ack(mqtt_link::format_ack("D045/04538405.C05", 123456, true), file, offset, resend));
    EXPECT_EQ(file, "D045/04538405.C05");
    EXPECT_EQ(offset, 123456);
    EXPECT_TRUE(resend);
    for (const char *bad : {"D045/04538405.C05", "D045/04538405.C19 1", "../x.C05 1", "D045/04538405.C05 -1",
                            "D045/04538405.C05 12x"})
        EXPECT_FALSE(mqtt_link::parse_ack(bad, file, offset, resend)) << bad;

    EXPECT_EQ(mqtt_link::format_time(1771027265123456LL), "2026-02-14T00:01:05.123456Z");
    ASSERT_TRUE(mqtt_link::parse_time("2026-02-14T00:01:05.000007Z", us));
    EXPECT_EQ(us, 1771027265000007LL);
    for (const char *bad : {"2026-02-14T00:01:05Z", "2026-02-14 00:01:05.000000Z", "1969-12-31T23:59:59.000000Z"})
        EXPECT_FALSE(mqtt_link::parse_time(bad, us)) << bad;

    EXPECT_EQ(mqtt_link::topic_port("COM18"), 18);
    EXPECT_EQ(mqtt_link::topic_port("COM01"), 0);
    EXPECT_EQ(mqtt_link::topic_port("COM19"), 0);
}
