// feed_clients.h - the TCP clients of feed_bench: programs that read a
// port's live feed on 127.0.0.1, and the two kinds that misbehave.
//
// One thread waits on every socket that reads and notes, for each read, how
// many bytes the client holds and when it got them: with the moments the
// bytes were written (ptykit::PacedWriter's stamps), that gives each write's
// latency without stamping the stream itself. Each read is checked against
// the test stream as it comes, so nothing is kept but counts and moments.
// A second thread writes the flooders' junk, at a fixed pace far above any port's.
#pragma once

#include "ptykit/stream.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <thread>
#include <vector>

namespace bench {

enum class Role {
    Reader,  // reads everything, at once
    Silent,  // never reads (until the end, to see whether it was cut off)
    Flooder, // reads, and sends the server junk at 1 MB a second
};

struct Arrival {
    std::uint64_t held; // bytes the client held after the read
    std::chrono::steady_clock::time_point at;
};

struct Client {
    int port = 0; // 1 to 18
    Role role = Role::Reader;
    int fd = -1;
    std::atomic<std::uint64_t> received{0};
    std::uint64_t intact = 0; // how many of them follow the test stream from its start
    bool ended = false;       // the server closed the connection (or reset it)
    std::vector<Arrival> arrivals;
};

class Clients {
public:
    Clients() = default;
    ~Clients(); // stops the threads, closes every socket
    Clients(const Clients &) = delete;
    Clients &operator=(const Clients &) = delete;

    // Connects, for each port i (1-based), one client of each role in `roles`
    // to 127.0.0.1:tcpPorts[i - 1], retrying refused connections until
    // `timeoutMs` has passed over all. Returns false, with no client kept,
    // when any of them cannot connect.
    bool connect_all(const std::vector<int> &tcpPorts, const std::vector<Role> &roles, int timeoutMs);
    // Starts reading (and flooding); halt() stops both, at once.
    void start();
    void halt();
    // Whether every client that reads holds `bytes` or has been closed.
    bool readers_hold(std::uint64_t bytes) const;
    // After halt(): reads each silent client to its end, within `timeoutMs`
    // over all; returns how many were closed by the server.
    int drain_silent(int timeoutMs);

    const std::vector<std::unique_ptr<Client>> &all() const { return m_clients; }
    std::uint64_t flooded() const { return m_flooded; }

private:
    void read_loop();
    void flood_loop();

    std::vector<std::unique_ptr<Client>> m_clients;
    std::atomic<bool> m_stop{false};
    std::atomic<std::uint64_t> m_flooded{0};
    std::thread m_reader, m_flooder;
};

// Appends to `out` the latency in milliseconds of every write to the
// client's port (stamps) whose bytes it holds intact: from the moment before
// the write to the first read after which it held that write's last byte.
void add_latencies(const Client &client, const std::vector<ptykit::PacedWriter::Stamp> &stamps,
                   std::vector<double> &out);

} // namespace bench
