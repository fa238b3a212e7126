// What tells one serial device from another across unplugging and plugging
// in, as the system reports it: a USB adapter's serial number, else the name
// /dev/serial/by-id gives the device.
#include "serial_backend.h"

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <dirent.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

namespace serialdev {

namespace {

// The first line of a sysfs attribute file, "" when there is none.
std::string attribute(const std::string &dir, const char *name)
{
    std::FILE *f = std::fopen((dir + "/" + name).c_str(), "r");
    if (f == nullptr)
        return std::string();
    char line[256] = "";
    const bool read = std::fgets(line, sizeof line, f) != nullptr;
    std::fclose(f);
    std::string value = read ? line : "";
    while (!value.empty() && (value.back() == '\n' || value.back() == ' '))
        value.pop_back();
    return value;
}

// The USB device above a terminal in sysfs that reports a serial number:
// "usb VVVV:PPPP serial S interface N", or "".
std::string usb_identity(dev_t device)
{
    const std::string node = "/sys/dev/char/" + std::to_string(major(device)) + ":" + std::to_string(minor(device));
    char resolved[PATH_MAX];
    if (realpath(node.c_str(), resolved) == nullptr)
        return std::string();
    const std::string top = "/sys/devices/";
    std::string dir = resolved;
    if (dir.compare(0, top.size(), top) != 0)
        return std::string();
    std::string interface;
    for (; dir.size() > top.size(); dir.erase(dir.rfind('/'))) {
        if (interface.empty())
            interface = attribute(dir, "bInterfaceNumber");
        const std::string serial = attribute(dir, "serial");
        const std::string vendor = attribute(dir, "idVendor");
        if (!serial.empty() && !vendor.empty())
            return "usb " + vendor + ":" + attribute(dir, "idProduct") + " serial " + serial + " interface " +
                   interface;
    }
    return std::string();
}

// The first name in /dev/serial/by-id that names the device, or "".
std::string by_id_identity(dev_t device)
{
    const std::string dir = "/dev/serial/by-id";
    DIR *d = opendir(dir.c_str());
    if (d == nullptr)
        return std::string();
    std::string first;
    while (const dirent *e = readdir(d)) {
        struct stat st;
        const std::string name = e->d_name;
        if (name[0] == '.' || stat((dir + "/" + name).c_str(), &st) != 0 || !S_ISCHR(st.st_mode) ||
            st.st_rdev != device)
            continue;
        if (first.empty() || name < first)
            first = name;
    }
    closedir(d);
    return first.empty() ? first : "by-id " + first;
}

} // namespace

std::string system_identity(const char *path)
{
    struct stat st;
    if (stat(path, &st) != 0 || !S_ISCHR(st.st_mode))
        return std::string();
    const std::string usb = usb_identity(st.st_rdev);
    return usb.empty() ? by_id_identity(st.st_rdev) : usb;
}

std::atomic<IdentitySource> identity_source{system_identity};

std::string identity(const char *path)
{
    return identity_source.load()(path);
}

} // namespace serialdev
