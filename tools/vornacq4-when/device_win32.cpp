// device.h over Win32: a COM port opened with CreateFileW and set with a
// DCB. Windows has no pseudo-terminals, so a replay needs --to there.
#include "device.h"

#include "win32_text.h"

#include "base/com_name.h"
#include "base/utf16.h"

#include <algorithm>
#include <windows.h>

namespace when {

struct Device {
    HANDLE handle;
};

namespace {

constexpr unsigned long kHighestRate = 0x7FFFFFFF; // the driver refuses what it cannot do
constexpr long long kLargestWrite = 1 << 30;        // what one WriteFile is given at most

// "COM7" (any letter case) as the device name "\\.\COM7", which COM10 and
// above need; any other name as it is. Empty for a name that is no UTF-8.
std::wstring port_path(const std::string &name)
{
    std::wstring wide;
    if (!utf16::from_utf8(name, wide))
        return std::wstring();
    return com_name_number(name) != 0 ? L"\\\\.\\" + wide : wide;
}

// Raw: 8 data bits, no parity, one stop bit, no flow control, no character
// replaced or dropped; DTR and RTS up, as a terminal opened on Linux has them.
void make_raw(DCB &dcb)
{
    dcb.fBinary = TRUE;
    dcb.fParity = FALSE;
    dcb.ByteSize = 8;
    dcb.Parity = NOPARITY;
    dcb.StopBits = ONESTOPBIT;
    dcb.fOutxCtsFlow = FALSE;
    dcb.fOutxDsrFlow = FALSE;
    dcb.fDsrSensitivity = FALSE;
    dcb.fDtrControl = DTR_CONTROL_ENABLE;
    dcb.fRtsControl = RTS_CONTROL_ENABLE;
    dcb.fOutX = FALSE;
    dcb.fInX = FALSE;
    dcb.fErrorChar = FALSE;
    dcb.fNull = FALSE;
    dcb.fAbortOnError = FALSE;
}

// Sets the port raw at `baud` (0: its rate kept) and reads the settings back
// rather than trusting the call. Writes wait as long as the port needs.
bool apply(HANDLE h, unsigned long baud)
{
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    COMMTIMEOUTS timeouts{}; // all 0: a write returns when every byte is taken
    if (!GetCommState(h, &dcb))
        return false;
    make_raw(dcb);
    if (baud != 0)
        dcb.BaudRate = baud;
    if (!SetCommState(h, &dcb) || !SetCommTimeouts(h, &timeouts))
        return false;
    DCB got{};
    got.DCBlength = sizeof got;
    return GetCommState(h, &got) && got.ByteSize == 8 && got.Parity == NOPARITY && (baud == 0 || got.BaudRate == baud);
}

} // namespace

bool rate_known(const std::string &baud)
{
    if (baud.empty() || baud.size() > 10 || baud[0] == '0' || baud.find_first_not_of("0123456789") != std::string::npos)
        return false;
    return std::stoull(baud) <= kHighestRate;
}

Device *open_device(const std::string &name, const std::string &baud, std::string &error)
{
    const HANDLE h = CreateFileW(port_path(name).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                 FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        error = name + " cannot be opened: " + error_text(GetLastError());
        return nullptr;
    }
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (GetFileType(h) != FILE_TYPE_CHAR || !GetCommState(h, &dcb)) {
        CloseHandle(h);
        error = name + " is not a serial port";
        return nullptr;
    }
    if (!apply(h, baud.empty() ? 0 : std::stoul(baud))) {
        CloseHandle(h);
        error = name + " refuses raw mode or that rate";
        return nullptr;
    }
    return new Device{h};
}

bool has_new_terminals(std::string &why)
{
    why = "Windows has no pseudo-terminals to replay onto: name a COM port with --to";
    return false;
}

Device *open_new_terminal(std::string &error)
{
    has_new_terminals(error);
    return nullptr;
}

bool write_all(Device *device, const char *bytes, long long count)
{
    while (count > 0) {
        DWORD n = 0;
        if (!WriteFile(device->handle, bytes, static_cast<DWORD>(std::min(count, kLargestWrite)), &n, nullptr))
            return false;
        if (n == 0)
            Sleep(10); // a driver that took nothing yet: wait, as for a full terminal
        bytes += n;
        count -= n;
    }
    return true;
}

void finish(Device *device)
{
    // Returns once the port has sent what it was given.
    FlushFileBuffers(device->handle);
    Sleep(200);
    CloseHandle(device->handle);
    delete device;
}

} // namespace when
