#include "peers.h"

#include "logger_process.h"

#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace bench {

namespace {

constexpr const char *kCat = "/bin/cat";
constexpr const char *kTio = "/usr/bin/tio";

} // namespace

Peers::Peers(Kind kind, const std::string &dir) : m_kind(kind), m_dir(dir + "/" + name())
{
    mkdir(m_dir.c_str(), 0755);
    for (int port = 1; port <= kPorts; ++port) {
        m_lines.push_back(std::make_unique<ptykit::Pty>());
        termios tio{};
        tcgetattr(m_lines.back()->slave(), &tio);
        cfmakeraw(&tio);
        tcsetattr(m_lines.back()->slave(), TCSANOW, &tio);
    }
    if (kind == Kind::Tio)
        m_console = std::make_unique<ptykit::Pty>();
}

Peers::~Peers()
{
    for (pid_t pid : m_pids)
        stop(pid);
}

bool Peers::available() const
{
    return access(m_kind == Kind::Cat ? kCat : kTio, X_OK) == 0;
}

// cat reads the device as its input; tio opens it itself, logs what comes
// to a file and shows nothing (--mute), on a terminal of its own, as an
// operator would have started it.
std::vector<std::string> Peers::command(int port) const
{
    if (m_kind == Kind::Cat)
        return {kCat};
    return {kTio, "--mute", "-b", "115200", "-l", "--log-file", m_dir + "/" + std::to_string(port) + ".log",
            m_lines[static_cast<std::size_t>(port - 1)]->path()};
}

void Peers::start(const std::vector<std::string> &env)
{
    for (int port = 1; port <= kPorts; ++port) {
        const std::string in = m_kind == Kind::Cat ? m_lines[static_cast<std::size_t>(port - 1)]->path()
                                                   : m_console->path();
        const std::string out = m_kind == Kind::Cat ? m_dir + "/" + std::to_string(port) : "/dev/null";
        m_pids.push_back(spawn(command(port), m_dir, in, out, env));
    }
}

std::vector<int> Peers::masters() const
{
    std::vector<int> fds;
    for (const auto &line : m_lines)
        fds.push_back(line->master());
    return fds;
}

double Peers::cpu() const
{
    double sum = 0;
    for (pid_t pid : m_pids)
        sum += cpu_seconds(pid);
    return sum;
}

std::uint64_t Peers::kept() const
{
    std::uint64_t sum = 0;
    for (int port = 1; port <= kPorts; ++port) {
        struct stat st {};
        const std::string file = m_dir + "/" + std::to_string(port) + (m_kind == Kind::Tio ? ".log" : "");
        if (::stat(file.c_str(), &st) == 0)
            sum += static_cast<std::uint64_t>(st.st_size);
    }
    return sum;
}

} // namespace bench
