// The instrument simulator as the end-to-end tests run it: started on chosen
// instruments in a directory, its devices found through the comports.map it
// writes there, its report read back.
#pragma once

#include "logger_process.h"

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

// One port's line of the simulator's report (tools/instrument-sim/main.cpp).
struct SimReport {
    std::string kind;
    int rate = 0;
    std::uint64_t seed = 0, sent = 0, refused = 0, undelivered = 0, intactFrom = 0;
    std::vector<std::uint64_t> unpluggedAt;

    // The offset the line has reached: every byte before it was sent or refused.
    std::uint64_t reached() const { return sent + refused; }
    // Where what the readers got ends, when no byte was refused after it.
    std::uint64_t delivered_to() const { return sent + refused - undelivered; }
};

// The latest line of each port in a report; a line that does not parse is left out.
std::map<int, SimReport> parse_sim_report(const std::string &text);

class Simulator {
public:
    // Starts instrument-sim on `dir` with these arguments and waits until its
    // comports.map is there. Its stdout and stderr go to files beside dir.
    Simulator(const std::string &dir, const std::vector<std::string> &args);

    bool ready() const { return m_ready; }
    LoggerProcess &process() { return *m_process; }
    // The device that comports.map names for the port ("none" if none).
    std::string device(int port) const;
    std::string map_text() const;
    std::map<int, SimReport> report() const;
    // The report the simulator gives on SIGUSR1, while it runs on.
    std::map<int, SimReport> snapshot();
    std::string stderr_text() const { return m_process->stderr_text(); }

private:
    std::string m_dir;
    std::unique_ptr<LoggerProcess> m_process;
    bool m_ready = false;
};

// Opens a simulated device for reading without blocking; -1 on failure.
int open_device(const std::string &path);
// Reads until `count` bytes have come, the device hung up, or timeoutMs passed.
std::string read_device(int fd, std::size_t count, int timeoutMs);
