// Shared test fixtures: temporary start-up directories, pseudo-terminals that
// stand in for serial devices, and comports.map files that name them.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

namespace testing_support {

// A fresh directory that becomes the current directory; the old current
// directory is restored and the tree removed on destruction.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir &) = delete;
    TempDir &operator=(const TempDir &) = delete;

    const std::string &path() const { return m_path; }
    std::string file(const std::string &name) const { return m_path + "/" + name; }

private:
    std::string m_path;
    std::string m_previous;
};

// A pseudo-terminal pair: the test writes on the master side as the
// instrument would; path() is the slave device the logger opens.
class Pty {
public:
    Pty();
    ~Pty();
    Pty(const Pty &) = delete;
    Pty &operator=(const Pty &) = delete;

    const std::string &path() const { return m_path; }
    int master() const { return m_master; }
    // The test's own descriptor of the device, to read its terminal settings.
    int slave() const { return m_slave; }
    // Writes every byte (blocking while the terminal's buffer is full).
    void write(const std::string &bytes) const;
    void write(const void *bytes, std::size_t count) const;
    // Closes both sides: the device hangs up and disappears.
    void close();

private:
    int m_master = -1;
    int m_slave = -1; // held open so the device exists while the logger has it closed
    std::string m_path;
};

// comports.map text: the given ports mapped to paths, every other port none.
std::string port_map_text(const std::map<int, std::string> &paths);
void write_file(const std::string &path, const std::string &contents);
std::string read_file(const std::string &path);
bool file_exists(const std::string &path);
bool is_directory(const std::string &path);
// Names in a directory, sorted, without "." and "..".
std::vector<std::string> list_dir(const std::string &path);

// What may lie under a name the logger reads at start-up, in a directory
// others can write to: a named pipe (an open waits for a writer), a
// directory, a link to an endless device (/dev/zero), a 100 MB file (sparse,
// so it takes no disk).
enum class Hostile { Fifo, Directory, DeviceLink, Huge };
const std::vector<Hostile> &all_hostile();
const char *hostile_name(Hostile kind);
void make_hostile(const std::string &path, Hostile kind);
// Names the kind in test listings.
inline void PrintTo(Hostile kind, std::ostream *out)
{
    *out << hostile_name(kind);
}

// All 18 ports mapped: those listed to fresh pseudo-terminals, the rest none.
// Writes comports.map into the current directory and makes the engine read it.
class PortRig {
public:
    explicit PortRig(const std::vector<int> &ptyPorts);
    Pty &pty(int port) { return *m_ptys.at(port); }
    bool has(int port) const { return m_ptys.count(port) != 0; }

private:
    std::map<int, std::unique_ptr<Pty>> m_ptys;
};

// Runs a shell command; its output (stdout and stderr) up to the first line
// break, and its exit status (-1 when it did not exit).
std::string command_line_output(const std::string &command, int *status = nullptr);

// Starts the engine for a test process (offscreen); safe to call repeatedly.
void start_engine();

// Polls pred, without running the event loop, until it holds or timeoutMs
// passes; returns pred().
bool eventually(const std::function<bool()> &pred, int timeoutMs = 5000);

// A test stream: byte i is i mod 251. The period holds every value that
// matters to a terminal (NUL, CR, LF, XON, XOFF, ^C) and is prime, so a
// dropped, doubled or swapped block of any usual size shifts it and shows.
std::string stream_bytes(std::uint64_t offset, std::size_t count);
// The test stream from position `offset` on, readable for kStreamChunk bytes.
constexpr std::size_t kStreamChunk = 16384;
const char *stream_at(std::uint64_t offset);
// Whether data[0..n) is the test stream from position `offset` on.
bool stream_intact(const char *data, std::size_t n, std::uint64_t offset);

// Feeds the test stream into pty masters at a fixed rate from a thread of
// its own, as instruments on serial lines do: every 10 ms it writes what is
// due to each, without blocking. Bytes that were due but found a terminal
// full are counted as refused (a real line would have lost them; here they
// are sent late, so each stream stays whole). Each master gets `total` bytes,
// the stream from position `offset` on.
class PacedWriter {
public:
    PacedWriter(std::vector<int> masters, long bytesPerSecond, std::uint64_t total, std::uint64_t offset = 0);
    ~PacedWriter(); // stops at once
    PacedWriter(const PacedWriter &) = delete;
    PacedWriter &operator=(const PacedWriter &) = delete;

    bool finished() const { return m_finished; }
    std::uint64_t refused() const { return m_refused; } // over all masters

private:
    void run();

    std::vector<int> m_masters;
    long m_rate;
    std::uint64_t m_total;
    std::uint64_t m_offset;
    std::atomic<bool> m_finished{false};
    std::atomic<std::uint64_t> m_refused{0};
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

// One port's record of coms.cfg.
struct PortRecord {
    int rate, logged, slot, hex;
};
// The bytes of coms.cfg for these records, every field 32-bit little-endian.
std::string config_bytes(const std::vector<PortRecord> &records);

} // namespace testing_support
