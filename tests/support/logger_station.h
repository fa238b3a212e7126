// The station the end-to-end tests run the real logger in: a scratch
// directory holding the logger's start-up directory (start/) and its stderr;
// comports.map with ports on pseudo-terminals, on devices that are missing,
// on devices of the test's choosing or none; the port table (coms.cfg) and
// network.map; the logger started there; and what it wrote, read back by
// port. The instrument simulator may write comports.map and coms.cfg into
// start() instead: the station reads them back the same.
//
// A test fixture: each test case gets a station of its own, removed after it.
#pragma once

#include "logger_process.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

class Station : public ::testing::Test {
public:
    static constexpr int kStartupMs = 15000; // to the panel up, coms.cfg saved
    static constexpr int kRunMs = 40000;     // the countdown takes 12 s
    static constexpr int kExitMs = 10000;    // from SIGTERM to the end

protected:
    Station();
    ~Station() override;

    const std::string &top() const { return m_top.path(); }
    const std::string &start() const { return m_start; }
    std::string in_start(const std::string &name) const { return m_start + "/" + name; }

    // Writes comports.map: the ports in ptyPorts on fresh pseudo-terminals
    // (a port's terminal is kept when it has one already), those in
    // `missing` on a path where no device is, those in `devices` on the
    // paths given, every other port none.
    void map_ports(const std::vector<int> &ptyPorts, const std::vector<int> &missing = {},
                   const std::map<int, std::string> &devices = {});
    testing_support::Pty &pty(int port) { return *m_ptys.at(port); }
    // Writes coms.cfg: ptykit's port_table(ports).
    void set_table(const std::map<int, testing_support::PortRecord> &ports);
    void set_network_map(const std::string &text);

    // How the logger is started here: in start(), its stderr in top().
    LoggerProcess::Options options() const;
    // Starts the logger with these options; the station ends it (kill -9)
    // when the test is over, unless the test has ended it before.
    LoggerProcess &start_logger(const LoggerProcess::Options &o);
    LoggerProcess &start_logger() { return start_logger(options()); }
    LoggerProcess &logger() { return *m_logger; }
    std::string stderr_text() const { return m_logger ? m_logger->stderr_text() : std::string(); }
    // Sends SIGTERM (or `sig`) and waits for the end: the exit status, -1
    // when the logger did not end within kExitMs or ended by a signal.
    int stop_logger(int sig = SIGTERM);

    // Whether the run has begun: each port that coms.cfg logs and whose
    // device in comports.map is there has its data file in a day directory.
    // False while no such port exists, or either file cannot be read.
    bool run_begun() const;
    // Waits until run_begun() holds; false when it did not within timeoutMs.
    bool wait_for_run(int timeoutMs = kRunMs) const;

    // The port's data files in the day directory ("D045"), in the order they
    // were begun, as full paths.
    std::vector<std::string> port_files(const std::string &day, int port) const;
    // The port's data files in every day directory, in order.
    std::vector<std::string> data_files(int port) const;
    // All the logger wrote for the port: its data files one after the other.
    std::string recording(int port) const;
    // The bytes in the port's first data file, -1 while it has none.
    long long written(int port) const;

private:
    testing_support::TempDir m_top;
    std::string m_start;
    std::map<int, std::unique_ptr<testing_support::Pty>> m_ptys;
    std::unique_ptr<LoggerProcess> m_logger;
};

// Whether the logger has left the terminal as it was made: in line mode (its
// open makes it raw), so never opened it.
bool terminal_untouched(const testing_support::Pty &pty);

// The file's size in bytes, -1 when it is not there.
long long file_size(const std::string &path);
