// The test stream that stands in for an instrument's bytes, and the thread
// that feeds it to pseudo-terminal masters, paced as a serial line or as
// fast as the terminal takes it. Whoever reads it back can tell a byte lost,
// added or altered on the way.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <string>
#include <thread>
#include <vector>

namespace ptykit {

// A test stream: byte i is i mod 251. The period holds every value that
// matters to a terminal (NUL, CR, LF, XON, XOFF, ^C) and is prime, so a
// dropped, doubled or swapped block of any usual size shifts it and shows.
std::string stream_bytes(std::uint64_t offset, std::size_t count);
// The test stream from position `offset` on, readable for kStreamChunk bytes.
constexpr std::size_t kStreamChunk = 16384;
const char *stream_at(std::uint64_t offset);
// Whether data[0..n) is the test stream from position `offset` on.
bool stream_intact(const char *data, std::size_t n, std::uint64_t offset);

// Feeds the test stream into pty masters (made non-blocking, so the writer
// can always be stopped) from a thread of its own. Each master gets `total`
// bytes, the stream from position `offset` on.
//
// At a rate, as instruments on serial lines do: every 10 ms it writes what is
// due to each, without blocking. Bytes that were due but found a terminal
// full are counted as refused (a real line would have lost them; here they
// are sent late, so each stream stays whole).
//
// At kFlood, as fast as each terminal takes it, waiting for room when it is
// full; nothing is refused. With kEndless bytes it runs until destroyed.
//
// A terminal that fails other than by being full ends the writing, unfinished.
//
// When stamped, it notes for every write that took bytes the moment just
// before the call and how many bytes that master held after it: whoever reads
// the bytes back can tell how long each write's last byte took to arrive.
class PacedWriter {
public:
    static constexpr long kFlood = 0;                                                    // as bytesPerSecond
    static constexpr std::uint64_t kEndless = std::numeric_limits<std::uint64_t>::max(); // as total

    struct Stamp {
        std::uint64_t end; // bytes written to the master so far, this write's included
        std::chrono::steady_clock::time_point at;
    };

    PacedWriter(std::vector<int> masters, long bytesPerSecond, std::uint64_t total, std::uint64_t offset = 0,
                bool stamped = false);
    ~PacedWriter(); // stops at once
    PacedWriter(const PacedWriter &) = delete;
    PacedWriter &operator=(const PacedWriter &) = delete;

    bool finished() const { return m_finished; }
    std::uint64_t refused() const { return m_refused; } // over all masters
    std::uint64_t written() const { return m_written; } // the masters took so far, over all
    // Each master's stamps, in its order; empty unless stamped, and complete
    // only once finished() holds (the thread appends to them until then).
    const std::vector<std::vector<Stamp>> &stamps() const { return m_stamps; }

private:
    struct Line {
        std::uint64_t written = 0, lateMark = 0;
    };
    void run();
    void wait_for_room(const std::vector<Line> &lines) const;

    std::vector<int> m_masters;
    long m_rate;
    std::uint64_t m_total;
    std::uint64_t m_offset;
    std::atomic<bool> m_finished{false};
    std::atomic<std::uint64_t> m_refused{0};
    std::atomic<std::uint64_t> m_written{0};
    std::atomic<bool> m_stop{false};
    std::vector<std::vector<Stamp>> m_stamps;
    std::thread m_thread;
};

} // namespace ptykit
