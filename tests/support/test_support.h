// Shared test fixtures: what needs the engine or GoogleTest (starting the
// engine, ports mapped to pseudo-terminals, hostile start-up files, HTTP to
// the monitoring endpoint, a service manager's notify socket), and,
// under their old names, ptykit's stand-ins for a station (temporary
// start-up directories, pseudo-terminals, comports.map, the test stream).
#pragma once

#include "ptykit/loopback.h"
#include "ptykit/pty.h"
#include "ptykit/station.h"
#include "ptykit/stream.h"

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <ostream>
#include <stdexcept>
#include <string>
#include <vector>

// Names a table's cases in test listings by their `what` instead of dumping
// their bytes: one line beside the case's struct, in its namespace.
#define PRINTED_AS_WHAT(Case)                                                                     \
    inline void PrintTo(const Case &c, std::ostream *out)                                         \
    {                                                                                             \
        *out << c.what;                                                                           \
    }

namespace testing_support {

using ptykit::config_bytes;
using ptykit::eventually;
using ptykit::file_exists;
using ptykit::kStreamChunk;
using ptykit::list_dir;
using ptykit::bound_socket;
using ptykit::connect_loopback;
using ptykit::free_tcp_port;
using ptykit::loopback;
using ptykit::PacedWriter;
using ptykit::port_map_text;
using ptykit::port_table;
using ptykit::PortRecord;
using ptykit::Pty;
using ptykit::read_file;
using ptykit::stream_at;
using ptykit::stream_bytes;
using ptykit::stream_intact;
using ptykit::TempDir;
using ptykit::write_file;

// The bytes from..to (0 to 255 by default), each value once, in order.
std::string byte_values(int from = 0, int to = 255);

// The wall clock now, in microseconds since 1970, as the logger dates bytes.
long long wall_us();

// How many times `part` occurs in the text.
int occurrences(const std::string &text, const std::string &part);
inline int line_count(const std::string &text)
{
    return occurrences(text, "\n");
}

// What this process writes on stderr while fn() runs.
template <typename Fn> std::string stderr_of(Fn fn)
{
    ::testing::internal::CaptureStderr();
    fn();
    return ::testing::internal::GetCapturedStderr();
}

// Whether a directory is there under that name.
bool is_directory(const std::string &path);

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
// Makes a scratch directory the current one (a TempDir, gone with the rig),
// writes comports.map there and makes the engine read it.
class PortRig {
public:
    explicit PortRig(const std::vector<int> &ptyPorts);
    const TempDir &dir() const { return m_dir; }
    Pty &pty(int port) { return *m_ptys.at(port); }
    bool has(int port) const { return m_ptys.count(port) != 0; }

private:
    TempDir m_dir;
    std::map<int, std::unique_ptr<Pty>> m_ptys;
};

// HTTP on 127.0.0.1:port, to the logger's monitoring endpoint: sends the
// request and reads the answer until the server closes (10 s at most; "" when
// nobody answers); get() sends a GET of path. status_code is the answer's
// status (0 for none); series the value of a line "name{labels} value" of
// /metrics, or -1.
std::string http_exchange(int port, const std::string &request);
std::string get(int port, const std::string &path);
int status_code(const std::string &answer);
double series(const std::string &metrics, const std::string &name);

// A service manager's notify socket, as systemd offers one through
// NOTIFY_SOCKET: a datagram socket bound at `path` (a scratch directory's).
// Throws std::runtime_error when it cannot be bound.
class NotifySocket {
public:
    explicit NotifySocket(const std::string &path);
    ~NotifySocket();
    NotifySocket(const NotifySocket &) = delete;
    NotifySocket &operator=(const NotifySocket &) = delete;

    const std::string &path() const { return m_path; }
    // Every datagram it has had, in the order they came: those waiting are
    // taken first.
    const std::vector<std::string> &words();

private:
    std::string m_path;
    int m_fd = -1;
    std::vector<std::string> m_words;
};

// The process's stderr goes to a file from the making of this to its end,
// so that what the engine's threads write meanwhile can be read, and waited
// for, with text() at any time.
class StderrCapture {
public:
    explicit StderrCapture(const std::string &path);
    ~StderrCapture();
    StderrCapture(const StderrCapture &) = delete;
    StderrCapture &operator=(const StderrCapture &) = delete;
    std::string text() const { return read_file(m_path); }

private:
    std::string m_path;
    int m_saved;
};

// Starts the engine for a test process (offscreen); safe to call repeatedly.
void start_engine();

} // namespace testing_support
