#include "test_support.h"

#include "engine.h"
#include "engine_seams.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <cstring>
#include <stdexcept>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace testing_support {

std::string byte_values(int from, int to)
{
    std::string bytes;
    for (int b = from; b <= to; ++b)
        bytes += static_cast<char>(b);
    return bytes;
}

long long wall_us()
{
    return std::chrono::duration_cast<std::chrono::microseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

int occurrences(const std::string &text, const std::string &part)
{
    int count = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++count;
    return count;
}

bool is_directory(const std::string &path)
{
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

const std::vector<Hostile> &all_hostile()
{
    static const std::vector<Hostile> kinds = {Hostile::Fifo, Hostile::Directory, Hostile::DeviceLink, Hostile::Huge};
    return kinds;
}

const char *hostile_name(Hostile kind)
{
    switch (kind) {
    case Hostile::Fifo: return "Fifo";
    case Hostile::Directory: return "Directory";
    case Hostile::DeviceLink: return "DeviceLink";
    case Hostile::Huge: return "Huge";
    }
    return "?";
}

void make_hostile(const std::string &path, Hostile kind)
{
    int result = -1;
    switch (kind) {
    case Hostile::Fifo: result = mkfifo(path.c_str(), 0666); break;
    case Hostile::Directory: result = mkdir(path.c_str(), 0777); break;
    case Hostile::DeviceLink: result = symlink("/dev/zero", path.c_str()); break;
    case Hostile::Huge:
        write_file(path, "");
        result = truncate(path.c_str(), 100L * 1024 * 1024);
        break;
    }
    if (result != 0)
        throw std::runtime_error("cannot make " + path + " " + hostile_name(kind));
}

PortRig::PortRig(const std::vector<int> &ptyPorts)
{
    std::map<int, std::string> paths;
    for (int port : ptyPorts) {
        m_ptys[port] = std::make_unique<Pty>();
        paths[port] = m_ptys[port]->path();
    }
    write_file("comports.map", port_map_text(paths));
    SeamReloadPortMap();
}

StderrCapture::StderrCapture(const std::string &path) : m_path(path), m_saved(::dup(2))
{
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    ::dup2(fd, 2);
    ::close(fd);
}

StderrCapture::~StderrCapture()
{
    ::dup2(m_saved, 2);
    ::close(m_saved);
}

NotifySocket::NotifySocket(const std::string &path) : m_path(path)
{
    sockaddr_un a{};
    a.sun_family = AF_UNIX;
    if (path.size() >= sizeof a.sun_path)
        throw std::runtime_error("socket path too long: " + path);
    std::memcpy(a.sun_path, path.c_str(), path.size() + 1);
    m_fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (m_fd < 0 || ::bind(m_fd, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0)
        throw std::runtime_error("cannot bind " + path);
}

NotifySocket::~NotifySocket()
{
    ::close(m_fd);
    ::unlink(m_path.c_str());
}

const std::vector<std::string> &NotifySocket::words()
{
    char buffer[4096];
    for (ssize_t n; (n = ::recv(m_fd, buffer, sizeof buffer, MSG_DONTWAIT)) > 0;)
        m_words.emplace_back(buffer, static_cast<std::size_t>(n));
    return m_words;
}

void start_engine()
{
    static char arg0[] = "vornacq4-test";
    static char *argv[] = {arg0, nullptr};
    ASSERT_EQ(InitEngine(0, argv, 0), 1);
}

std::string http_exchange(int port, const std::string &request)
{
    const int fd = connect_loopback(port);
    if (fd < 0)
        return std::string();
    (void)!::send(fd, request.data(), request.size(), MSG_NOSIGNAL);
    std::string answer;
    char buffer[65536];
    for (int round = 0; round < 100; ++round) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 100) <= 0)
            continue;
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n <= 0)
            break;
        answer.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(fd);
    return answer;
}

std::string get(int port, const std::string &path)
{
    return http_exchange(port, "GET " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n");
}

int status_code(const std::string &answer)
{
    return answer.compare(0, 9, "HTTP/1.1 ") == 0 ? std::atoi(answer.c_str() + 9) : 0;
}

double series(const std::string &metrics, const std::string &name)
{
    const std::size_t at = metrics.find("\n" + name + " ");
    return at == std::string::npos ? -1 : std::atof(metrics.c_str() + at + name.size() + 2);
}

} // namespace testing_support
