// The real program watched from elsewhere (network.map's http line): its
// metrics and status agree with the bytes sent and the files written, and
// requests that are not ours cost nothing. Every socket is on 127.0.0.1.
#include "logger_process.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <csignal>
#include <memory>
#include <netinet/in.h>
#include <poll.h>
#include <regex>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

using testing_support::bound_socket;
using testing_support::config_bytes;
using testing_support::connect_loopback;
using testing_support::free_tcp_port;
using testing_support::get;
using testing_support::http_exchange;
using testing_support::series;
using testing_support::status_code;
using testing_support::loopback;
using testing_support::eventually;
using testing_support::list_dir;
using testing_support::PortRecord;
using testing_support::Pty;
using testing_support::read_file;
using testing_support::stream_bytes;
using testing_support::TempDir;
using testing_support::write_file;

namespace {

// COM1, COM2 and COM3 on pseudo-terminals, all logged; COM3's adapter
// plugged in from the start unless said otherwise.
class Watched : public ::testing::Test {
protected:
    explicit Watched(bool com3Plugged = true) : m_start(m_top.path() + "/start"), m_port(free_tcp_port())
    {
        ::mkdir(m_start.c_str(), 0755);
        // COM3 through a link that goes with its adapter: the terminal's own
        // name may be given to another test's terminal once it is closed.
        if (com3Plugged)
            plug_com3();
        write_file(m_start + "/comports.map",
                   testing_support::port_map_text({{1, m_com1.path()}, {2, m_com2.path()}, {3, adapter()}}));
        std::vector<PortRecord> table(18, PortRecord{9600, 0, 0, 0});
        for (int i = 0; i < 3; ++i)
            table[i] = {115200, 1, i + 1, 0};
        write_file(m_start + "/coms.cfg", config_bytes(table));
        write_file(m_start + "/network.map", "http " + std::to_string(m_port) + "\n");
        LoggerProcess::Options o;
        o.startDir = m_start;
        o.stderrPath = m_top.path() + "/stderr.txt";
        m_logger = std::make_unique<LoggerProcess>(o);
    }

    std::string adapter() const { return m_top.path() + "/usb-adapter"; }
    void plug_com3() const { ::symlink(m_com3.path().c_str(), adapter().c_str()); }

    bool running()
    {
        return eventually([&] { return get(m_port, "/metrics").find("\nvornacq4_logging 1") != std::string::npos; },
                          40000);
    }

    // All the logger wrote into the port's files.
    std::string recording(int port) const
    {
        std::string bytes;
        for (const std::string &day : list_dir(m_start))
            if (day.size() == 4 && day[0] == 'D')
                for (const std::string &file : list_dir(m_start + "/" + day))
                    if (file.size() == 12 && file.compare(8, 4, ".C0" + std::to_string(port)) == 0)
                        bytes += read_file(m_start + "/" + day + "/" + file);
        return bytes;
    }

    Pty m_com1, m_com2, m_com3;
    TempDir m_top;
    std::string m_start;
    int m_port;
    std::unique_ptr<LoggerProcess> m_logger;
};

} // namespace

TEST_F(Watched, MetricsAndStatusAgreeWithTheBytesSentAndTheFilesWritten)
{
    ASSERT_TRUE(running()) << m_logger->stderr_text();
    ::unlink(adapter().c_str()); // unplugged: its name goes with it
    m_com3.close();
    m_com1.write(stream_bytes(0, 5000));
    m_com2.write(stream_bytes(0, 7000));
    std::string metrics;
    ASSERT_TRUE(eventually(
        [&] {
            metrics = get(m_port, "/metrics");
            return series(metrics, "vornacq4_file_written_bytes_total{port=\"COM2\"}") == 7000 &&
                   series(metrics, "vornacq4_file_written_bytes_total{port=\"COM1\"}") == 5000;
        },
        10000))
        << metrics;
    EXPECT_EQ(series(metrics, "vornacq4_port_received_bytes_total{port=\"COM1\"}"), 5000);
    EXPECT_EQ(series(metrics, "vornacq4_port_up{port=\"COM1\"}"), 1);
    EXPECT_TRUE(eventually([&] { return series(get(m_port, "/metrics"), "vornacq4_port_up{port=\"COM3\"}") == 0; }, 5000))
        << "a logged port without its device";
    EXPECT_EQ(series(metrics, "vornacq4_port_logged{port=\"COM3\"}"), 1);
    EXPECT_EQ(series(metrics, "vornacq4_file_lost_bytes_total{port=\"COM1\"}"), 0);
    EXPECT_GT(series(metrics, "vornacq4_run_start_timestamp_seconds"), 1.7e9);
    EXPECT_NE(metrics.find("vornacq4_build_info{version=\""), std::string::npos);
    EXPECT_EQ(recording(1).size(), 5000u) << "the counter is what the files hold";

    if (::access("/usr/bin/promtool", X_OK) == 0) {
        const std::string body = metrics.substr(metrics.find("\r\n\r\n") + 4);
        write_file(m_top.path() + "/metrics.txt", body);
        int status = -1;
        const std::string said = testing_support::command_line_output(
            "promtool check metrics < " + m_top.path() + "/metrics.txt 2>&1", &status);
        EXPECT_EQ(status, 0) << said;
    }
    const std::string status = get(m_port, "/status.json");
    for (const char *port : {"\"port\":\"COM1\"", "\"port\":\"COM2\"", "\"port\":\"COM3\""})
        EXPECT_NE(status.find(port), std::string::npos) << status;
    EXPECT_NE(status.find("\"state\":\"gone\""), std::string::npos) << status;
    EXPECT_NE(status.find("\"status_text\":\"Logging.\\n"), std::string::npos) << status;
}

// After a reboot, an adapter whose link udev makes only after the logger
// has started.
class PluggedLate : public Watched {
protected:
    PluggedLate() : Watched(false) {}
};

TEST_F(PluggedLate, ALoggedPortWhoseDeviceIsMissingAtTheStartIsWaitedForAndItsBytesLogged)
{
    const std::string table = read_file(m_start + "/coms.cfg");
    ASSERT_TRUE(running()) << m_logger->stderr_text();
    std::string metrics = get(m_port, "/metrics");
    EXPECT_EQ(series(metrics, "vornacq4_port_logged{port=\"COM3\"}"), 1) << metrics;
    EXPECT_EQ(series(metrics, "vornacq4_port_up{port=\"COM3\"}"), 0);
    std::string status;
    EXPECT_TRUE(eventually(
        [&] {
            status = get(m_port, "/status.json");
            return status.find("COM3: NOT OPEN, no such device") != std::string::npos;
        },
        5000))
        << status;
    EXPECT_NE(status.find("\"port\":\"COM3\""), std::string::npos);

    plug_com3();
    ASSERT_TRUE(eventually([&] { return series(get(m_port, "/metrics"), "vornacq4_port_up{port=\"COM3\"}") == 1; },
                           10000));
    m_com3.write(stream_bytes(0, 3000));
    EXPECT_TRUE(eventually([&] { return recording(3) == stream_bytes(0, 3000); }, 10000)) << recording(3).size();
    EXPECT_EQ(read_file(m_start + "/coms.cfg"), table) << "coms.cfg is not rewritten at start-up";
}

TEST_F(Watched, RequestsThatAreNotOursGetNoAnswerAndIdleConnectionsStopNoLogging)
{
    ASSERT_TRUE(running()) << m_logger->stderr_text();
    const std::string hostile[] = {
        "GET /" + std::string(100 * 1024, 'a') + " HTTP/1.1\r\nHost: x\r\n\r\n",
        "POST /metrics HTTP/1.1\r\nHost: x\r\nContent-Length: 3\r\n\r\nabc",
        "GET /../../etc/passwd HTTP/1.1\r\nHost: x\r\n\r\n",
        "GET /metrics/../status.json HTTP/1.1\r\nHost: x\r\n\r\n",
        std::string("\x16\x03\x01\x02\x00\x01\x00\x01\xfc\x03\x03\0\0garbage\r\n\r\n", 24),
    };
    for (const std::string &request : hostile) {
        const std::string answer = http_exchange(m_port, request);
        const int code = status_code(answer);
        EXPECT_TRUE(code == 0 || code >= 400) << answer.substr(0, 200);
        EXPECT_EQ(answer.find("root:"), std::string::npos);
    }

    std::vector<int> idle;
    for (int i = 0; i < 200; ++i)
        idle.push_back(connect_loopback(m_port));
    m_com1.write(stream_bytes(0, 9000));
    EXPECT_TRUE(eventually([&] { return recording(1).size() == 9000; }, 10000)) << "logging goes on";
    for (int fd : idle)
        ::close(fd);
    EXPECT_TRUE(eventually([&] { return status_code(get(m_port, "/metrics")) == 200; }, 15000));
    m_logger->signal(SIGTERM);
    EXPECT_EQ(m_logger->wait_exit(10000), 0) << m_logger->stderr_text();
}
