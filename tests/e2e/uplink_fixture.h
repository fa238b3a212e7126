// uplink_fixture.h - what the uplink's end-to-end tests share: a real
// broker (Debian's mosquitto, started on 127.0.0.1 with a port and a
// configuration of its own), a station of two pseudo-terminals whose logger
// publishes to it, the real vornacq4-shore, and the files of both read back.
#pragma once

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

namespace uplink_fixture {

constexpr int kRunMs = 40000;   // the countdown takes 12 s
constexpr int kCatchUpMs = 60000;
constexpr int kKeepalive = 5;   // seconds; the freeze below outlasts one and a half of them

// Every data file under a start-up directory (or a station's copy), by name.
inline std::map<std::string, std::string> data_files(const std::string &dir)
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
inline std::string coverage(const std::string &path)
{
    const ToolRun run = run_when({"check", path, "--utc"});
    const std::string out = run.both();
    const int status = run.status;
    std::smatch covered, tail;
    std::regex_search(out, covered, std::regex("covering \\d+ bytes(, from [^\\n]*)?"));
    std::regex_search(out, tail, std::regex("the last \\d+ bytes are not indexed"));
    return covered.str() + "|" + tail.str() + "|" + std::to_string(status);
}

// That vornacq4-when check says the same of each station file and its copy
// on shore. A tick writes its data before its index, so the station's index
// may be that moment behind its data, and the shore's copy of both: the two
// are given until they agree.
inline void expect_same_coverage(const std::string &station, const std::string &copy)
{
    for (const auto &f : data_files(station)) {
        std::string copied, kept;
        eventually(
            [&] {
                copied = coverage(copy + "/" + f.first);
                kept = coverage(station + "/" + f.first);
                return copied == kept;
            },
            kToolMs);
        EXPECT_EQ(copied, kept) << f.first;
    }
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

    // The logger, its mqtt line with `options` added and `more` lines in its
    // network.map, once its run has begun.
    std::unique_ptr<LoggerProcess> start_logger(int brokerPort, const std::string &more = "",
                                                const std::string &options = "")
    {
        write_file(m_start + "/network.map", "mqtt 127.0.0.1:" + std::to_string(brokerPort) + " station=ship keepalive=" +
                                                 std::to_string(kKeepalive) + options + "\n" + more);
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

} // namespace uplink_fixture
