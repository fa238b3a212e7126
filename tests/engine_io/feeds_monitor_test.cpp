// The feeds' and the monitor's threads in-process, on real sockets on
// 127.0.0.1: a UDP feed that falls out of its ring counts every byte it
// skipped and says so once an episode; the HTTP endpoint reads no file,
// answering 503 until the port map has been read, and its /status.json is
// JSON that a strict parser takes, whatever bytes a device's name holds.
#include "engine.h"
#include "engine_seams.h"
#include "monitor/monitor.h"
#include "net/feeds.h"
#include "net/network_map.h"
#include "serial/port_map.h"
#include "logger_process.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

using testing_support::bound_socket;
using testing_support::eventually;
using testing_support::free_tcp_port;
using testing_support::get;
using testing_support::occurrences;
using testing_support::read_file;
using testing_support::status_code;
using testing_support::TempDir;
using testing_support::write_file;

namespace {

net::FeedEntry entry(const std::string &line)
{
    net::FeedEntry e;
    std::string why;
    EXPECT_TRUE(net::parse_feed_line(line, e, why)) << line << ": " << why;
    return e;
}

void publish(int port, const std::string &bytes)
{
    feeds_publish(port, reinterpret_cast<const unsigned char *>(bytes.data()), bytes.size());
}

} // namespace

TEST(UdpFeed, FallingOutOfTheRingCountsEverySkippedByteAndSaysSoOnceAnEpisode)
{
    TempDir dir;
    SeamSetClock(2026, 3, 1, 10, 0, 0);
    int udpPort = 0;
    const int udp = bound_socket(SOCK_DGRAM, udpPort);
    testing_support::StderrCapture err(dir.file("stderr.txt"));
    feeds_start({entry("COM2 udp 127.0.0.1:" + std::to_string(udpPort))}, "network.map");

    const long long ring = 256 * 1024;
    publish(2, std::string(ring + 1000, 'a')); // one read longer than the ring: nobody gets it whole
    ASSERT_TRUE(eventually([&] { return feed_counts(2).skippedBytes == ring + 1000; }))
        << feed_counts(2).skippedBytes;
    const std::string next = "$GPZDA,100000.00,01,03,2026,00,00*6C\r\n";
    publish(2, next);
    std::string got;
    ASSERT_TRUE(eventually([&] {
        char datagram[2048];
        for (ssize_t n; (n = ::recv(udp, datagram, sizeof datagram, MSG_DONTWAIT)) > 0;)
            got.append(datagram, static_cast<std::size_t>(n));
        return got.size() >= next.size();
    }));
    EXPECT_EQ(got, next) << "it goes on from the newest byte";
    EXPECT_EQ(feed_counts(2).sentBytes, static_cast<long long>(next.size()));
    EXPECT_EQ(occurrences(err.text(), "COM2 feed udp 127.0.0.1:" + std::to_string(udpPort) + ": fell 256 KiB behind"), 1)
        << err.text();

    SeamSetClock(2026, 3, 1, 10, 1, 1); // a minute without a byte skipped
    EXPECT_TRUE(eventually([&] { return err.text().find("keeps up again: 263144 bytes skipped in 0 s") != std::string::npos; }))
        << err.text();
    PortReport report{};
    report.logged = 1;
    ReportPortFigures(2, &report);
    port_map_load();
    monitor::RunFacts facts;
    monitor::snapshot(facts);
    EXPECT_NE(monitor::metrics_text(facts).find("vornacq4_feed_skipped_bytes_total{port=\"COM2\"} 263144\n"),
              std::string::npos);
    feeds_stop();
    ::close(udp);
}

TEST(HttpEndpoint, ReadsNoFileAndAnswers503UntilThePortMapIsRead)
{
    TempDir dir;
    write_file(dir.file("comports.map"), "COM4 /dev/serial/by-id/usb-GPS\n");
    port_map_forget();
    const int port = free_tcp_port();
    monitor::http_start({entry("http " + std::to_string(port))}, "network.map");
    const std::string early = get(port, "/metrics");
    EXPECT_EQ(status_code(early), 503) << early;
    EXPECT_EQ(status_code(get(port, "/status.json")), 503);
    EXPECT_EQ(status_code(get(port, "/")), 200) << "the page is the program's own";
    std::string path;
    EXPECT_FALSE(port_map_peek(4, path)) << "the endpoint's thread read comports.map";

    port_map_load();
    EXPECT_EQ(status_code(get(port, "/metrics")), 200);
    monitor::http_stop();
    EXPECT_EQ(status_code(get(port, "/metrics")), 0) << "it has stopped";
}

// A device name of quotes, backslashes, control characters and bytes that
// are not UTF-8, and a status text with them too, checked by Python's json
// module: strict (no control character inside a string) over text decoded as
// strict UTF-8; invalid sequences come out as U+FFFD.
TEST(HttpEndpoint, StatusJsonIsStrictJsonWhateverBytesTheNamesHold)
{
    TempDir dir;
    write_file(dir.file("comports.map"), "COM4 /dev/q\"uote\\back\x01" "ctl\x7f\xff\xfe\xc3" "end\xc3\xa9\n");
    port_map_forget();
    port_map_load();
    PortReport report{};
    report.logged = 1;
    report.status = "COM4: NOT OPEN \"\x02\xe2\x82";
    ReportPortFigures(4, &report);
    ReportRunFigures(1, 1, "Logging.\n\tCOM4: \xc0\xaf");
    const int port = free_tcp_port();
    monitor::http_start({entry("http " + std::to_string(port))}, "network.map");
    const std::string answer = get(port, "/status.json");
    ASSERT_EQ(status_code(answer), 200) << answer;
    write_file(dir.file("status.json"), answer.substr(answer.find("\r\n\r\n") + 4));
    write_file(dir.file("check.py"),
               "import json, sys\n"
               "def refuse(name): raise ValueError(name)\n"
               "try:\n"
               "    text = open(sys.argv[1], 'rb').read().decode('utf-8')\n"
               "    doc = json.loads(text, parse_constant=refuse)\n"
               "    device = doc['ports'][0]['device']\n"
               "    assert device.startswith('/dev/q\"uote\\\\back\\x01ctl\\x7f\\ufffd'), ascii(device)\n"
               "    assert device.endswith('\\ufffdend\\u00e9'), ascii(device)\n"
               "    assert doc['ports'][0]['status'].startswith('COM4: NOT OPEN \"\\x02\\ufffd'), ascii(doc)\n"
               "    assert doc['status_text'].startswith('Logging.\\n\\tCOM4: \\ufffd'), ascii(doc)\n"
               "    assert not any(0xd800 <= ord(c) <= 0xdfff for c in text), 'a lone surrogate'\n"
               "    print('ok')\n"
               "except Exception as e:\n"
               "    print(type(e).__name__, e)\n"
               "    sys.exit(1)\n");
    LoggerProcess::Options python;
    python.binary = "/usr/bin/python3";
    python.args = {dir.file("check.py"), dir.file("status.json")};
    const ToolRun said = run_tool(python);
    EXPECT_EQ(said.status, 0) << said.both();
    EXPECT_EQ(said.out, "ok\n") << said.both();
}
