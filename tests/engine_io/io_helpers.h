// Helpers shared by the serial tests: waiting with a deadline, reading what a
// port delivers, what a terminal holds. The instrument's side is ptykit's
// test stream and its PacedWriter.
#pragma once

#include "engine.h"
#include "test_support.h"

#include <poll.h>
#include <string>
#include <sys/ioctl.h>
#include <unistd.h>

namespace io_test {

using testing_support::eventually;

// Reads what the port delivers, as the logger's tick does (GetInQLen, then
// ComRd of that many), until `count` bytes came or the deadline passes.
inline std::string read_port(int port, std::size_t count, int timeoutMs = 5000)
{
    std::string got;
    eventually(
        [&] {
            const int waiting = GetInQLen(port);
            if (waiting <= 0)
                return got.size() >= count || waiting < 0;
            std::string chunk(static_cast<std::size_t>(waiting), '\0');
            const int n = ComRd(port, &chunk[0], waiting);
            if (n > 0)
                got.append(chunk, 0, static_cast<std::size_t>(n));
            return got.size() >= count;
        },
        timeoutMs);
    return got;
}

// Bytes waiting in the terminal's own input buffer, seen through any
// descriptor of the device.
inline int kernel_input_bytes(int fd)
{
    int n = -1;
    return ioctl(fd, FIONREAD, &n) == 0 ? n : -1;
}

// Whether the master side has anything to read (an echo, for instance).
inline bool master_readable(int master, int timeoutMs)
{
    pollfd p{master, POLLIN, 0};
    return poll(&p, 1, timeoutMs) > 0 && (p.revents & POLLIN);
}

} // namespace io_test

// What every serial test names.
using io_test::eventually;
using io_test::read_port;
using testing_support::PortRig;
using testing_support::TempDir;
