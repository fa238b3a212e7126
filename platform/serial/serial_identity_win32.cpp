// What tells one serial device from another across unplugging and plugging
// in, as Windows reports it: the USB serial number in the device instance ID
// of the Ports-class device that has the port's COM name.
#include "serial_backend.h"
#include "serial_win32.h"

#include "base/com_name.h"
#include "base/utf16.h"

#include <windows.h>
#include <setupapi.h>

#include <cctype>
#include <cstring>
#include <string>

namespace serialdev {

namespace {

// The longest device instance ID (cfgmgr32.h's MAX_DEVICE_ID_LEN).
constexpr DWORD kMaxInstanceId = 200;
// The Ports (COM & LPT) device setup class.
const GUID kPortsClass = {0x4d36e978, 0xe325, 0x11ce, {0xbf, 0xc1, 0x08, 0x00, 0x2b, 0xe1, 0x03, 0x18}};

std::string lower(std::string s)
{
    for (char &c : s)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

// The hex digits after key ("VID_") in part, lower case; "" when absent.
std::string hex_after(const std::string &part, const char *key)
{
    const std::size_t at = lower(part).find(lower(key));
    if (at == std::string::npos)
        return std::string();
    std::size_t end = at + std::strlen(key);
    while (end < part.size() && std::isxdigit(static_cast<unsigned char>(part[end])))
        ++end;
    return lower(part.substr(at + std::strlen(key), end - at - std::strlen(key)));
}

// The COM name a path names ("\\.\COM7" -> "COM7"), "" for any other path.
std::string com_name(const std::string &path)
{
    std::string name = path;
    for (const char *prefix : {"\\\\.\\", "\\\\?\\"})
        if (name.compare(0, 4, prefix) == 0)
            name.erase(0, 4);
    const int n = com_name_number(name);
    return n == 0 ? std::string() : "COM" + std::to_string(n);
}

// The "PortName" in the device's hardware key, "" when it has none.
std::wstring port_name(HDEVINFO set, SP_DEVINFO_DATA &device)
{
    HKEY key = SetupDiOpenDevRegKey(set, &device, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_READ);
    if (key == INVALID_HANDLE_VALUE)
        return std::wstring();
    wchar_t name[64] = L"";
    DWORD size = sizeof name - sizeof name[0]; // room for the terminator a REG_SZ may lack
    DWORD type = 0;
    const LONG read = RegQueryValueExW(key, L"PortName", nullptr, &type, reinterpret_cast<BYTE *>(name), &size);
    RegCloseKey(key);
    return read == ERROR_SUCCESS && type == REG_SZ ? std::wstring(name) : std::wstring();
}

// The instance ID of the present Ports-class device named com, "" if none.
std::string instance_id_of(const std::string &com)
{
    HDEVINFO set = SetupDiGetClassDevsW(&kPortsClass, nullptr, nullptr, DIGCF_PRESENT);
    if (set == INVALID_HANDLE_VALUE)
        return std::string();
    std::string found;
    SP_DEVINFO_DATA device{};
    device.cbSize = sizeof device;
    for (DWORD i = 0; found.empty() && SetupDiEnumDeviceInfo(set, i, &device); ++i) {
        std::string name;
        if (!utf16::to_utf8(port_name(set, device), name) || lower(name) != lower(com))
            continue;
        wchar_t id[kMaxInstanceId + 1] = L"";
        if (SetupDiGetDeviceInstanceIdW(set, &device, id, kMaxInstanceId + 1, nullptr))
            utf16::to_utf8(id, -1, found);
    }
    SetupDiDestroyDeviceInfoList(set);
    return found;
}

} // namespace

std::string identity_from_instance_id(const std::string &id)
{
    const std::size_t first = id.find('\\');
    const std::size_t last = id.rfind('\\');
    if (first == std::string::npos || last == first)
        return std::string();
    const std::string bus = lower(id.substr(0, first));
    const std::string hardware = id.substr(first + 1, last - first - 1);
    const std::string vendor = hex_after(hardware, "VID_");
    const std::string product = hex_after(hardware, "PID_");
    if (vendor.empty() || product.empty())
        return std::string();
    std::string serial;
    std::string interface;
    if (bus == "usb") {
        // USB\VID_v&PID_p[&MI_nn]\serial
        serial = id.substr(last + 1);
        interface = hex_after(hardware, "&MI_");
    } else if (bus == "ftdibus") {
        // FTDIBUS\VID_v+PID_p+serial\0000: FTDI's driver puts the serial
        // number (with the port's letter) between the IDs and the port.
        const std::size_t plus = hardware.rfind('+');
        if (plus == std::string::npos || lower(hardware.substr(plus + 1, 4)) == "pid_")
            return std::string();
        serial = hardware.substr(plus + 1);
    } else {
        return std::string();
    }
    // A serial holding '&' is one Windows made up from the USB socket the
    // adapter is in: the same adapter in another socket would be refused.
    if (serial.empty() || serial.find('&') != std::string::npos)
        return std::string();
    std::string identity = "usb " + vendor + ":" + product + " serial " + serial;
    if (!interface.empty())
        identity += " interface " + interface;
    return identity;
}

std::string system_identity(const char *path)
{
    const std::string com = com_name(path);
    return com.empty() ? std::string() : identity_from_instance_id(instance_id_of(com));
}

std::atomic<IdentitySource> identity_source{system_identity};

std::string identity(const char *path)
{
    return identity_source.load()(path);
}

} // namespace serialdev
