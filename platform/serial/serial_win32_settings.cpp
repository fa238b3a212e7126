// The settings a Win32 COM port is given: its DCB, every field that could
// alter, drop or hold back a byte set afresh, read back to see that it took,
// and the time-outs that make a read complete as soon as a byte is there.
#include "serial_win32_settings.h"

#include "engine.h"

namespace serialdev {

namespace {

// What the driver is asked to buffer while no read is under way (a full queue
// in the engine): nearly three seconds at 921600 baud. Drivers may keep less.
constexpr DWORD kDriverInputBytes = 1 << 18;
constexpr DWORD kDriverOutputBytes = 4096;
// An idle port's read ends empty this often and is started again: below
// MAXDWORD, which would make the read return at once, and rare enough to cost
// nothing.
constexpr DWORD kIdleReadMs = 1000;

BYTE parity_code(int parity)
{
    switch (parity) {
    case 1: return ODDPARITY;
    case 2: return EVENPARITY;
    case 3: return MARKPARITY;
    case 4: return SPACEPARITY;
    default: return NOPARITY;
    }
}

// The DCB for the settings, every field that could alter, drop or hold back
// a byte set afresh rather than left as the last program had it.
DCB settings_dcb(DCB dcb, const Settings &s)
{
    dcb.DCBlength = sizeof dcb;
    dcb.BaudRate = static_cast<DWORD>(s.baud);
    dcb.ByteSize = static_cast<BYTE>(s.dataBits);
    dcb.Parity = parity_code(s.parity);
    dcb.StopBits = s.stopBits == 2 ? TWOSTOPBITS : ONESTOPBIT;
    dcb.fBinary = TRUE;     // no end-of-file character ends the input
    dcb.fParity = FALSE;    // parity framed but not checked, as on Linux: no byte marked or replaced
    dcb.fErrorChar = FALSE; // no byte with a parity error replaced
    dcb.fNull = FALSE;      // no zero byte discarded
    dcb.fAbortOnError = FALSE; // a line error stops no read
    dcb.fDsrSensitivity = FALSE; // no byte ignored while DSR is low
    dcb.fOutxDsrFlow = FALSE;
    dcb.fDtrControl = DTR_CONTROL_ENABLE;
    dcb.fOutxCtsFlow = s.rtscts ? TRUE : FALSE;
    dcb.fRtsControl = s.rtscts ? RTS_CONTROL_HANDSHAKE : RTS_CONTROL_ENABLE;
    dcb.fOutX = s.xonxoff ? TRUE : FALSE;
    dcb.fInX = s.xonxoff ? TRUE : FALSE;
    dcb.fTXContinueOnXoff = TRUE;
    dcb.XonChar = 0x11;
    dcb.XoffChar = 0x13;
    // XOFF when less than this much room is left in the driver's input,
    // XON again when it holds this little: within any driver's buffer.
    dcb.XoffLim = 512;
    dcb.XonLim = 2048;
    return dcb;
}

// Whether the port took what was asked: SetCommState succeeds with a rate or
// a frame the driver quietly kept as it was.
bool took(const DCB &now, const DCB &asked)
{
    return now.BaudRate == asked.BaudRate && now.ByteSize == asked.ByteSize && now.Parity == asked.Parity &&
           now.StopBits == asked.StopBits && now.fBinary == asked.fBinary && now.fErrorChar == asked.fErrorChar &&
           now.fNull == asked.fNull && now.fAbortOnError == asked.fAbortOnError && now.fParity == asked.fParity &&
           now.fDsrSensitivity == asked.fDsrSensitivity &&
           now.fOutxCtsFlow == asked.fOutxCtsFlow && now.fOutX == asked.fOutX && now.fInX == asked.fInX;
}

// Whether the program runs under wine, whose serial reads do not keep the
// documented time-outs (set_timeouts).
bool under_wine()
{
    static const bool wine =
        GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
    return wine;
}

// Reads complete as soon as there is a byte to hand out. On Windows the
// documented way: with ReadIntervalTimeout and ReadTotalTimeoutMultiplier
// MAXDWORD, a read returns at once with what is there, else with the first
// byte to come, else empty after kIdleReadMs (and is started again). Wine
// never completes such a read, bytes or not: there, a read waits for its
// first byte with no time-out and ends at the first pause between bytes.
bool set_timeouts(HANDLE device)
{
    COMMTIMEOUTS t{};
    if (under_wine()) {
        t.ReadIntervalTimeout = 1;
    } else {
        t.ReadIntervalTimeout = MAXDWORD;
        t.ReadTotalTimeoutMultiplier = MAXDWORD;
        t.ReadTotalTimeoutConstant = kIdleReadMs;
    }
    return SetCommTimeouts(device, &t) != 0;
}

} // namespace

int win32_apply(HANDLE device, const Settings &s)
{
    if (!valid(s))
        return COM_ERR_BAD_SETTING;
    DCB found{};
    found.DCBlength = sizeof found;
    if (!GetCommState(device, &found))
        return COM_ERR_NOT_SERIAL;
    DCB asked = settings_dcb(found, s);
    if (!SetCommState(device, &asked))
        return GetLastError() == ERROR_INVALID_PARAMETER ? COM_ERR_BAD_SETTING : COM_ERR_SYSTEM;
    DCB now{};
    now.DCBlength = sizeof now;
    if (!GetCommState(device, &now))
        return COM_ERR_SYSTEM;
    return took(now, asked) ? 0 : COM_ERR_BAD_SETTING;
}

int win32_take(HANDLE device, const Settings &s)
{
    DCB found{};
    found.DCBlength = sizeof found;
    if (!GetCommState(device, &found))
        return COM_ERR_NOT_SERIAL;
    SetupComm(device, kDriverInputBytes, kDriverOutputBytes); // a wish the driver may round down
    int result = win32_apply(device, s);
    if (result == 0 && !set_timeouts(device))
        result = COM_ERR_SYSTEM;
    if (result != 0)
        SetCommState(device, &found);
    return result;
}

} // namespace serialdev
