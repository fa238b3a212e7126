#include "feed_servers.h"

#include "ptykit/loopback.h"
#include "ptykit/stream.h"

#include <chrono>
#include <sys/socket.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

namespace bench {

const char *name_of(Server s)
{
    switch (s) {
    case Server::Logger:
        return "logger";
    case Server::Ser2net:
        return "ser2net";
    }
    return "?";
}

std::vector<int> free_tcp_ports(int count)
{
    std::vector<int> fds, ports;
    // All held open until the last is found, so that no port comes twice.
    for (int i = 0; i < count; ++i) {
        int port = 0;
        fds.push_back(ptykit::bound_socket(SOCK_STREAM, port));
        ports.push_back(port);
    }
    for (int fd : fds)
        close(fd);
    return ports;
}

namespace {

// The logger with all 18 ports logged, five shown, and a feed of each on
// loopback; true once its run has begun.
bool start_logger(Station &s)
{
    write_station(s.dir.path(), s.paths());
    std::string feeds = "# network.map: a live feed of each port, on loopback\n";
    for (int port = 1; port <= kPorts; ++port)
        feeds += "COM" + std::to_string(port) + "  tcp 127.0.0.1:" + std::to_string(s.tcpPorts[port - 1]) + "\n";
    ptykit::write_file(s.dir.file("network.map"), feeds);
    s.pid = spawn({VORNACQ4_BINARY}, s.dir.path(), "/dev/null", s.dir.file("server.txt"),
                         logger_env(s.dir.path()));
    return wait_for_run(s.dir.path(), kPorts, 40000) && running(s.pid);
}

// ser2net 4 in the foreground, one connection a port with its defaults but
// for room for our clients (it takes one by default); it opens each device
// when the first client comes.
bool start_ser2net(Station &s, int clientsPerPort, long rate)
{
    std::string yaml = "%YAML 1.1\n---\n";
    for (int port = 1; port <= kPorts; ++port) {
        const std::string n = std::to_string(port);
        yaml += "connection: &com" + n + "\n"
                "    accepter: tcp,127.0.0.1," + std::to_string(s.tcpPorts[port - 1]) + "\n"
                "    enable: on\n"
                "    options:\n"
                "      kickolduser: false\n"
                "      max-connections: " + std::to_string(clientsPerPort) + "\n"
                "    connector: serialdev," + s.ptys[port - 1]->path() + "," + std::to_string(rate * 10) + "n81,local\n\n";
    }
    ptykit::write_file(s.dir.file("ser2net.yaml"), yaml);
    s.pid = spawn({kSer2net, "-d", "-c", s.dir.file("ser2net.yaml")}, s.dir.path(), "/dev/null",
                         s.dir.file("server.txt"), {"PATH=/usr/sbin:/usr/bin:/bin", "HOME=" + s.dir.path()});
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    return running(s.pid);
}

} // namespace

bool start_server(Server server, Station &s, int clientsPerPort, long rate)
{
    if (server == Server::Logger)
        return start_logger(s);
    return start_ser2net(s, clientsPerPort, rate);
}

bool devices_raw(const Station &s, int timeoutMs)
{
    return ptykit::eventually(
        [&s] {
            for (const auto &pty : s.ptys) {
                termios tio{};
                if (tcgetattr(pty->slave(), &tio) != 0 || (tio.c_lflag & ICANON) != 0)
                    return false;
            }
            return true;
        },
        timeoutMs);
}

std::uint64_t lost_in_files(const Station &s, std::uint64_t perPort)
{
    ptykit::eventually([&] { return bytes_under(s.dir.path(), 'D') >= perPort * kPorts; }, 5000);
    std::uint64_t lost = 0;
    for (int port = 1; port <= kPorts; ++port) {
        const std::string data = recorded(s.dir.path(), port);
        const std::uint64_t intact = intact_prefix(data);
        lost += perPort - std::min(perPort, intact) + (data.size() > intact ? data.size() - intact : 0);
    }
    return lost;
}

std::uint64_t bytes_to_devices(const Station &s)
{
    std::uint64_t total = 0;
    char buffer[4096];
    for (int fd : s.masters())
        for (int i = 0; i < 10000; ++i) { // the masters are non-blocking since the writer
            const ssize_t n = read(fd, buffer, sizeof buffer);
            if (n <= 0)
                break;
            total += static_cast<std::uint64_t>(n);
        }
    return total;
}

} // namespace bench
