#include "logger_station.h"

#include <cstdint>
#include <sstream>
#include <sys/stat.h>
#include <termios.h>

using testing_support::PortRecord;

namespace {

constexpr int kPorts = 18;
constexpr std::size_t kRecordBytes = 16; // four 32-bit fields

// The ports coms.cfg logs; none when it is not a whole table.
std::vector<int> logged_ports(const std::string &table)
{
    std::vector<int> ports;
    if (table.size() != kPorts * kRecordBytes)
        return ports;
    for (int port = 1; port <= kPorts; ++port) {
        const std::size_t logged = (port - 1) * kRecordBytes + 4;
        if (table.compare(logged, 4, std::string("\1\0\0\0", 4)) == 0)
            ports.push_back(port);
    }
    return ports;
}

// The device comports.map names for each port it maps to one.
std::map<int, std::string> mapped_devices(const std::string &map)
{
    std::map<int, std::string> devices;
    std::istringstream lines(map);
    for (std::string line; std::getline(lines, line);) {
        std::istringstream words(line);
        std::string name, device;
        if (words >> name >> device && name.rfind("COM", 0) == 0 && device != "none")
            devices[std::atoi(name.c_str() + 3)] = device;
    }
    return devices;
}

} // namespace

bool terminal_untouched(const testing_support::Pty &pty)
{
    termios tio{};
    return tcgetattr(pty.slave(), &tio) == 0 && (tio.c_lflag & ICANON) != 0;
}

long long file_size(const std::string &path)
{
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 ? st.st_size : -1;
}

Station::Station() : m_start(m_top.path() + "/start")
{
    if (::mkdir(m_start.c_str(), 0755) != 0)
        throw std::runtime_error("cannot make " + m_start);
}

Station::~Station() = default; // the logger first, then the terminals, then the tree

void Station::map_ports(const std::vector<int> &ptyPorts, const std::vector<int> &missing,
                        const std::map<int, std::string> &devices)
{
    std::map<int, std::string> paths = devices;
    for (int port : ptyPorts) {
        if (m_ptys.count(port) == 0)
            m_ptys[port] = std::make_unique<testing_support::Pty>();
        paths[port] = m_ptys[port]->path();
    }
    for (int port : missing)
        paths[port] = "/dev/serial/by-id/no-such-adapter-" + std::to_string(port);
    testing_support::write_file(in_start("comports.map"), testing_support::port_map_text(paths));
}

void Station::set_table(const std::map<int, PortRecord> &ports)
{
    testing_support::write_file(in_start("coms.cfg"), testing_support::config_bytes(ptykit::port_table(ports)));
}

void Station::set_network_map(const std::string &text)
{
    testing_support::write_file(in_start("network.map"), text);
}

LoggerProcess::Options Station::options() const
{
    LoggerProcess::Options o;
    o.startDir = m_start;
    o.stderrPath = top() + "/stderr.txt";
    return o;
}

LoggerProcess &Station::start_logger(const LoggerProcess::Options &o)
{
    m_logger = std::make_unique<LoggerProcess>(o);
    return *m_logger;
}

int Station::stop_logger(int sig)
{
    m_logger->signal(sig);
    return m_logger->wait_exit(kExitMs);
}

bool Station::run_begun() const
{
    const std::map<int, std::string> devices = mapped_devices(testing_support::read_file(in_start("comports.map")));
    int present = 0;
    for (int port : logged_ports(testing_support::read_file(in_start("coms.cfg")))) {
        const auto device = devices.find(port);
        if (device == devices.end() || !testing_support::file_exists(device->second))
            continue;
        if (data_files(port).empty())
            return false;
        ++present;
    }
    return present > 0;
}

bool Station::wait_for_run(int timeoutMs) const
{
    return testing_support::eventually([&] { return run_begun(); }, timeoutMs);
}

std::vector<std::string> Station::port_files(const std::string &day, int port) const
{
    std::vector<std::string> files;
    for (const std::string &file : data_files(port))
        if (file.compare(m_start.size() + 1, day.size() + 1, day + "/") == 0)
            files.push_back(file);
    return files;
}

std::vector<std::string> Station::data_files(int port) const
{
    return ptykit::data_files(m_start, port);
}

std::string Station::recording(int port) const
{
    return ptykit::recording(m_start, port);
}

long long Station::written(int port) const
{
    const std::vector<std::string> files = data_files(port);
    return files.empty() ? -1 : file_size(files[0]);
}
