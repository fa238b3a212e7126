#include "feed_clients.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace bench {

namespace {

using Clock = std::chrono::steady_clock;

// What one wakeup reads from one socket at most, so that no client keeps
// the others waiting: 16 reads of 64 KiB, far above any feed's second.
constexpr int kReadsAWake = 16;
constexpr std::size_t kReadSize = 65536;
// What each flooder sends a second: ten times what a port brings at 921600
// baud, and bounded, so that the flood tests the server's discarding rather
// than takes a core of the machine from everyone (unpaced, loopback carries
// gigabytes a second). A send the server has no room for waits for the next.
constexpr double kFloodRate = 1e6;
// A silent client's receive buffer: small, so that the server's own queue
// for it, not the kernel's buffers, is what fills.
constexpr int kSilentBuffer = 4096;

// A connection to 127.0.0.1:port, non-blocking once made; -1 when refused
// until the deadline.
int connect_local(int port, int receiveBuffer, Clock::time_point deadline)
{
    while (Clock::now() < deadline) {
        const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (fd < 0)
            return -1;
        if (receiveBuffer > 0)
            setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_port = htons(static_cast<std::uint16_t>(port));
        to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (connect(fd, reinterpret_cast<const sockaddr *>(&to), sizeof to) == 0) {
            fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
            return fd;
        }
        close(fd);
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return -1;
}

void note(Client &c, const char *bytes, std::size_t n)
{
    const auto now = Clock::now();
    const std::uint64_t at = c.received;
    if (c.intact == at && ptykit::stream_intact(bytes, n, at))
        c.intact = at + n;
    c.received = at + n;
    c.arrivals.push_back({at + n, now});
}

// Reads what the client's socket holds; false once the server has closed
// the connection.
bool take(Client &c, char *buffer)
{
    for (int i = 0; i < kReadsAWake; ++i) {
        const ssize_t n = recv(c.fd, buffer, kReadSize, 0);
        if (n > 0)
            note(c, buffer, static_cast<std::size_t>(n));
        else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            return true;
        else if (n == 0 || errno != EINTR)
            return false;
    }
    return true;
}

// Junk for the flooders: bytes 251 to 255, which the test stream never
// holds, so a single one of them reaching a data file or a client shows.
const std::vector<char> &junk()
{
    static const std::vector<char> bytes = [] {
        std::vector<char> b(kReadSize);
        for (std::size_t i = 0; i < b.size(); ++i)
            b[i] = static_cast<char>(251 + i % 5);
        return b;
    }();
    return bytes;
}

} // namespace

Clients::~Clients()
{
    halt();
    for (const auto &c : m_clients)
        close(c->fd);
}

bool Clients::connect_all(const std::vector<int> &tcpPorts, const std::vector<Role> &roles, int timeoutMs)
{
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (std::size_t i = 0; i < tcpPorts.size(); ++i)
        for (Role role : roles) {
            auto c = std::make_unique<Client>();
            c->port = static_cast<int>(i) + 1;
            c->role = role;
            c->fd = connect_local(tcpPorts[i], role == Role::Silent ? kSilentBuffer : 0, deadline);
            if (c->fd < 0) {
                for (const auto &made : m_clients)
                    close(made->fd);
                m_clients.clear();
                return false;
            }
            c->arrivals.reserve(16384);
            m_clients.push_back(std::move(c));
        }
    return true;
}

void Clients::start()
{
    m_stop = false;
    m_reader = std::thread([this] { read_loop(); });
    m_flooder = std::thread([this] { flood_loop(); });
}

void Clients::halt()
{
    m_stop = true;
    if (m_reader.joinable())
        m_reader.join();
    if (m_flooder.joinable())
        m_flooder.join();
}

bool Clients::readers_hold(std::uint64_t bytes) const
{
    for (const auto &c : m_clients)
        if (c->role != Role::Silent && c->received < bytes && !c->ended)
            return false;
    return true;
}

void Clients::read_loop()
{
    const int poller = epoll_create1(EPOLL_CLOEXEC);
    for (const auto &c : m_clients) {
        if (c->role == Role::Silent)
            continue;
        epoll_event want{};
        want.events = EPOLLIN | EPOLLRDHUP;
        want.data.ptr = c.get();
        epoll_ctl(poller, EPOLL_CTL_ADD, c->fd, &want);
    }
    std::vector<char> buffer(kReadSize);
    epoll_event ready[64];
    while (!m_stop) {
        const int n = epoll_wait(poller, ready, 64, 100);
        for (int i = 0; i < n; ++i) {
            Client &c = *static_cast<Client *>(ready[i].data.ptr);
            if (!take(c, buffer.data())) {
                c.ended = true;
                epoll_ctl(poller, EPOLL_CTL_DEL, c.fd, nullptr);
            }
        }
    }
    close(poller);
}

void Clients::flood_loop()
{
    std::vector<Client *> flooders;
    for (const auto &c : m_clients)
        if (c->role == Role::Flooder)
            flooders.push_back(c.get());
    std::vector<std::uint64_t> sent(flooders.size(), 0);
    const auto start = Clock::now();
    while (!m_stop && !flooders.empty()) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
        const auto due = static_cast<std::uint64_t>(elapsed * kFloodRate);
        for (std::size_t i = 0; i < flooders.size(); ++i) {
            if (sent[i] >= due || flooders[i]->fd < 0)
                continue;
            const std::size_t part = std::min<std::uint64_t>(due - sent[i], junk().size());
            const ssize_t n = send(flooders[i]->fd, junk().data(), part, MSG_NOSIGNAL | MSG_DONTWAIT);
            if (n > 0)
                sent[i] += static_cast<std::uint64_t>(n);
            if (n > 0)
                m_flooded += static_cast<std::uint64_t>(n);
        }
    }
}

int Clients::drain_silent(int timeoutMs)
{
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    std::vector<char> buffer(kReadSize);
    int closed = 0;
    for (const auto &c : m_clients) {
        if (c->role != Role::Silent)
            continue;
        pollfd p{c->fd, POLLIN, 0};
        while (!c->ended && Clock::now() < deadline)
            if (poll(&p, 1, 50) > 0 && !take(*c, buffer.data()))
                c->ended = true;
        closed += c->ended ? 1 : 0;
    }
    return closed;
}

void add_latencies(const Client &client, const std::vector<ptykit::PacedWriter::Stamp> &stamps,
                   std::vector<double> &out)
{
    std::size_t a = 0;
    for (const auto &stamp : stamps) {
        if (stamp.end > client.intact)
            return;
        while (a < client.arrivals.size() && client.arrivals[a].held < stamp.end)
            ++a;
        if (a == client.arrivals.size())
            return;
        out.push_back(std::chrono::duration<double, std::milli>(client.arrivals[a].at - stamp.at).count());
    }
}

} // namespace bench
