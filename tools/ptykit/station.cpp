#include "ptykit/station.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <fstream>
#include <ftw.h>
#include <sstream>
#include <stdexcept>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace ptykit {

namespace {

int remove_entry(const char *path, const struct stat *, int, struct FTW *)
{
    return ::remove(path);
}

} // namespace

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

std::vector<PortRecord> port_table(const std::map<int, PortRecord> &ports)
{
    std::vector<PortRecord> table(18, PortRecord{9600, 0, 0, 0});
    for (const auto &p : ports)
        table.at(static_cast<std::size_t>(p.first - 1)) = p.second;
    return table;
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

std::string data_suffix(int port)
{
    char suffix[8];
    std::snprintf(suffix, sizeof suffix, ".C%02d", port);
    return suffix;
}

std::vector<std::string> data_files(const std::string &startDir, int port)
{
    const std::string suffix = data_suffix(port);
    std::vector<std::string> files;
    for (const std::string &day : list_dir(startDir))
        if (day.size() == 4 && day[0] == 'D')
            for (const std::string &name : list_dir(startDir + "/" + day))
                if (name.size() == 12 && name.compare(8, 4, suffix) == 0)
                    files.push_back(startDir + "/" + day + "/" + name);
    return files;
}

std::string recording(const std::string &startDir, int port)
{
    std::string bytes;
    for (const std::string &file : data_files(startDir, port))
        bytes += read_file(file);
    return bytes;
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

} // namespace ptykit
