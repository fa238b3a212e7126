// serial_backend.h - the operating system's serial devices.
//
// The one place where the engine touches a serial device: serial_posix.cpp,
// and serial_identity.cpp for what tells devices apart. The queues, the
// reader thread and the port numbers live above it (serial.cpp). Two back
// ends provide these functions: termios (serial_posix.cpp) and Win32
// (serial_win32.cpp, with serial_identity_win32.cpp).
#pragma once

#include "engine.h"

#include <atomic>
#include <cstddef>
#include <string>

namespace serialdev {

// An open device as the back end knows it: a descriptor on POSIX, the number
// of the back end's own record of the open port on Windows. Never negative;
// the negative values a call returns in its place are ComErrors.
using Handle = int;

struct Settings {
    long baud = 9600;
    int parity = 0;   // 0 none, 1 odd, 2 even, 3 mark, 4 space
    int dataBits = 8; // 5..8
    int stopBits = 1; // 1 or 2
    bool xonxoff = false;
    bool rtscts = false;
};

// Whether the settings can be applied at all (a supported rate, and so on).
bool valid(const Settings &settings);

// Opens the device exclusively, non-blocking, in raw mode with the settings.
// Returns a handle (>= 0) or a ComError (no device, permission, busy, not
// serial, bad setting, system). What the device sent before stays in its
// buffer: flush_input discards it where that is wanted.
Handle open(const char *path, const Settings &settings);
// Applies new settings to an open device; 0 or a ComError.
int apply(Handle device, const Settings &settings);
void flush_input(Handle device);
// Reads up to max bytes that are waiting. Returns the count (> 0), 0 when
// nothing is waiting, or COM_ERR_DEVICE_GONE when the device hung up.
long read_some(Handle device, unsigned char *buffer, std::size_t max);
void close(Handle device);

// What tells one device from another across unplugging and plugging in: the
// USB serial number the system reports (with vendor, product and interface;
// on Windows from the device instance ID), else on Linux the /dev/serial/by-id
// name that points to the device. "" when the
// system tells nothing, or no device is at path.
std::string identity(const char *path);
// Where identity() reads it: the system (system_identity), unless a test
// gives its pseudo-terminals identities of their own (engine_seams).
std::string system_identity(const char *path);
using IdentitySource = std::string (*)(const char *path);
extern std::atomic<IdentitySource> identity_source;

// The line's own errors the device's driver counted, by ComLineError kind
// (engine.h), each since a moment of the driver's own: the engine takes the
// differences between readings.
struct LineCounts {
    long long kind[COM_LINE_KINDS] = {};
};
// Reads the counters of an open device without waiting on it (no I/O with
// the device itself), so it may be called under the engine's lock. Returns
// false when the driver keeps none (a pseudo-terminal): no error.
bool line_counts(Handle device, LineCounts &counts);
// Where line_counts() reads them: the driver (system_line_counts), unless a
// test supplies counters of its own (engine_seams), since no pseudo-terminal
// has any.
bool system_line_counts(Handle device, LineCounts &counts);
using LineCountsSource = bool (*)(Handle device, LineCounts &counts);
extern std::atomic<LineCountsSource> line_counts_source;

// What a wait found for one device.
enum Readiness { Idle, Readable, HungUp };

// Waits until one of devices is readable or hung up, wake() is called, or
// timeoutMs passes (-1: no limit). Fills ready[i] for each device.
void wait(const Handle *devices, Readiness *ready, int count, int timeoutMs);
// Ends the current or next wait() early; safe from any thread.
void wake();

} // namespace serialdev
