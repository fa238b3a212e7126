#include "instrument_sim.h"

#include "test_support.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <sstream>
#include <unistd.h>

using testing_support::eventually;
using testing_support::file_exists;
using testing_support::read_file;

namespace {

constexpr int kReadyMs = 10000;

std::vector<std::uint64_t> parse_list(const std::string &text)
{
    std::vector<std::uint64_t> values;
    std::istringstream in(text);
    std::string item;
    while (std::getline(in, item, ','))
        values.push_back(std::stoull(item));
    return values;
}

} // namespace

std::map<int, SimReport> parse_sim_report(const std::string &text)
{
    std::map<int, SimReport> ports;
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        std::istringstream words(line);
        std::string name, word;
        words >> name;
        if (name.rfind("COM", 0) != 0)
            continue;
        std::map<std::string, std::string> fields;
        while (words >> word) {
            const std::size_t eq = word.find('=');
            if (eq != std::string::npos)
                fields[word.substr(0, eq)] = word.substr(eq + 1);
        }
        try {
            SimReport r;
            r.kind = fields.at("kind");
            r.rate = std::stoi(fields.at("rate"));
            r.seed = std::stoull(fields.at("seed"));
            r.sent = std::stoull(fields.at("sent"));
            r.refused = std::stoull(fields.at("refused"));
            r.undelivered = std::stoull(fields.at("undelivered"));
            r.intactFrom = std::stoull(fields.at("intact_from"));
            r.unpluggedAt = parse_list(line.substr(line.find("unplugged_at=") + 13));
            ports[std::stoi(name.substr(3))] = r;
        } catch (const std::exception &) {
        }
    }
    return ports;
}

Simulator::Simulator(const std::string &dir, const std::vector<std::string> &args) : m_dir(dir)
{
    LoggerProcess::Options o;
    o.binary = INSTRUMENT_SIM_BINARY;
    o.args = {"-d", dir};
    o.args.insert(o.args.end(), args.begin(), args.end());
    o.startDir = dir;
    o.stdoutPath = dir + ".sim-report";
    o.stderrPath = dir + ".sim-stderr";
    m_process = std::make_unique<LoggerProcess>(o);
    m_ready = eventually([&] { return file_exists(dir + "/comports.map"); }, kReadyMs);
}

std::string Simulator::map_text() const
{
    return read_file(m_dir + "/comports.map");
}

std::string Simulator::device(int port) const
{
    std::istringstream lines(map_text());
    std::string line;
    const std::string key = "COM" + std::to_string(port) + " ";
    while (std::getline(lines, line))
        if (line.rfind(key, 0) == 0)
            return line.substr(key.size());
    return std::string();
}

std::map<int, SimReport> Simulator::report() const
{
    return parse_sim_report(read_file(m_dir + ".sim-report"));
}

std::map<int, SimReport> Simulator::snapshot()
{
    // A snapshot is one line per instrument, and the map names each of them.
    std::size_t instruments = 0;
    for (int port = 1; port <= 18; ++port) {
        const std::string name = device(port);
        instruments += !name.empty() && name != "none" ? 1 : 0;
    }
    const auto lines = [&] {
        return static_cast<std::size_t>(testing_support::line_count(read_file(m_dir + ".sim-report")));
    };
    const std::size_t before = lines();
    m_process->signal(SIGUSR1);
    eventually([&] { return lines() >= before + instruments; }, kReadyMs);
    return report();
}

int open_device(const std::string &path)
{
    return open(path.c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
}

std::string read_device(int fd, std::size_t count, int timeoutMs)
{
    std::string bytes;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (bytes.size() < count && std::chrono::steady_clock::now() < deadline) {
        pollfd p{fd, POLLIN, 0};
        poll(&p, 1, 10);
        char buffer[4096];
        const ssize_t n = read(fd, buffer, std::min(sizeof buffer, count - bytes.size()));
        if (n > 0)
            bytes.append(buffer, static_cast<std::size_t>(n));
        else if (n == 0 || (errno != EAGAIN && errno != EINTR))
            break; // hung up
    }
    return bytes;
}
