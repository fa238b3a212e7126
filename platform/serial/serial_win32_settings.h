// serial_win32_settings.h - the settings a Win32 COM port is given
// (serial_win32_settings.cpp), for the Win32 back end (serial_win32.cpp).
#pragma once

#include "serial_backend.h"

#include <windows.h>

namespace serialdev {

// Applies the settings to an open port and reads them back: 0, or
// COM_ERR_BAD_SETTING when the port refused them or quietly kept others.
int win32_apply(HANDLE device, const Settings &settings);
// Takes a port just opened with the settings, and read time-outs that hand
// out each byte as it comes. When they are refused, the port is left with
// the settings it had. 0, or a ComError.
int win32_take(HANDLE device, const Settings &settings);

} // namespace serialdev
