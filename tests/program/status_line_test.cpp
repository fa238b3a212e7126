// The status line of the main panel during a run: what each logged port is
// doing, as the engine counted it, on the clock the test moves; and the
// hexadecimal text a live view shows of a port's stream.
#include "run_fixture.h"

#include <algorithm>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Port 3 logged in slot 1, port 5 logged through a link that stands for a
// USB adapter's stable name, port 9 logged but held by another program by
// the time the run starts.
class StatusLine : public LoggerTest {
protected:
    StatusLine() : LoggerTest({3, 9}) {}

    void SetUp() override
    {
        LoggerTest::SetUp();
        m_adapter = std::make_unique<testing_support::Pty>();
        plug(*m_adapter);
        testing_support::write_file("comports.map", testing_support::port_map_text(
            {{3, pty(3).path()}, {5, link()}, {9, pty(9).path()}}));
        SeamReloadPortMap();
        write_config_file(testing_support::port_table({{3, {9600, 1, 1, 0}}, {5, {9600, 1, 0, 0}}, {9, {9600, 1, 0, 0}}}));
        start_logger();
        ASSERT_EQ(flock(pty(9).slave(), LOCK_EX | LOCK_NB), 0);
    }

    void start_run() { ASSERT_TRUE(SeamClick(panelHandle, start_button)); }

    std::string link() const { return start_dir() + "/usb-adapter"; }
    void plug(const testing_support::Pty &adapter)
    {
        unlink(link().c_str());
        ASSERT_EQ(symlink(adapter.path().c_str(), link().c_str()), 0);
    }

    // The status line's entry for a port, after a tick of its timer.
    std::string entry(int port)
    {
        EXPECT_TRUE(SeamTick(panelHandle, status_timer));
        const std::string text = SeamCtrlText(panelHandle, status_line);
        const std::size_t start = text.find("COM" + std::to_string(port) + ": ");
        const std::size_t end = std::min(text.find(" | ", start), text.find('\n', start));
        return start == std::string::npos ? text : text.substr(start, end - start);
    }
    // The run's state: the first line.
    std::string head() const
    {
        const std::string text = SeamCtrlText(panelHandle, status_line);
        return text.substr(0, text.find('\n'));
    }

    std::unique_ptr<testing_support::Pty> m_adapter;
};

ComStatus status_of(int port)
{
    ComStatus s{};
    GetComStatus(port, &s);
    return s;
}

} // namespace

TEST_F(StatusLine, ShowsBytesSilenceAPortThatFailedToOpenAndADeviceGoneAndBack)
{
    start_run();
    pty(3).write("$GPGGA\r\n");
    ASSERT_TRUE(testing_support::eventually([] { return status_of(3).bytes == 8; }));
    EXPECT_EQ(entry(3), "COM3: 8 B, last byte 0 s ago");
    EXPECT_EQ(entry(5), "COM5: nothing received yet");
    EXPECT_EQ(entry(9), "COM9: NOT OPEN, in use by another program");
    EXPECT_EQ(head(), "Logging.");

    SeamSetClock(2024, 2, 14, 10, 40, 50);
    EXPECT_EQ(entry(3), "COM3: SILENT for 45 s, 8 B received");
    EXPECT_EQ(entry(5), "COM5: SILENT, nothing received in 45 s");

    unlink(link().c_str()); // pulled out: its name goes with it
    m_adapter->close();
    ASSERT_TRUE(testing_support::eventually([] { return status_of(5).gone == 1; }));
    SeamSetClock(2024, 2, 14, 10, 43, 50);
    EXPECT_EQ(entry(5), "COM5: DEVICE GONE for 3 min, 0 B received");

    testing_support::Pty back; // plugged in again
    plug(back);
    ASSERT_TRUE(testing_support::eventually([] { return status_of(5).gone == 0; }));
    back.write("x");
    ASSERT_TRUE(testing_support::eventually([] { return status_of(5).bytes == 1; }));
    EXPECT_EQ(entry(5), "COM5: 1 B, last byte 0 s ago");
}

TEST_F(StatusLine, SaysWhenAPortIsNotRecordedOrLoggingPausedAndTicksOnlyDuringARun)
{
    // COM3's data file cannot be made; the operator goes on without it.
    ASSERT_EQ(mkdir("D045", 0755), 0);
    ASSERT_EQ(mkdir("D045/04538405.C03", 0755), 0);
    start_run();
    EXPECT_EQ(entry(3), "COM3: nothing received yet, NOT RECORDED (no data file)");
    ASSERT_TRUE(SeamClick(panelHandle, pause_button));
    EXPECT_EQ(entry(3), "COM3: nothing received yet");
    EXPECT_EQ(head(), "PAUSED: nothing is written to the data files.");
    ASSERT_TRUE(SeamClick(panelHandle, pause_button));
    entry(3);
    EXPECT_EQ(head(), "Logging.");

    DiscardPanel(panelHandle);
    start_logger(); // before a run
    EXPECT_FALSE(SeamTick(panelHandle, status_timer));
    EXPECT_EQ(SeamCtrlText(panelHandle, status_line), "Not logging yet.");
}

// COM3 fed to two loopback addresses, the second of which is taken already:
// the engine reads network.map from the directory it starts in.
class FeedStatus : public StatusLine {
protected:
    void SetUp() override
    {
        m_taken = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof a;
        ASSERT_EQ(::bind(m_taken, reinterpret_cast<sockaddr *>(&a), sizeof a), 0);
        ASSERT_EQ(::listen(m_taken, 1), 0);
        ASSERT_EQ(::getsockname(m_taken, reinterpret_cast<sockaddr *>(&a), &length), 0);
        m_port = ntohs(a.sin_port) == 65535 ? 65534 : ntohs(a.sin_port) + 1;
        testing_support::write_file(m_startDir.file("network.map"),
                                    "COM3 tcp " + std::to_string(m_port) + "\nCOM3 tcp " +
                                        std::to_string(ntohs(a.sin_port)) + "\n");
        StatusLine::SetUp();
    }
    void TearDown() override { ::close(m_taken); }

    int m_port = 0;

private:
    testing_support::TempDir m_startDir; // the engine's start-up directory
    int m_taken = -1;
};

TEST_F(FeedStatus, CountsEachPortsClientsAndSaysWhenAFeedCouldNotBeSetUp)
{
    start_run();
    int clients[2];
    for (int &fd : clients) {
        fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(static_cast<uint16_t>(m_port));
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ASSERT_EQ(::connect(fd, reinterpret_cast<sockaddr *>(&a), sizeof a), 0);
    }
    ASSERT_TRUE(testing_support::eventually([] { return status_of(3).feed_clients == 2; }));
    EXPECT_EQ(entry(3), "COM3: nothing received yet, 2 clients, FEED NOT SET UP");
    ::close(clients[0]);
    // A closed connection shows as one closed for sending alone (nc -N)
    // until a byte is sent to it: the port's next byte.
    pty(3).write("x");
    ASSERT_TRUE(testing_support::eventually([] { return status_of(3).feed_clients == 1; }));
    EXPECT_EQ(entry(3), "COM3: 1 B, last byte 0 s ago, 1 client, FEED NOT SET UP");
    EXPECT_EQ(entry(5), "COM5: nothing received yet") << "a port without feeds says nothing of them";
    ::close(clients[1]);
}

// COM3's driver counts the line's errors: the counters a UART keeps, given
// through the seam, since no pseudo-terminal has them. The monitoring
// endpoint is on: the engine reads network.map where it starts.
class LineErrors : public StatusLine {
protected:
    void SetUp() override
    {
        testing_support::write_file(m_startDir.file("network.map"), "http " + std::to_string(m_http) + "\n");
        StatusLine::SetUp();
    }

    // The driver's counters now, and what the engine is to have counted of
    // them since the open: waits until it has read them.
    void driver_counts(const std::vector<long long> &counters, const std::vector<long long> &counted)
    {
        SeamSetLineCounts(pty(3).path(), counters);
        ASSERT_TRUE(testing_support::eventually(
            [&] { return std::equal(counted.begin(), counted.end(), status_of(3).line_errors); }));
    }

    double metric(const std::string &metrics, const char *kind, int port = 3) const
    {
        return testing_support::series(metrics, "vornacq4_port_line_errors_total{port=\"COM" + std::to_string(port) +
                                                    "\",kind=\"" + kind + "\"}");
    }

    int m_http = testing_support::free_tcp_port();

private:
    testing_support::TempDir m_startDir; // the engine's start-up directory
};

TEST_F(LineErrors, AreCountedShownWhileTheyComeAndReportedOnceAnEpisode)
{
    SeamSetLineCounts(pty(3).path(), {7, 0, 40, 0, 0}); // what the driver counted before the run
    start_run();
    StderrCapture err(start_dir() + "/stderr.txt");
    driver_counts({7, 0, 42, 1, 0}, {0, 0, 2, 1, 0});
    EXPECT_EQ(entry(3), "COM3: nothing received yet, LINE ERRORS: 2 framing, 1 parity");
    SeamSetClock(2024, 2, 14, 10, 40, 8);
    driver_counts({8, 0, 45, 1, 0}, {1, 0, 5, 1, 0});
    EXPECT_EQ(entry(3), "COM3: nothing received yet, LINE ERRORS: 1 overrun, 5 framing, 1 parity");

    const std::string metrics = testing_support::get(m_http, "/metrics");
    const std::pair<const char *, double> expected[] = {
        {"overrun", 1}, {"buffer_overrun", 0}, {"framing", 5}, {"parity", 1}, {"break", 0}};
    for (const auto &e : expected)
        EXPECT_EQ(metric(metrics, e.first), e.second) << e.first << "\n" << metrics;
    EXPECT_EQ(metric(metrics, "framing", 5), -1) << "a driver without counters has no series";
    const std::string status = testing_support::get(m_http, "/status.json");
    EXPECT_NE(status.find("\"line_errors\":{\"overrun\":1,\"buffer_overrun\":0,\"framing\":5,"), std::string::npos)
        << status;

    SeamSetClock(2024, 2, 14, 10, 41, 8); // a minute without one
    EXPECT_EQ(entry(3), "COM3: SILENT, nothing received in 63 s");
    const std::string said = err.text();
    EXPECT_EQ(occurrences(said, "line errors"), 2) << said;
    EXPECT_EQ(occurrences(said, "vornacq4: COM3: line errors: 2 framing, 1 parity: "), 1) << said;
    EXPECT_EQ(occurrences(said, "vornacq4: COM3: line errors have stopped: 1 overrun, 5 framing, 1 parity in 3 s\n"), 1)
        << said;
}

// The hexadecimal text of one read, from the port's place in its 16-byte line.
TEST(HexText, BreaksTheLineAfterEachSixteenthByteOfThePortsStream)
{
    struct Case {
        std::string bytes;
        int lineLeft, lineLeftAfter;
        const char *text;
    };
    const Case cases[] = {
        {"", 16, 16, ""},
        {std::string("\0\x0D\xFF", 3), 16, 13, "00 0D FF "},
        {"AB", 1, 15, "41 \r\n42 "},
        {byte_values(0, 16), 16, 15, "00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F \r\n10 "},
    };
    for (const Case &c : cases) {
        char out[64];
        int lineLeft = c.lineLeft;
        hex_text(reinterpret_cast<const unsigned char *>(c.bytes.data()), static_cast<int>(c.bytes.size()),
                 &lineLeft, out);
        EXPECT_STREQ(out, c.text);
        EXPECT_EQ(lineLeft, c.lineLeftAfter) << c.text;
    }
}
