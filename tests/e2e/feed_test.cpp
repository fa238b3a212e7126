// The real program feeding its ports to the network (network.map): every
// TCP client and every data file holds every byte, UDP datagrams joined give
// the stream, and clients that misbehave cost nobody else a byte. Every
// socket here is on 127.0.0.1.
#include "logger_station.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <cerrno>
#include <cstdio>
#include <fstream>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

using testing_support::bound_socket;
using testing_support::free_tcp_port;
using testing_support::loopback;
using testing_support::eventually;
using testing_support::PacedWriter;
using testing_support::stream_bytes;

namespace {

// A TCP client of a feed that keeps what it reads.
class Client {
public:
    explicit Client(int port, int receiveBuffer = 0) : m_fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0))
    {
        // Forced where the test may (root): past the system's cap, so that a
        // client meant to keep up does so even while a loaded machine starves
        // this process for seconds.
        if (receiveBuffer > 0 && setsockopt(m_fd, SOL_SOCKET, SO_RCVBUFFORCE, &receiveBuffer, sizeof receiveBuffer) != 0)
            setsockopt(m_fd, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
        const sockaddr_in a = loopback(port);
        m_connected = ::connect(m_fd, reinterpret_cast<const sockaddr *>(&a), sizeof a) == 0;
    }
    ~Client() { ::close(m_fd); }
    bool connected() const { return m_connected; }
    int fd() const { return m_fd; }
    // Reads what waits; false once the logger closed the connection.
    bool take()
    {
        char buffer[65536];
        for (;;) {
            const ssize_t n = ::recv(m_fd, buffer, sizeof buffer, MSG_DONTWAIT);
            if (n > 0)
                m_bytes.append(buffer, static_cast<std::size_t>(n));
            if (n == 0 || (n < 0 && errno != EAGAIN))
                return false;
            if (n < 0)
                return true;
        }
    }
    const std::string &bytes() const { return m_bytes; }

private:
    int m_fd;
    bool m_connected = false;
    std::string m_bytes;
};

// COM1 and COM2 on pseudo-terminals, both logged at 115200 baud.
class FeedRun : public Station {
protected:
    FeedRun()
    {
        map_ports({1, 2});
        set_table({{1, {115200, 1, 1, 1}}, {2, {115200, 1, 2, 0}}});
    }

    // Starts the logger with network.map as given; throws when no run begins.
    LoggerProcess &start_feeds(const std::string &networkMap)
    {
        set_network_map(networkMap);
        LoggerProcess &logger = start_logger();
        if (!wait_for_run())
            throw std::runtime_error("no run began: " + logger.stderr_text());
        return logger;
    }
};

// The local address of the listening socket on the port, as /proc tells it
// ("0100007F" is 127.0.0.1); "" when none listens there.
std::string listening_address(int port)
{
    std::ifstream tcp("/proc/net/tcp");
    std::string line;
    char wanted[16];
    std::snprintf(wanted, sizeof wanted, ":%04X", port);
    while (std::getline(tcp, line)) {
        char local[64] = "", remote[64] = "";
        unsigned state = 0;
        if (std::sscanf(line.c_str(), "%*d: %63s %63s %x", local, remote, &state) == 3 && state == 0x0A &&
            std::string(local).find(wanted) == 8)
            return std::string(local).substr(0, 8);
    }
    return std::string();
}

// Appends the datagrams that wait, each no longer than an Ethernet frame holds.
void drain_datagrams(int udp, std::string &joined)
{
    char datagram[65536];
    for (ssize_t n; (n = ::recv(udp, datagram, sizeof datagram, MSG_DONTWAIT)) > 0;) {
        EXPECT_LE(n, 1472);
        joined.append(datagram, static_cast<std::size_t>(n));
    }
}

bool wait_for(Client &c, std::size_t count, int ms)
{
    return eventually([&] { return !c.take() || c.bytes().size() >= count; }, ms) && c.bytes().size() >= count;
}

} // namespace

TEST_F(FeedRun, EveryClientEveryDatagramAndEveryFileHoldEveryByte)
{
    const int com1 = free_tcp_port(), capped = free_tcp_port(), com2 = free_tcp_port();
    int udpPort = 0;
    const int udp = bound_socket(SOCK_DGRAM, udpPort);
    LoggerProcess &logger = start_feeds("# live feeds\n"
                                        "COM1 tcp " + std::to_string(com1) + "\n"
                                        "COM1 tcp 127.0.0.1:" + std::to_string(capped) + " max=1   # one client\n"
                                        "COM1 udp 127.0.0.1:" + std::to_string(udpPort) + "\n"
                                        "COM2 tcp " + std::to_string(com2) + "\n"
                                        "COM3 tcp 4001 max=0\n");
    EXPECT_EQ(listening_address(com1), "0100007F") << "a feed with no address listens on loopback only";
    EXPECT_NE(logger.stderr_text().find("network.map:6:"), std::string::npos) << logger.stderr_text();

    Client a(com1), b(com1), only(capped), refused(capped), reader(com2), flooder(com2), halfClosed(com2);
    ASSERT_TRUE(a.connected() && b.connected() && only.connected() && refused.connected() && halfClosed.connected());
    ::shutdown(halfClosed.fd(), SHUT_WR); // as nc -N does: it sends no more, and still wants every byte
    ASSERT_TRUE(eventually([&] { return !refused.take(); }, 5000)) << "a client over max is closed at once";
    EXPECT_EQ(refused.bytes(), "");

    // COM1 talks at 921600 baud; COM2's flooder sends a megabyte of its own.
    const std::size_t total = 300000;
    std::string joined; // the datagrams, read as they come so that none is dropped here
    {
        PacedWriter writer({pty(1).master(), pty(2).master()}, 92160, total);
        const std::string noise(1 << 20, 'x');
        ASSERT_EQ(::send(flooder.fd(), noise.data(), noise.size(), 0), static_cast<ssize_t>(noise.size()));
        const auto taking = [&] {
            for (Client *c : {&a, &b, &only, &reader, &halfClosed})
                c->take();
            drain_datagrams(udp, joined);
            return writer.finished();
        };
        ASSERT_TRUE(eventually(taking, 20000));
    }
    const std::string sent = stream_bytes(0, total);
    for (Client *c : {&a, &b, &only, &reader, &halfClosed}) {
        ASSERT_TRUE(wait_for(*c, total, 10000)) << c->bytes().size() << " of " << total;
        EXPECT_TRUE(c->bytes() == sent) << "a client holds every byte in order";
    }
    eventually([&] { return drain_datagrams(udp, joined), joined.size() >= total; }, 5000);
    EXPECT_TRUE(joined == sent) << joined.size() << " of " << total << " bytes in datagrams";
    char echo[16];
    EXPECT_LT(::read(pty(2).master(), echo, sizeof echo), 0) << "a client's bytes never reach the device";

    EXPECT_EQ(stop_logger(), 0) << logger.stderr_text();
    EXPECT_TRUE(recording(1) == sent);
    EXPECT_TRUE(recording(2) == sent) << "the flooder changed nothing in the file";
    ::close(udp);
}

TEST_F(FeedRun, AClientThatNeverReadsIsCutOffWhileTheOthersLoseNothing)
{
    const int port = free_tcp_port();
    LoggerProcess &logger = start_feeds("COM1 tcp 127.0.0.1:" + std::to_string(port) + "\n");
    const std::size_t total = 92160 * 10;
    Client reading(port, static_cast<int>(2 * total)), idle(port, 4096);
    ASSERT_TRUE(reading.connected() && idle.connected());

    PacedWriter writer({pty(1).master()}, 92160, total);
    ASSERT_TRUE(wait_for(reading, total, 30000)) << reading.bytes().size() << " of " << total;
    EXPECT_TRUE(reading.bytes() == stream_bytes(0, total));
    EXPECT_TRUE(eventually([&] { return logger.stderr_text().find("closed: it fell 256 KiB behind") != std::string::npos; }, 5000))
        << logger.stderr_text();
    EXPECT_TRUE(eventually([&] { return !idle.take(); }, 10000)) << "its connection ends";

    EXPECT_EQ(stop_logger(), 0) << logger.stderr_text();
    EXPECT_TRUE(recording(1) == stream_bytes(0, total));
}
