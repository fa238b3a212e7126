#include "logger_files.h"

#include "files/file_backend.h"

#include <cstring>
#include <mutex>

namespace net {

namespace {

constexpr int kPorts = 18;
constexpr int kFileLen = 17; // "Dddd/dddsssss.Cnn"

std::mutex g_mutex;
int g_handle[kPorts + 1];            // 0 when the port has none
char g_file[kPorts + 1][kFileLen + 1];

bool digits(const char *s, int count)
{
    for (int i = 0; i < count; ++i)
        if (s[i] < '0' || s[i] > '9')
            return false;
    return true;
}

// The port of a bare data file's name, or 0.
int data_file_port(const char *name)
{
    if (std::strlen(name) != 12 || !digits(name, 8) || std::strncmp(name + 8, ".C", 2) != 0 || !digits(name + 10, 2))
        return 0;
    const int port = (name[10] - '0') * 10 + (name[11] - '0');
    return port <= kPorts ? port : 0;
}

// The day directory the logger is in ("Dddd"), or "".
std::string day_dir()
{
    std::string cwd;
    if (filesys::current_dir(cwd) != 0)
        return std::string();
    const std::size_t slash = cwd.find_last_of("/\\");
    const std::string last = slash == std::string::npos ? cwd : cwd.substr(slash + 1);
    return last.size() == 4 && last[0] == 'D' && digits(last.c_str() + 1, 3) ? last : std::string();
}

} // namespace

void note_opened(int handle, const char *name)
{
    const int port = name != nullptr ? data_file_port(name) : 0;
    if (port == 0)
        return;
    const std::string day = day_dir();
    if (day.empty())
        return;
    std::lock_guard<std::mutex> lock(g_mutex);
    g_handle[port] = handle;
    std::memcpy(g_file[port], (day + "/" + name).c_str(), kFileLen + 1);
}

void note_closed(int handle)
{
    std::lock_guard<std::mutex> lock(g_mutex);
    for (int port = 1; port <= kPorts; ++port)
        if (g_handle[port] == handle)
            g_handle[port] = 0;
}

std::string logger_file(int port)
{
    std::lock_guard<std::mutex> lock(g_mutex);
    return port >= 1 && port <= kPorts && g_handle[port] != 0 ? std::string(g_file[port]) : std::string();
}

} // namespace net
