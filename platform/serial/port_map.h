// port_map.h - the one place where COMn becomes a device path.
//
// The optional file comports.map in the start-up directory names devices:
//     # comment
//     COM1 /dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A1B2C3-if00-port0
//     COM4 none
//     COM5 \\.\COM23        (on Windows)
// A port the file does not name is /dev/ttyS(n-1) on Linux, \\.\COMn on
// Windows. "none" marks the port absent. A malformed line is reported on
// stderr with its number and ignored. Only a regular file of up to 64 KiB is
// read, never waiting on it; when anything else is under that name, or it
// cannot be read, one line on stderr says so and every port is absent.
#pragma once

#include <string>

// Records the start-up directory, where comports.map is looked for. The first
// call wins; if none is made, the directory current at the first lookup is used.
void port_map_set_startup_dir(const std::string &dir);

// The device path of port 1..COM_PORTS, "" for a port marked none.
// deviceName "" means COMn itself; another name is resolved the same way
// when it is COMk, and is taken as a path otherwise.
std::string port_map_resolve(int port, const char *deviceName);

// Reads comports.map now, unless it has been read: the engine's start does,
// before any thread that looks ports up without reading files begins.
void port_map_load();

// Port 1..COM_PORTS's device path ("" for none) from the map read already,
// for a thread that must never read a file (the HTTP endpoint's); false,
// with path untouched, while the map has not been read.
bool port_map_peek(int port, std::string &path);

// Forgets the map read so far and the start-up directory: the next lookup
// reads comports.map again, from the directory current then.
void port_map_forget();
