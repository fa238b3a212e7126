// The uplink with a real broker (Debian's mosquitto, started here on
// 127.0.0.1 with a port and a configuration of its own), the real logger
// and the real vornacq4-shore: whatever goes down and comes back (the
// broker killed and started without its persistence, the broker frozen past
// the keep-alive, the logger killed, the shore tool killed), the shore's
// copy ends byte for byte the station's files, and vornacq4-when check says
// the same of both. A broker that accepts and never answers holds nothing up.
#include "logger_process.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <csignal>
#include <memory>
#include <netinet/in.h>
#include <regex>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

using testing_support::config_bytes;
using testing_support::eventually;
using testing_support::free_tcp_port;
using testing_support::list_dir;
using testing_support::PacedWriter;
using testing_support::PortRecord;
using testing_support::Pty;
using testing_support::read_file;
using testing_support::TempDir;
using testing_support::write_file;

namespace {

constexpr int kRunMs = 40000;   // the countdown takes 12 s
constexpr int kCatchUpMs = 60000;
constexpr int kKeepalive = 5;   // seconds; the freeze below outlasts one and a half of them

// Every data file under a start-up directory (or a station's copy), by name.
std::map<std::string, std::string> data_files(const std::string &dir)
{
    std::map<std::string, std::string> files;
    for (const std::string &day : list_dir(dir))
        if (day.size() == 4 && day[0] == 'D')
            for (const std::string &name : list_dir(dir + "/" + day))
                files[day + "/" + name] = read_file(dir + "/" + day + "/" + name);
    return files;
}

// What vornacq4-when check says of a file that placing cannot change:
// the bytes covered, the tail not indexed, and whether it agrees.
std::string coverage(const std::string &path)
{
    const ToolRun run = run_when({"check", path, "--utc"});
    const std::string out = run.both();
    const int status = run.status;
    std::smatch covered, tail;
    std::regex_search(out, covered, std::regex("covering \\d+ bytes(, from [^\\n]*)?"));
    std::regex_search(out, tail, std::regex("the last \\d+ bytes are not indexed"));
    return covered.str() + "|" + tail.str() + "|" + std::to_string(status);
}

class Broker {
public:
    Broker(const std::string &dir, int port) : m_dir(dir), m_port(port) {}
    // Started afresh, without what an earlier run kept.
    void start()
    {
        write_file(m_dir + "/mosquitto.conf", "listener " + std::to_string(m_port) +
                                                  " 127.0.0.1\nallow_anonymous true\npersistence false\n");
        LoggerProcess::Options o;
        o.binary = "/usr/sbin/mosquitto";
        o.args = {"-c", m_dir + "/mosquitto.conf"};
        o.startDir = m_dir;
        o.stderrPath = m_dir + "/mosquitto.log";
        m_process = std::make_unique<LoggerProcess>(o);
        ASSERT_TRUE(eventually(
            [&] {
                const int fd = testing_support::connect_loopback(m_port);
                if (fd >= 0)
                    ::close(fd);
                return fd >= 0;
            },
            10000));
    }
    void signal(int sig) { m_process->signal(sig); }
    void kill()
    {
        m_process->signal(SIGKILL);
        m_process->wait_exit(5000);
        m_process.reset();
    }

private:
    std::string m_dir;
    int m_port;
    std::unique_ptr<LoggerProcess> m_process;
};

class UplinkRun : public ::testing::Test {
protected:
    UplinkRun() : m_start(m_top.path() + "/start"), m_shoreDir(m_top.path() + "/shore"), m_port(free_tcp_port())
    {
        ::mkdir(m_start.c_str(), 0755);
        ::mkdir(m_shoreDir.c_str(), 0755);
        write_file(m_start + "/comports.map",
                   testing_support::port_map_text({{1, m_com1.path()}, {2, m_com2.path()}}));
        std::vector<PortRecord> table(18, PortRecord{9600, 0, 0, 0});
        table[0] = {115200, 1, 1, 0};
        table[1] = {115200, 1, 2, 1};
        write_file(m_start + "/coms.cfg", config_bytes(table));
    }

    std::unique_ptr<LoggerProcess> start_logger(int brokerPort, const std::string &more = "")
    {
        write_file(m_start + "/network.map", "mqtt 127.0.0.1:" + std::to_string(brokerPort) +
                                                 " station=ship keepalive=" + std::to_string(kKeepalive) + "\n" + more);
        LoggerProcess::Options o;
        o.startDir = m_start;
        o.stderrPath = m_top.path() + "/stderr.txt";
        auto logger = std::make_unique<LoggerProcess>(o);
        const std::size_t before = data_files(m_start).size();
        if (!eventually([&] { return data_files(m_start).size() >= before + 2; }, kRunMs))
            throw std::runtime_error("no run began: " + logger->stderr_text());
        return logger;
    }

    std::unique_ptr<LoggerProcess> start_shore()
    {
        LoggerProcess::Options o;
        o.binary = VORNACQ4_SHORE_BINARY;
        o.args = {"127.0.0.1:" + std::to_string(m_port), m_shoreDir, "id=shore-test", "keepalive=5"};
        o.startDir = m_top.path();
        o.stderrPath = m_top.path() + "/shore-stderr.txt";
        return std::make_unique<LoggerProcess>(o);
    }

    // Whether the shore's copy holds at least `bytes` bytes.
    bool shore_has(std::size_t bytes)
    {
        std::size_t total = 0;
        for (const auto &f : data_files(m_shoreDir + "/ship"))
            total += f.second.size();
        return total >= bytes;
    }
    std::size_t shore_bytes()
    {
        std::size_t total = 0;
        for (const auto &f : data_files(m_shoreDir + "/ship"))
            total += f.second.size();
        return total;
    }

    Pty m_com1, m_com2;
    TempDir m_top;
    std::string m_start, m_shoreDir;
    int m_port;
};

} // namespace

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
    // A tick writes its data before its index: the station's index may be that
    // moment behind its data, and the shore's copy of both.
    for (const auto &f : station) {
        std::string copied, kept;
        eventually(
            [&] {
                copied = coverage(m_shoreDir + "/ship/" + f.first);
                kept = coverage(m_start + "/" + f.first);
                return copied == kept;
            },
            kToolMs);
        EXPECT_EQ(copied, kept) << f.first;
    }
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
