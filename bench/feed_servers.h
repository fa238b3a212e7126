// feed_servers.h - the two servers feed_bench compares, each on a station of
// its own: 18 fresh pseudo-terminals, a TCP port of 127.0.0.1 for each, and
// the server process, which is ended (by its process id) with the station.
#pragma once

#include "logger_process.h"
#include "ptykit/pty.h"
#include "ptykit/station.h"

#include <cstdint>
#include <memory>
#include <string>
#include <sys/types.h>
#include <vector>

namespace bench {

enum class Server { Logger, Ser2net };

// Where feed_bench expects ser2net (Debian's package puts it there).
constexpr const char *kSer2net = "/usr/sbin/ser2net";

const char *name_of(Server s);

// `count` distinct TCP ports free on 127.0.0.1 just now: the kernel's
// choice, so that no one else's fixed ports are taken. Throws
// std::runtime_error when there are none.
std::vector<int> free_tcp_ports(int count);

// A scratch start-up directory, 18 pseudo-terminals, a TCP port for each,
// and the server serving them; the server is ended when this goes.
struct Station {
    ptykit::TempDir dir;
    std::vector<std::unique_ptr<ptykit::Pty>> ptys;
    std::vector<int> tcpPorts = free_tcp_ports(kPorts);
    pid_t pid = -1;

    Station()
    {
        for (int port = 1; port <= kPorts; ++port)
            ptys.push_back(std::make_unique<ptykit::Pty>());
    }
    ~Station() { bench::stop(pid); }

    std::vector<std::string> paths() const
    {
        std::vector<std::string> p;
        for (const auto &pty : ptys)
            p.push_back(pty->path());
        return p;
    }
    std::vector<int> masters() const
    {
        std::vector<int> m;
        for (const auto &pty : ptys)
            m.push_back(pty->master());
        return m;
    }
};

// Starts the server on the station, room made for `clientsPerPort` clients a
// port. The logger: all 18 ports logged, five shown, a feed of each on
// loopback; true once its run has begun. ser2net: true once it runs (it
// opens each device when the first client of it connects).
bool start_server(Server server, Station &s, int clientsPerPort, long rate);

// Whether every device has been opened and set raw by the server (the
// terminal's line discipline no longer edits lines); waits at most timeoutMs.
bool devices_raw(const Station &s, int timeoutMs);

// Bytes lost from each port's data files (short, or not the stream), once
// the logger has stored the last of them (it stores on its tick), or 5 s.
std::uint64_t lost_in_files(const Station &s, std::uint64_t perPort);

// Bytes that clients sent and the server wrote on to the devices, read from
// the masters (which the writer has made non-blocking).
std::uint64_t bytes_to_devices(const Station &s);

} // namespace bench
