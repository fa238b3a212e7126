#include "test_support.h"

#include "engine.h"
#include "engine_seams.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <thread>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <fstream>
#include <pty.h>
#include <sstream>
#include <stdexcept>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <algorithm>
#include <ftw.h>

namespace testing_support {

namespace {

int remove_entry(const char *path, const struct stat *, int, struct FTW *)
{
    return ::remove(path);
}

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

TempDir::TempDir()
{
    char previous[4096];
    if (getcwd(previous, sizeof previous) != nullptr)
        m_previous = previous;
    const char *base = std::getenv("TMPDIR");
    std::string pattern = std::string(base != nullptr ? base : "/tmp") + "/vorn-test-XXXXXX";
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    if (mkdtemp(buffer.data()) == nullptr)
        throw std::runtime_error("mkdtemp failed");
    m_path = buffer.data();
    if (chdir(m_path.c_str()) != 0)
        throw std::runtime_error("chdir failed");
}

TempDir::~TempDir()
{
    if (!m_previous.empty() && chdir(m_previous.c_str()) != 0)
        std::perror("chdir");
    // Make everything removable again, then remove the tree.
    std::string fix = "chmod -R u+rwx '" + m_path + "' 2>/dev/null";
    if (std::system(fix.c_str()) != 0) {
    }
    nftw(m_path.c_str(), remove_entry, 16, FTW_DEPTH | FTW_PHYS);
}

Pty::Pty()
{
    char name[256];
    if (openpty(&m_master, &m_slave, name, nullptr, nullptr) != 0)
        throw std::runtime_error("openpty failed");
    m_path = name;
}

Pty::~Pty()
{
    close();
}

void Pty::write(const std::string &bytes) const
{
    write(bytes.data(), bytes.size());
}

void Pty::write(const void *bytes, std::size_t count) const
{
    const char *p = static_cast<const char *>(bytes);
    while (count > 0) {
        const ssize_t n = ::write(m_master, p, count);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            throw std::runtime_error(std::string("write to pty master failed: ") + std::strerror(errno));
        p += n;
        count -= static_cast<std::size_t>(n);
    }
}

void Pty::close()
{
    if (m_slave >= 0)
        ::close(m_slave);
    if (m_master >= 0)
        ::close(m_master);
    m_slave = m_master = -1;
}

std::string port_map_text(const std::map<int, std::string> &paths)
{
    std::ostringstream out;
    out << "# written by the test\n";
    for (int port = 1; port <= 18; ++port) {
        auto it = paths.find(port);
        out << "COM" << port << " " << (it != paths.end() ? it->second : "none") << "\n";
    }
    return out.str();
}

void write_file(const std::string &path, const std::string &contents)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << contents;
    if (!out)
        throw std::runtime_error("cannot write " + path);
}

std::string read_file(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

bool file_exists(const std::string &path)
{
    struct stat st;
    return ::stat(path.c_str(), &st) == 0;
}

bool is_directory(const std::string &path)
{
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::vector<std::string> list_dir(const std::string &path)
{
    std::vector<std::string> names;
    DIR *dir = opendir(path.c_str());
    if (dir == nullptr)
        return names;
    while (dirent *e = readdir(dir)) {
        const std::string name = e->d_name;
        if (name != "." && name != "..")
            names.push_back(name);
    }
    closedir(dir);
    std::sort(names.begin(), names.end());
    return names;
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

std::string command_line_output(const std::string &command, int *status)
{
    std::FILE *p = popen((command + " 2>&1").c_str(), "r");
    char line[1024] = {};
    if (p == nullptr || std::fgets(line, sizeof line, p) == nullptr)
        line[0] = '\0';
    const int result = p != nullptr ? pclose(p) : -1;
    if (status != nullptr)
        *status = WIFEXITED(result) ? WEXITSTATUS(result) : -1;
    std::string text = line;
    if (!text.empty() && text.back() == '\n')
        text.pop_back();
    return text;
}

void start_engine()
{
    static char arg0[] = "vornacq4-test";
    static char *argv[] = {arg0, nullptr};
    ASSERT_EQ(InitEngine(0, argv, 0), 1);
}

bool eventually(const std::function<bool()> &pred, int timeoutMs)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!pred()) {
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
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

PacedWriter::PacedWriter(std::vector<int> masters, long bytesPerSecond, std::uint64_t total, std::uint64_t offset)
    : m_masters(std::move(masters)), m_rate(bytesPerSecond), m_total(total), m_offset(offset)
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
    struct Line {
        std::uint64_t written = 0, lateMark = 0;
    };
    std::vector<Line> lines(m_masters.size());
    const auto start = std::chrono::steady_clock::now();
    bool done = false;
    while (!done && !m_stop) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        const std::uint64_t due = std::min<std::uint64_t>(m_total, static_cast<std::uint64_t>(elapsed * m_rate));
        done = true;
        for (std::size_t i = 0; i < m_masters.size(); ++i) {
            Line &l = lines[i];
            while (l.written < due) {
                const std::size_t part = static_cast<std::size_t>(std::min<std::uint64_t>(kChunk, due - l.written));
                const ssize_t n = ::write(m_masters[i], stream_at(m_offset + l.written), part);
                if (n <= 0)
                    break;
                l.written += static_cast<std::uint64_t>(n);
            }
            // Count each byte that found the line full once, however long it waits.
            if (l.written < due && due > l.lateMark) {
                m_refused += due - std::max(l.written, l.lateMark);
                l.lateMark = due;
            }
            done = done && l.written == m_total;
        }
    }
    m_finished = done;
}

std::string config_bytes(const std::vector<PortRecord> &records)
{
    std::string bytes;
    for (const PortRecord &r : records)
        for (int field : {r.rate, r.logged, r.slot, r.hex})
            for (int shift = 0; shift < 32; shift += 8)
                bytes += static_cast<char>((static_cast<std::uint32_t>(field) >> shift) & 0xFF);
    return bytes;
}

} // namespace testing_support
