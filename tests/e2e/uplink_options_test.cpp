// The uplink's options and what it meets in the files: with ack=off the
// broker's acknowledgement moves the position; with rate= a backlog goes
// no faster than the rate and still completes; a data file moved away is
// said once and skipped; a shore that lost its shore.state goes on from
// its copies without cutting a byte of them; and a port whose bytes went
// out while no shore listened comes again when the shore is back.
#include "uplink_fixture.h"

#include <sstream>

using namespace uplink_fixture;

namespace {

// The offset uplink.state holds for COM1 in `file`, or -1.
long long state_offset(const std::string &start, const std::string &file)
{
    std::istringstream in(read_file(start + "/uplink.state"));
    for (std::string line; std::getline(in, line);) {
        std::istringstream words(line);
        std::string com, name;
        long long offset = -1;
        if (words >> com >> name >> offset && com == "COM1" && name == file)
            return offset;
    }
    return -1;
}

std::string com1_file(const std::map<std::string, std::string> &files)
{
    for (const auto &f : files)
        if (f.first.compare(f.first.size() - 3, 3, "C01") == 0)
            return f.first;
    return "";
}

std::size_t count_of(const std::string &text, const std::string &what)
{
    std::size_t n = 0;
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        ++n;
    return n;
}

} // namespace

TEST_F(UplinkRun, WithAckOffTheBrokersAcknowledgementMovesThePosition)
{
    Broker broker(m_top.path(), m_port);
    broker.start();
    auto logger = start_logger(m_port, "", " ack=off"); // and no shore tool at all
    PacedWriter writer({m_com1.master()}, 4000, 12000);
    const std::string file = com1_file(data_files(m_start));
    ASSERT_FALSE(file.empty());
    ASSERT_TRUE(eventually([&] { return writer.finished(); }, 20000));
    long long size = 0;
    EXPECT_TRUE(eventually(
        [&] {
            size = static_cast<long long>(data_files(m_start)[file].size());
            return size > 0 && state_offset(m_start, file) == size;
        },
        20000))
        << size << " bytes in " << file << "\n" << read_file(m_start + "/uplink.state") << logger->stderr_text();
}

TEST_F(UplinkRun, ABacklogGoesNoFasterThanTheRateAndCompletes)
{
    constexpr long long kRate = 3000; // bytes a second
    Broker broker(m_top.path(), m_port);
    auto logger = start_logger(m_port, "", " rate=" + std::to_string(kRate));
    { // a backlog of ten seconds' worth while there is no broker
        PacedWriter writer({m_com1.master()}, 11520, PacedWriter::kEndless);
        ASSERT_TRUE(eventually([&] { return data_files(m_start)[com1_file(data_files(m_start))].size() >= 30000; },
                               20000));
    }
    std::size_t station = 0; // the last bytes of the lines reach the file at the next tick
    ASSERT_TRUE(eventually(
        [&] {
            const std::size_t was = station;
            station = data_files(m_start)[com1_file(data_files(m_start))].size();
            std::this_thread::sleep_for(std::chrono::milliseconds(600));
            return station == was;
        },
        10000));
    const auto began = std::chrono::steady_clock::now(); // before the logger can connect: load only loosens the bound
    broker.start();
    auto shore = start_shore();
    long long most = 0; // the furthest the copy ran ahead of the rate, in bytes
    const bool whole = eventually(
        [&] {
            const double t = std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
            const long long has = static_cast<long long>(shore_bytes());
            most = std::max(most, has - static_cast<long long>(static_cast<double>(kRate) * (t + 1)));
            const std::string file = com1_file(data_files(m_start)); // COM2's empty file goes only once it is done
            return data_files(m_shoreDir + "/ship")[file] == data_files(m_start)[file];
        },
        kCatchUpMs);
    EXPECT_LE(most, 0) << "bytes sent beyond the rate";
    EXPECT_TRUE(whole) << shore_bytes() << " of " << station << " bytes on shore\n" << logger->stderr_text();
}

TEST_F(UplinkRun, AFileMovedAwayBeforeItWasSentIsSaidOnceAndSkipped)
{
    Broker broker(m_top.path(), m_port);
    broker.start();
    auto shore = start_shore();
    auto logger = start_logger(m_port);
    auto writer = std::make_unique<PacedWriter>(std::vector<int>{m_com1.master(), m_com2.master()}, 2000,
                                                PacedWriter::kEndless);
    const std::string first = com1_file(data_files(m_start));
    ASSERT_TRUE(eventually([&] { return state_offset(m_start, first) > 0; }, 20000)) << logger->stderr_text();
    broker.kill(); // the rest of the first file is not sent
    std::this_thread::sleep_for(std::chrono::seconds(2));
    writer.reset();
    logger->signal(SIGTERM);
    logger->wait_exit(10000);
    ::ioctl(m_com1.slave(), TIOCNXCL);
    ::ioctl(m_com2.slave(), TIOCNXCL);
    const std::string index = "T" + first.substr(1);
    ASSERT_EQ(::rename((m_start + "/" + first).c_str(), (m_top.path() + "/moved").c_str()), 0);
    ASSERT_EQ(::rename((m_start + "/" + index).c_str(), (m_top.path() + "/moved-index").c_str()), 0);

    logger = start_logger(m_port); // a run of its own: later files
    PacedWriter later({m_com1.master(), m_com2.master()}, 4000, 8000);
    broker.start();
    std::map<std::string, std::string> station;
    EXPECT_TRUE(eventually(
        [&] {
            auto copy = data_files(m_shoreDir + "/ship");
            copy.erase(first);
            station = data_files(m_start);
            return station.size() >= 2 && copy == station;
        },
        kCatchUpMs))
        << station.size() << " files at the station\n" << logger->stderr_text();
    EXPECT_EQ(count_of(logger->stderr_text(), first + " is gone"), 1u) << logger->stderr_text();
}

TEST_F(UplinkRun, AShoreThatLostItsStateKeepsEveryByteOfItsCopies)
{
    Broker broker(m_top.path(), m_port);
    broker.start();
    auto shore = start_shore();
    auto writer = std::make_unique<PacedWriter>(std::vector<int>{m_com1.master(), m_com2.master()}, 2000,
                                                PacedWriter::kEndless);
    auto logger = start_logger(m_port);
    ASSERT_TRUE(eventually([&] { return shore_has(6000); }, 20000)) << logger->stderr_text();
    shore->signal(SIGKILL);
    shore->wait_exit(5000);
    const auto before = data_files(m_shoreDir + "/ship");
    ASSERT_EQ(::unlink((m_shoreDir + "/ship/shore.state").c_str()), 0);

    shore = start_shore();
    std::this_thread::sleep_for(std::chrono::seconds(2));
    writer.reset();
    bool kept = true; // every copy, looked at throughout, at least as long as before, and those bytes unchanged
    const bool same = eventually(
        [&] {
            const auto copy = data_files(m_shoreDir + "/ship");
            for (const auto &f : before)
                kept = kept && copy.count(f.first) != 0 && copy.at(f.first).compare(0, f.second.size(), f.second) == 0;
            return copy == data_files(m_start);
        },
        kCatchUpMs);
    EXPECT_TRUE(kept);
    EXPECT_TRUE(same) << read_file(m_top.path() + "/shore-stderr.txt");
    expect_same_coverage(m_start, m_shoreDir + "/ship");
}

TEST_F(UplinkRun, APortSentWhileNoShoreListenedComesAgainOnceTheShoreIsBack)
{
    Broker broker(m_top.path(), m_port);
    broker.start();
    auto shore = start_shore();
    const int httpPort = free_tcp_port();
    auto logger = start_logger(m_port, "http " + std::to_string(httpPort) + "\n");
    {
        PacedWriter first({m_com1.master()}, 4000, 4000);
        ASSERT_TRUE(eventually([&] { return shore_has(4000); }, 20000)) << logger->stderr_text();
    }
    // The shore away and the broker started afresh: nobody keeps a session
    // for the shore, so what the station publishes now goes to no one.
    shore->signal(SIGKILL);
    shore->wait_exit(5000);
    broker.kill();
    broker.start();
    PacedWriter second({m_com2.master()}, 4000, 4000);
    ASSERT_TRUE(eventually(
        [&] {
            return testing_support::series(testing_support::get(httpPort, "/metrics"),
                                           "vornacq4_uplink_sent_bytes_total{port=\"COM2\"}") >= 4000;
        },
        30000))
        << logger->stderr_text();

    shore = start_shore(); // it has COM1 only, and asks for that again
    EXPECT_TRUE(eventually([&] { return data_files(m_shoreDir + "/ship") == data_files(m_start); }, kCatchUpMs))
        << logger->stderr_text() << read_file(m_top.path() + "/shore-stderr.txt");
}
