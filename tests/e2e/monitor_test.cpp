// The real program watched from elsewhere (network.map's http line): its
// metrics and status agree with the bytes sent and the files written, and
// requests that are not ours cost nothing. Every socket is on 127.0.0.1.
#include "logger_station.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <unistd.h>

using testing_support::connect_loopback;
using testing_support::free_tcp_port;
using testing_support::get;
using testing_support::http_exchange;
using testing_support::series;
using testing_support::status_code;
using testing_support::eventually;
using testing_support::Pty;
using testing_support::read_file;
using testing_support::stream_bytes;
using testing_support::write_file;

namespace {

// COM1, COM2 and COM3 on pseudo-terminals, all logged; COM3's adapter
// plugged in from the start unless said otherwise.
class Watched : public Station {
protected:
    explicit Watched(bool com3Plugged = true) : m_port(free_tcp_port())
    {
        // COM3 through a link that goes with its adapter: the terminal's own
        // name may be given to another test's terminal once it is closed.
        map_ports({1, 2}, {}, {{3, adapter()}});
        if (com3Plugged)
            plug_com3();
        set_table({{1, {115200, 1, 1, 0}}, {2, {115200, 1, 2, 0}}, {3, {115200, 1, 3, 0}}});
        set_network_map("http " + std::to_string(m_port) + "\n");
        start_logger();
    }

    std::string adapter() const { return top() + "/usb-adapter"; }
    void plug_com3() const { ::symlink(m_com3.path().c_str(), adapter().c_str()); }

    // The run has begun, and the endpoint says so.
    bool running()
    {
        return wait_for_run() &&
               eventually([&] { return get(m_port, "/metrics").find("\nvornacq4_logging 1") != std::string::npos; },
                          kExitMs);
    }

    Pty m_com3;
    int m_port;
};

} // namespace

TEST_F(Watched, MetricsAndStatusAgreeWithTheBytesSentAndTheFilesWritten)
{
    ASSERT_TRUE(running()) << logger().stderr_text();
    ::unlink(adapter().c_str()); // unplugged: its name goes with it
    m_com3.close();
    pty(1).write(stream_bytes(0, 5000));
    pty(2).write(stream_bytes(0, 7000));
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
        write_file(top() + "/metrics.txt", body);
        LoggerProcess::Options promtool;
        promtool.binary = "/usr/bin/promtool";
        promtool.args = {"check", "metrics"};
        promtool.stdinPath = top() + "/metrics.txt";
        const ToolRun said = run_tool(promtool);
        EXPECT_EQ(said.status, 0) << said.both();
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
    const std::string table = read_file(in_start("coms.cfg"));
    ASSERT_TRUE(running()) << logger().stderr_text();
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
    EXPECT_EQ(read_file(in_start("coms.cfg")), table) << "coms.cfg is not rewritten at start-up";
}

TEST_F(Watched, RequestsThatAreNotOursGetNoAnswerAndIdleConnectionsStopNoLogging)
{
    ASSERT_TRUE(running()) << logger().stderr_text();
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
    pty(1).write(stream_bytes(0, 9000));
    EXPECT_TRUE(eventually([&] { return recording(1).size() == 9000; }, 10000)) << "logging goes on";
    for (int fd : idle)
        ::close(fd);
    EXPECT_TRUE(eventually([&] { return status_code(get(m_port, "/metrics")) == 200; }, 15000));
    EXPECT_EQ(stop_logger(), 0) << logger().stderr_text();
}
