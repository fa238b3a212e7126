// Test seams of the serial ports: the port map read again and looked up, and
// identities for pseudo-terminals, which the system gives none, so that a
// test can plug another device in under a name.
#include "engine_seams.h"

#include "serial/port_map.h"
#include "serial/serial_backend.h"

#include <climits>
#include <cstdlib>
#include <map>
#include <mutex>

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

} // namespace

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
