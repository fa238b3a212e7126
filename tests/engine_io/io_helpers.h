// Helpers shared by the serial tests: waiting with a deadline, reading what a
// port delivers, and a writer that feeds a pseudo-terminal from its own thread.
#pragma once

#include "engine.h"
#include "test_support.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <poll.h>
#include <string>
#include <sys/ioctl.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

namespace io_test {

using testing_support::eventually;

// Reads what the port delivers, as the logger's tick does (GetInQLen, then
// ComRd of that many), until `count` bytes came or the deadline passes.
inline std::string read_port(int port, std::size_t count, int timeoutMs = 5000)
{
    std::string got;
    eventually(
        [&] {
            const int waiting = GetInQLen(port);
            if (waiting <= 0)
                return got.size() >= count || waiting < 0;
            std::string chunk(static_cast<std::size_t>(waiting), '\0');
            const int n = ComRd(port, &chunk[0], waiting);
            if (n > 0)
                got.append(chunk, 0, static_cast<std::size_t>(n));
            return got.size() >= count;
        },
        timeoutMs);
    return got;
}

// Bytes waiting in the terminal's own input buffer, seen through any
// descriptor of the device.
inline int kernel_input_bytes(int fd)
{
    int n = -1;
    return ioctl(fd, FIONREAD, &n) == 0 ? n : -1;
}

// Whether the master side has anything to read (an echo, for instance).
inline bool master_readable(int master, int timeoutMs)
{
    pollfd p{master, POLLIN, 0};
    return poll(&p, 1, timeoutMs) > 0 && (p.revents & POLLIN);
}

// Writes bytes on a pty master from a thread of its own, so the test can let
// the engine's queue fill while the writer blocks on a full terminal buffer.
// stop() gives up early, so a failing test never hangs on a blocked writer.
class Writer {
public:
    Writer(int master, std::string bytes, std::size_t burst = 4096)
        : m_master(master), m_bytes(std::move(bytes)), m_burst(burst)
    {
        fcntl(m_master, F_SETFL, fcntl(m_master, F_GETFL) | O_NONBLOCK);
        m_thread = std::thread([this] { run(); });
    }
    ~Writer() { stop(); }
    Writer(const Writer &) = delete;
    Writer &operator=(const Writer &) = delete;

    std::size_t written() const { return m_written; }
    bool finished() const { return m_written == m_bytes.size(); }
    void stop()
    {
        m_stop = true;
        if (m_thread.joinable())
            m_thread.join();
    }

private:
    void run()
    {
        std::size_t done = 0;
        while (done < m_bytes.size() && !m_stop) {
            pollfd p{m_master, POLLOUT, 0};
            if (poll(&p, 1, 20) <= 0)
                continue;
            const std::size_t n = std::min(m_burst, m_bytes.size() - done);
            const ssize_t w = ::write(m_master, m_bytes.data() + done, n);
            if (w > 0) {
                done += static_cast<std::size_t>(w);
                m_written = done;
            } else if (w < 0 && errno != EAGAIN && errno != EINTR) {
                return;
            }
        }
    }

    int m_master;
    std::string m_bytes;
    std::size_t m_burst;
    std::atomic<std::size_t> m_written{0};
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

// A pattern in which a lost, doubled or swapped byte shows: consecutive
// stretches never repeat within the length of a test.
inline std::string pattern(std::size_t count)
{
    std::string s(count, '\0');
    unsigned x = 12345u;
    for (std::size_t i = 0; i < count; ++i) {
        x = x * 1103515245u + 12345u;
        s[i] = static_cast<char>(x >> 16);
    }
    return s;
}

} // namespace io_test
