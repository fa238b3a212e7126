// The uplink with a real broker, the real logger and the real
// vornacq4-shore: whatever goes down and comes back (the broker killed and
// started without its persistence, the broker frozen past the keep-alive,
// the logger killed, the shore tool killed), the shore's copy ends byte for
// byte the station's files, and vornacq4-when check says the same of both.
// A broker that accepts and never answers holds nothing up.
#include "uplink_fixture.h"

using namespace uplink_fixture;

TEST_F(UplinkRun, EveryOutageEndsWithTheShoresCopyByteForByteTheStations)
{
    Broker broker(m_top.path(), m_port);
    broker.start();
    auto shore = start_shore();
    auto writer = std::make_unique<PacedWriter>(std::vector<int>{m_com1.master(), m_com2.master()}, 2000,
                                                PacedWriter::kEndless);
    auto logger = start_logger(m_port);
    ASSERT_TRUE(eventually([&] { return shore_has(2000); }, 20000)) << logger->stderr_text();

    // The broker killed, and started again without what it kept.
    broker.kill();
    std::this_thread::sleep_for(std::chrono::seconds(kKeepalive + 2));
    broker.start();
    std::size_t had = shore_bytes();
    ASSERT_TRUE(eventually([&] { return shore_bytes() > had + 4000; }, 40000)) << logger->stderr_text();

    // The broker frozen past the keep-alive, and let go.
    broker.signal(SIGSTOP);
    std::this_thread::sleep_for(std::chrono::seconds(kKeepalive * 2));
    broker.signal(SIGCONT);
    had = shore_bytes();
    ASSERT_TRUE(eventually([&] { return shore_bytes() > had + 4000; }, 40000)) << logger->stderr_text();

    const std::string said = logger->stderr_text();
    EXPECT_NE(said.find("is gone"), std::string::npos) << said;
    EXPECT_NE(said.find("is back after"), std::string::npos) << said;

    // The logger killed and started again; the shore tool too.
    logger->signal(SIGKILL);
    logger->wait_exit(5000);
    // A device's exclusive use ends with its last user; the pseudo-terminal's
    // slave that this test holds open keeps it, so it is ended here.
    ::ioctl(m_com1.slave(), TIOCNXCL);
    ::ioctl(m_com2.slave(), TIOCNXCL);
    logger = start_logger(m_port);
    shore->signal(SIGKILL);
    shore->wait_exit(5000);
    shore = start_shore();

    // Once the instruments fall silent, the copy catches up with every file.
    std::this_thread::sleep_for(std::chrono::seconds(3));
    writer.reset();
    const bool same = eventually([&] { return data_files(m_shoreDir + "/ship") == data_files(m_start); }, kCatchUpMs);
    const auto station = data_files(m_start), copy = data_files(m_shoreDir + "/ship");
    ASSERT_TRUE(same) << station.size() << " files at the station, " << copy.size() << " on shore\n"
                      << logger->stderr_text() << read_file(m_top.path() + "/shore-stderr.txt");
    EXPECT_EQ(read_file(m_shoreDir + "/ship/status.json").compare(0, 1, "{"), 0); // the retained status, as JSON
    expect_same_coverage(m_start, m_shoreDir + "/ship");
}

TEST_F(UplinkRun, ABrokerThatAcceptsAndNeverAnswersHoldsNothingUp)
{
    int silentPort = 0;
    const int silent = testing_support::bound_socket(SOCK_STREAM, silentPort);
    ASSERT_EQ(::listen(silent, 8), 0); // the kernel completes every handshake; nothing is ever read
    const int feedPort = free_tcp_port(), httpPort = free_tcp_port();
    auto logger = start_logger(silentPort, "COM1 tcp " + std::to_string(feedPort) + "\nhttp " +
                                               std::to_string(httpPort) + "\n");
    const int client = testing_support::connect_loopback(feedPort);
    ASSERT_GE(client, 0);
    // The run's files come before its ports open (and an opening port's queue
    // is emptied): the bytes go once the port is up, and the feed has taken
    // the client on (a feed is live: a client gets what comes after it joined).
    ASSERT_TRUE(eventually(
        [&] {
            const std::string metrics = testing_support::get(httpPort, "/metrics");
            return testing_support::series(metrics, "vornacq4_port_up{port=\"COM1\"}") == 1 &&
                   testing_support::series(metrics, "vornacq4_feed_clients{port=\"COM1\"}") == 1;
        },
        20000));
    const std::string sent = testing_support::stream_bytes(0, 20000);
    m_com1.write(sent);

    std::string got;
    ASSERT_TRUE(eventually(
        [&] {
            char buffer[65536];
            const ssize_t n = ::recv(client, buffer, sizeof buffer, MSG_DONTWAIT);
            if (n > 0)
                got.append(buffer, static_cast<std::size_t>(n));
            return got.size() >= sent.size();
        },
        20000))
        << got.size() << " bytes fed\n" << logger->stderr_text();
    EXPECT_EQ(got, sent);
    ::close(client);
    EXPECT_TRUE(eventually(
        [&] {
            std::string logged;
            for (const auto &f : data_files(m_start))
                if (f.first.compare(f.first.size() - 3, 3, "C01") == 0)
                    logged += f.second;
            return logged == sent;
        },
        20000));
    const std::string metrics = testing_support::get(httpPort, "/metrics");
    EXPECT_EQ(testing_support::series(metrics, "vornacq4_uplink_connected"), 0) << metrics;
    EXPECT_EQ(testing_support::series(metrics, "vornacq4_port_received_bytes_total{port=\"COM1\"}"), 20000) << metrics;
    std::string status; // the status box's text, as the tick reports it once a second
    EXPECT_TRUE(eventually(
        [&] {
            status = testing_support::get(httpPort, "/status.json");
            return status.find("UPLINK DOWN for") != std::string::npos;
        },
        10000))
        << status;
    ::close(silent);
}

// The logger's clock runs ten times fast from four minutes before the last
// New Year's midnight (a time past, as the files' own times are the
// system's): its run crosses from D365 into D001, and the shore's copy
// follows it there, byte for byte.
TEST_F(UplinkRun, TheShoresCopyFollowsTheStationsFilesIntoTheNewYear)
{
    Broker broker(m_top.path(), m_port);
    broker.start();
    auto shore = start_shore();
    write_file(m_start + "/network.map", "mqtt 127.0.0.1:" + std::to_string(m_port) + " station=ship\n");
    const std::time_t now = std::time(nullptr);
    std::tm t{};
    gmtime_r(&now, &t);
    LoggerProcess::Options o;
    o.startDir = m_start;
    o.stderrPath = m_top.path() + "/stderr.txt";
    o.fakeTime = "@" + std::to_string(t.tm_year + 1900 - 1) + "-12-31 23:56:00 x10";
    auto writer = std::make_unique<PacedWriter>(std::vector<int>{m_com1.master(), m_com2.master()}, 2000,
                                                PacedWriter::kEndless);
    LoggerProcess logger(o);
    const auto written = [&](const std::string &day) {
        int files = 0;
        for (const auto &f : data_files(m_start))
            files += f.first.compare(0, 4, day) == 0 && !f.second.empty() ? 1 : 0;
        return files == 2;
    };
    ASSERT_TRUE(eventually([&] { return written("D365") && written("D001"); }, kRunMs)) << logger.stderr_text();
    writer.reset();
    const bool same = eventually([&] { return data_files(m_shoreDir + "/ship") == data_files(m_start); }, kCatchUpMs);
    const auto station = data_files(m_start);
    ASSERT_TRUE(same) << station.size() << " files at the station, " << data_files(m_shoreDir + "/ship").size()
                      << " on shore\n" << logger.stderr_text() << read_file(m_top.path() + "/shore-stderr.txt");
    expect_same_coverage(m_start, m_shoreDir + "/ship");
}
