#include "ptykit/stream.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

namespace ptykit {

namespace {

constexpr std::size_t kPeriod = 251;
constexpr std::size_t kChunk = kStreamChunk;

} // namespace

// The stream repeated to kChunk + kPeriod bytes, so that any position can be
// read as one contiguous slice.
const char *stream_at(std::uint64_t offset)
{
    static char bytes[kChunk + kPeriod];
    static const bool filled = [] {
        for (std::size_t i = 0; i < sizeof bytes; ++i)
            bytes[i] = static_cast<char>(i % kPeriod);
        return true;
    }();
    (void)filled;
    return bytes + offset % kPeriod;
}

std::string stream_bytes(std::uint64_t offset, std::size_t count)
{
    std::string bytes;
    bytes.reserve(count);
    while (bytes.size() < count) {
        const std::size_t part = std::min(kChunk, count - bytes.size());
        bytes.append(stream_at(offset + bytes.size()), part);
    }
    return bytes;
}

bool stream_intact(const char *data, std::size_t n, std::uint64_t offset)
{
    while (n > 0) {
        const std::size_t part = n < kChunk ? n : kChunk;
        if (std::memcmp(data, stream_at(offset), part) != 0)
            return false;
        data += part;
        offset += part;
        n -= part;
    }
    return true;
}

PacedWriter::PacedWriter(std::vector<int> masters, long bytesPerSecond, std::uint64_t total, std::uint64_t offset,
                         bool stamped)
    : m_masters(std::move(masters)), m_rate(bytesPerSecond), m_total(total), m_offset(offset),
      m_stamps(stamped ? m_masters.size() : 0)
{
    for (int fd : m_masters)
        fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
    m_thread = std::thread([this] { run(); });
}

PacedWriter::~PacedWriter()
{
    m_stop = true;
    m_thread.join();
}

void PacedWriter::run()
{
    std::vector<Line> lines(m_masters.size());
    const auto start = std::chrono::steady_clock::now();
    bool done = false;
    while (!done && !m_stop) {
        if (m_rate == kFlood)
            wait_for_room(lines);
        else
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        const std::uint64_t due =
            m_rate == kFlood ? m_total : std::min<std::uint64_t>(m_total, static_cast<std::uint64_t>(elapsed * m_rate));
        done = true;
        for (std::size_t i = 0; i < m_masters.size(); ++i) {
            Line &l = lines[i];
            while (l.written < due && !m_stop) {
                const std::size_t part = static_cast<std::size_t>(std::min<std::uint64_t>(kChunk, due - l.written));
                const auto before = std::chrono::steady_clock::now();
                const ssize_t n = ::write(m_masters[i], stream_at(m_offset + l.written), part);
                if (n < 0 && errno != EAGAIN && errno != EINTR)
                    return; // the terminal failed, not merely filled
                if (n <= 0)
                    break;
                l.written += static_cast<std::uint64_t>(n);
                m_written += static_cast<std::uint64_t>(n);
                if (!m_stamps.empty())
                    m_stamps[i].push_back({l.written, before});
            }
            // Count each byte that found the line full once, however long it waits.
            if (m_rate != kFlood && l.written < due && due > l.lateMark) {
                m_refused += due - std::max(l.written, l.lateMark);
                l.lateMark = due;
            }
            done = done && l.written == m_total;
        }
    }
    m_finished = done;
}

// Until a terminal still being fed has room; never long, so that a stop is
// seen soon.
void PacedWriter::wait_for_room(const std::vector<Line> &lines) const
{
    std::vector<pollfd> feeding;
    for (std::size_t i = 0; i < lines.size(); ++i)
        if (lines[i].written < m_total)
            feeding.push_back({m_masters[i], POLLOUT, 0});
    poll(feeding.data(), feeding.size(), 20);
}

} // namespace ptykit
