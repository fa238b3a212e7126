// What the Win32 serial back end decides without a device (serial_win32.h):
// the meaning of Windows' errors at an open and at a read, and the line's
// errors ClearCommError flags.
#include "serial_win32.h"

#include "engine.h"

#include <windows.h>

namespace serialdev {

int win32_open_error(unsigned long code)
{
    switch (code) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:         // a path no device can have
    case ERROR_BAD_PATHNAME:
    case ERROR_DEV_NOT_EXIST:        // the device went between lookup and open
    case ERROR_DEVICE_NOT_CONNECTED:
    case ERROR_NOT_READY:
    case ERROR_GEN_FAILURE:          // an adapter that is there in name but does not answer
    case ERROR_SEM_TIMEOUT:          // the same, on a Bluetooth port
        return COM_ERR_NO_DEVICE;
    case ERROR_ACCESS_DENIED:        // a COM port is exclusive: another program has it
    case ERROR_SHARING_VIOLATION:
        return COM_ERR_BUSY;
    case ERROR_INVALID_FUNCTION:     // a device that is no serial port
    case ERROR_NOT_SUPPORTED:
        return COM_ERR_NOT_SERIAL;
    default:
        return COM_ERR_SYSTEM;
    }
}

long win32_read_error(unsigned long code, bool cancelledHere)
{
    switch (code) {
    case ERROR_IO_PENDING:
    case ERROR_IO_INCOMPLETE:
    case ERROR_TIMEOUT:              // a time-out with nothing read (wine reports it so)
    case ERROR_COUNTER_TIMEOUT:
        return 0;
    case ERROR_OPERATION_ABORTED:    // cancelled: by us, else by the driver whose device went
        return cancelledHere ? 0 : COM_ERR_DEVICE_GONE;
    case ERROR_ACCESS_DENIED:        // the port's device was removed under the handle
    case ERROR_BAD_COMMAND:
    case ERROR_DEVICE_NOT_CONNECTED:
    case ERROR_GEN_FAILURE:
    case ERROR_DEV_NOT_EXIST:
    case ERROR_BROKEN_PIPE:          // wine: the far end of a pseudo-terminal hung up
    case ERROR_INVALID_HANDLE:
        return COM_ERR_DEVICE_GONE;
    default:
        // As on Linux: a read error the back end does not know takes the
        // device as gone, and the reopen thread opens it afresh.
        return COM_ERR_DEVICE_GONE;
    }
}

void add_comm_errors(unsigned long errors, LineCounts &counts)
{
    const struct {
        DWORD flag;
        int kind;
    } kinds[] = {
        {CE_OVERRUN, COM_LINE_OVERRUN}, {CE_RXOVER, COM_LINE_BUFFER_OVERRUN}, {CE_FRAME, COM_LINE_FRAMING},
        {CE_RXPARITY, COM_LINE_PARITY}, {CE_BREAK, COM_LINE_BREAK},
    };
    for (const auto &k : kinds)
        if ((errors & k.flag) != 0)
            ++counts.kind[k.kind];
}

} // namespace serialdev
