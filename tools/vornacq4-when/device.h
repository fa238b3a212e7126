// device.h - where replay sends its bytes: a serial port (a terminal device
// on Linux, COMn on Windows) opened raw, 8 data bits, at the rate asked for;
// or, where the system has them, a pseudo-terminal made for the replay.
// device_posix.cpp or device_win32.cpp, as CMake chooses.
#pragma once

#include <string>

namespace when {

struct Device; // the open device, as its system keeps it

// Whether a serial port can be set to `baud` (decimal) at all.
bool rate_known(const std::string &baud);

// Opens `name` when it is a serial port and makes it raw, at `baud` unless
// that is empty (the port's rate is then kept). Null with a message in
// `error` when it is anything else or refuses: not a byte is written then.
Device *open_device(const std::string &name, const std::string &baud, std::string &error);

// Whether open_new_terminal can make one here; when not, `why` says so.
bool has_new_terminals(std::string &why);

// A new pseudo-terminal, raw, whose name is printed on stdout. Its other
// side stays open here, so the device lives while readers come and go.
// Null with a message in `error` when none can be had.
Device *open_new_terminal(std::string &error);

// Writes all `count` bytes, resuming after partial writes and waiting while
// the device is full. False when it refuses them.
bool write_all(Device *device, const char *bytes, long long count);

// Lets the bytes written leave the device, then closes it.
void finish(Device *device);

} // namespace when
