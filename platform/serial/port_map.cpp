#include "port_map.h"

#include "engine.h"
#include "base/com_name.h"
#include "files/file_backend.h"

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <sstream>

namespace {

// A map names 18 ports: a few hundred bytes. The limits only keep a file that
// is no map (a log, a disk image) from being taken in whole.
constexpr std::size_t kMaxMapBytes = 64 * 1024; // its stderr line says "64 KiB"
// The longest path the system opens (PATH_MAX), with its port name.
constexpr std::size_t kMaxLineBytes = 4096;

std::mutex g_mutex;
std::string g_startupDir;
bool g_loaded = false;
bool g_named[COM_PORTS + 1];
std::string g_path[COM_PORTS + 1];

std::string trim(const std::string &s)
{
    std::size_t b = 0, e = s.size();
    while (b < e && std::isspace(static_cast<unsigned char>(s[b])))
        ++b;
    while (e > b && std::isspace(static_cast<unsigned char>(s[e - 1])))
        --e;
    return s.substr(b, e - b);
}

void warn(const std::string &file, int line, const char *what)
{
    std::fprintf(stderr, "vornacq4: %s:%d: %s; line ignored\n", file.c_str(), line, what);
}

// Takes one line of the map into the table, or reports why not.
void read_line(const std::string &file, int line, const std::string &raw)
{
    if (raw.size() > kMaxLineBytes || raw.find('\0') != std::string::npos) {
        warn(file, line, "longer than any device path, or holds a zero byte");
        return;
    }
    const std::string text = trim(raw.substr(0, raw.find('#')));
    if (text.empty())
        return;
    std::size_t gap = 0;
    while (gap < text.size() && !std::isspace(static_cast<unsigned char>(text[gap])))
        ++gap;
    const int port = com_number(text.substr(0, gap));
    const std::string path = trim(text.substr(gap));
    if (port == 0 || path.empty()) {
        warn(file, line, "expected 'COMn <device path>' or 'COMn none', n from 1 to 18");
        return;
    }
    if (g_named[port]) {
        warn(file, line, "this port is named on an earlier line");
        return;
    }
    g_named[port] = true;
    g_path[port] = path == "none" ? std::string() : path;
}

void load_locked()
{
    g_loaded = true;
    if (g_startupDir.empty())
        filesys::current_dir(g_startupDir);
    const std::string file = g_startupDir + "/comports.map";
    std::string contents;
    const int read = filesys::read_regular(file.c_str(), kMaxMapBytes, contents);
    // A map that is there but cannot be read may have named any device for
    // any port: none is used rather than a standard name it may have changed.
    const bool unreadable = read != 0 && read != -ENOENT;
    for (int p = 1; p <= COM_PORTS; ++p) {
        g_named[p] = unreadable;
        g_path[p].clear();
    }
    if (unreadable) {
        std::fprintf(stderr, "vornacq4: %s: %s%s; not read, no port is used\n", file.c_str(),
                     filesys::error_text(read), read == filesys::TOO_LARGE ? " (over 64 KiB)" : "");
        return;
    }
    std::istringstream in(contents);
    std::string raw;
    for (int line = 1; std::getline(in, raw); ++line)
        read_line(file, line, raw);
}

// The device a port stands for when the map does not name one: the system's
// own name for it.
std::string standard_path(int port)
{
#ifdef _WIN32
    return "\\\\.\\COM" + std::to_string(port); // \\.\COMn: the form that reaches COM10 and above too
#else
    return "/dev/ttyS" + std::to_string(port - 1);
#endif
}

} // namespace

void port_map_set_startup_dir(const std::string &dir)
{
    std::lock_guard<std::mutex> lock(g_mutex);
    if (g_startupDir.empty())
        g_startupDir = dir;
}

void port_map_load()
{
    std::lock_guard<std::mutex> lock(g_mutex);
    if (!g_loaded)
        load_locked();
}

bool port_map_peek(int port, std::string &path)
{
    std::lock_guard<std::mutex> lock(g_mutex);
    if (!g_loaded || port < 1 || port > COM_PORTS)
        return false;
    path = g_named[port] ? g_path[port] : standard_path(port);
    return true;
}

std::string port_map_resolve(int port, const char *deviceName)
{
    std::lock_guard<std::mutex> lock(g_mutex);
    if (!g_loaded)
        load_locked();
    if (deviceName != nullptr && deviceName[0] != '\0') {
        port = com_number(deviceName);
        if (port == 0)
            return deviceName;
    }
    if (port < 1 || port > COM_PORTS)
        return std::string();
    return g_named[port] ? g_path[port] : standard_path(port);
}

int GetComDeviceInto(int port, char *name, std::size_t size)
{
    if (size > 0)
        name[0] = '\0';
    if (port < 1 || port > COM_PORTS)
        return COM_ERR_BAD_PORT;
    const std::string path = port_map_resolve(port, "");
    if (size > 0)
        std::snprintf(name, size, "%s", path.c_str());
    return path.empty() ? COM_ERR_NO_DEVICE : 0;
}

void port_map_forget()
{
    std::lock_guard<std::mutex> lock(g_mutex);
    g_loaded = false;
    g_startupDir.clear();
}
