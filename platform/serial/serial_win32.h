// serial_win32.h - what the Win32 serial back end decides without a device:
// the meaning of a system error at open and at a read, the line's errors an
// error mask tells, and the identity a device instance ID gives. Pure functions, here so that tests check them
// against every code they list; wine shows neither a port another program
// holds nor an adapter pulled out.
#pragma once

#include "serial_backend.h"

#include <string>

namespace serialdev {

// The ComError for a GetLastError() code of CreateFileW on a port's path:
// no such port, held by another program (Windows answers "access denied"),
// no serial port, or COM_ERR_SYSTEM for what none of these explains.
int win32_open_error(unsigned long code);

// What a failed ReadFile or GetOverlappedResult on an open port means: 0
// when nothing is waiting yet and the port is well (the read is still under
// way, timed out empty, or was cancelled by the back end itself, as
// cancelledHere tells), else COM_ERR_DEVICE_GONE.
long win32_read_error(unsigned long code, bool cancelledHere);

// Adds to counts what one ClearCommError found in its error flags: one for
// each of CE_OVERRUN, CE_RXOVER, CE_FRAME, CE_RXPARITY and CE_BREAK that is
// set (Windows flags each kind that occurred since the last call, not how
// often). Other flags count nothing.
void add_comm_errors(unsigned long errors, LineCounts &counts);

// The identity of a USB serial device from its device instance ID, in the
// manner of the Linux one: "usb 0403:6001 serial A1B2C3", with " interface
// NN" for one function of a composite device. "" when the ID carries no
// serial number: not a USB device, or one whose last part Windows made up
// itself (it holds '&': the device reports no serial number).
//   USB\VID_0403&PID_6001\A1B2C3           -> usb 0403:6001 serial A1B2C3
//   FTDIBUS\VID_0403+PID_6001+A1B2C3A\0000 -> usb 0403:6001 serial A1B2C3A
std::string identity_from_instance_id(const std::string &instanceId);

} // namespace serialdev
