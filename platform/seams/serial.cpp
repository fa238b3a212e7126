// Test seams of the serial ports: the port map read again and looked up,
// identities for pseudo-terminals, which the system gives none, so that a
// test can plug another device in under a name, and line error counters,
// which no pseudo-terminal keeps.
#include "engine_seams.h"

#include "serial/port_map.h"
#include "serial/serial_backend.h"

#include <climits>
#include <cstdlib>
#include <map>
#include <mutex>
#include <sys/stat.h>

namespace {

std::mutex g_mutex;
std::map<std::string, std::string> g_identities; // by the device's resolved path

std::string resolved(const char *path)
{
    char buffer[PATH_MAX];
    return realpath(path, buffer) != nullptr ? std::string(buffer) : std::string();
}

std::string seam_identity(const char *path)
{
    const std::string device = resolved(path);
    std::lock_guard<std::mutex> lock(g_mutex);
    const auto it = g_identities.find(device);
    return it != g_identities.end() ? it->second : serialdev::system_identity(path);
}

// By the device number: the engine asks with an open descriptor, and fstat
// of one never waits.
std::map<dev_t, serialdev::LineCounts> g_lineCounts;

bool seam_line_counts(serialdev::Handle device, serialdev::LineCounts &counts)
{
    struct stat st;
    if (fstat(device, &st) != 0)
        return false;
    {
        std::lock_guard<std::mutex> lock(g_mutex);
        const auto it = g_lineCounts.find(st.st_rdev);
        if (it != g_lineCounts.end()) {
            counts = it->second;
            return true;
        }
    }
    return serialdev::system_line_counts(device, counts);
}

} // namespace

void SeamSetLineCounts(const std::string &device, const std::vector<long long> &counts)
{
    struct stat st;
    if (stat(device.c_str(), &st) != 0)
        return;
    {
        std::lock_guard<std::mutex> lock(g_mutex);
        if (counts.empty()) {
            g_lineCounts.erase(st.st_rdev);
        } else {
            serialdev::LineCounts &c = g_lineCounts[st.st_rdev];
            for (std::size_t k = 0; k < counts.size() && k < COM_LINE_KINDS; ++k)
                c.kind[k] = counts[k];
        }
    }
    serialdev::line_counts_source.store(seam_line_counts);
}

void SeamReloadPortMap()
{
    port_map_forget();
}

std::string SeamPortPath(int port, const char *deviceName)
{
    return port_map_resolve(port, deviceName);
}

void SeamSetDeviceIdentity(const std::string &device, const std::string &identity)
{
    const std::string key = resolved(device.c_str());
    {
        std::lock_guard<std::mutex> lock(g_mutex);
        if (identity.empty())
            g_identities.erase(key);
        else
            g_identities[key] = identity;
    }
    serialdev::identity_source.store(seam_identity);
}
