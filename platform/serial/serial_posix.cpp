// POSIX back end of the serial services: termios, as terminal programs use.
#include "serial_backend.h"
#include "termios_rates.h"

#include "engine.h"

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace serialdev {

namespace {

int open_error(int err)
{
    switch (err) {
    case ENOENT:
    case ENOTDIR: // a path through something that is no directory
    case ENODEV:
    case ENXIO:
    case EIO: // a ttyS node without a UART behind it
        return COM_ERR_NO_DEVICE;
    case EACCES:
    case EPERM:
        return COM_ERR_PERMISSION;
    case EBUSY:
        return COM_ERR_BUSY;
    case EISDIR:
    case ENOTTY:
        return COM_ERR_NOT_SERIAL;
    default:
        return COM_ERR_SYSTEM;
    }
}

tcflag_t size_flag(int dataBits)
{
    switch (dataBits) {
    case 5: return CS5;
    case 6: return CS6;
    case 7: return CS7;
    default: return CS8;
    }
}

// Whether a live process other than this one holds the device through a
// UUCP lock file (/run/lock/LCK..ttyUSB0), as minicom and cu mark the ports
// they use. A lock of a process that has ended is stale and ignored.
bool uucp_locked(const char *path)
{
    char resolved[PATH_MAX];
    if (realpath(path, resolved) == nullptr)
        return false;
    const char *slash = std::strrchr(resolved, '/');
    const std::string name = std::string("LCK..") + (slash != nullptr ? slash + 1 : resolved);
    for (const char *dir : {"/run/lock", "/var/lock"}) {
        std::FILE *f = std::fopen((std::string(dir) + "/" + name).c_str(), "r");
        if (f == nullptr)
            continue;
        long pid = 0;
        const bool read = std::fscanf(f, "%ld", &pid) == 1;
        std::fclose(f);
        if (read && pid > 0 && pid != getpid() && (kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM))
            return true;
    }
    return false;
}

int wake_fd()
{
    static const int fd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    return fd;
}

} // namespace

bool valid(const Settings &s)
{
    speed_t code;
    return termios_speed(s.baud, code) && s.parity >= 0 && s.parity <= 4 && s.dataBits >= 5 &&
           s.dataBits <= 8 && (s.stopBits == 1 || s.stopBits == 2);
}

int apply(Handle fd, const Settings &s)
{
    speed_t code;
    if (!valid(s) || !termios_speed(s.baud, code))
        return COM_ERR_BAD_SETTING;
    termios tio{};
    if (tcgetattr(fd, &tio) != 0)
        return COM_ERR_NOT_SERIAL;
    // Raw, and every flag set here rather than left as the last program had
    // it: a parity check left on (INPCK, IGNPAR) turns bytes into NULs or
    // drops them, a case mapping alters them.
    tio.c_iflag = s.xonxoff ? (IXON | IXOFF) : 0;
    tio.c_oflag = 0;
    tio.c_lflag = 0;
    tio.c_cflag = (tio.c_cflag & HUPCL) | CREAD | CLOCAL | size_flag(s.dataBits);
    if (s.parity != 0)
        tio.c_cflag |= PARENB;
    if (s.parity == 1 || s.parity == 3)
        tio.c_cflag |= PARODD;
    if (s.parity >= 3)
        tio.c_cflag |= CMSPAR;
    if (s.stopBits == 2)
        tio.c_cflag |= CSTOPB;
    if (s.rtscts)
        tio.c_cflag |= CRTSCTS;
    tio.c_cc[VMIN] = 1;
    tio.c_cc[VTIME] = 0;
    if (cfsetispeed(&tio, code) != 0 || cfsetospeed(&tio, code) != 0)
        return COM_ERR_BAD_SETTING;
    if (tcsetattr(fd, TCSANOW, &tio) != 0)
        return errno == EINVAL ? COM_ERR_BAD_SETTING : COM_ERR_SYSTEM;
    // tcsetattr succeeds when any part of the change took: read it back.
    termios now{};
    if (tcgetattr(fd, &now) != 0)
        return COM_ERR_SYSTEM;
    const tcflag_t frame = CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS;
    if (now.c_iflag != tio.c_iflag || now.c_lflag != tio.c_lflag || (now.c_cflag & frame) != (tio.c_cflag & frame) ||
        cfgetispeed(&now) != code)
        return COM_ERR_BAD_SETTING;
    return 0;
}

// Takes a terminal just opened for this program alone with the settings.
// When they are refused, it is left as it was found (settings, shared use):
// other programs may hold it open.
int take(int fd, const Settings &settings)
{
    termios found{};
    if (tcgetattr(fd, &found) != 0)
        return COM_ERR_NOT_SERIAL;
    // Held exclusively by another program: only root gets this far, and would
    // share the bytes with it, then end its exclusive mode when closing.
    int exclusive = 0;
    if (ioctl(fd, TIOCGEXCL, &exclusive) == 0 && exclusive != 0)
        return COM_ERR_BUSY;
    if (ioctl(fd, TIOCEXCL) != 0)
        return COM_ERR_SYSTEM;
    const int result = apply(fd, settings);
    if (result != 0) {
        tcsetattr(fd, TCSANOW, &found);
        ioctl(fd, TIOCNXCL);
    }
    return result;
}

Handle open(const char *path, const Settings &settings)
{
    if (!valid(settings))
        return COM_ERR_BAD_SETTING;
    int fd;
    do {
        fd = ::open(path, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0)
        return open_error(errno);
    int result = 0;
    if (!isatty(fd))
        result = COM_ERR_NOT_SERIAL;
    else if (uucp_locked(path))
        result = COM_ERR_BUSY;
    else if (flock(fd, LOCK_EX | LOCK_NB) != 0)
        result = errno == EWOULDBLOCK ? COM_ERR_BUSY : COM_ERR_SYSTEM;
    else
        result = take(fd, settings);
    if (result != 0) {
        ::close(fd); // and with it the flock, which only this descriptor holds
        return result;
    }
    return fd;
}

void flush_input(Handle fd)
{
    tcflush(fd, TCIFLUSH);
}

long read_some(Handle fd, unsigned char *buffer, std::size_t max)
{
    for (;;) {
        ssize_t n = ::read(fd, buffer, max);
        if (n > 0)
            return static_cast<long>(n);
        if (n == 0)
            return COM_ERR_DEVICE_GONE; // end of file on a terminal: hung up
        if (errno == EINTR)
            continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK)
            return 0;
        return COM_ERR_DEVICE_GONE;
    }
}

void close(Handle fd)
{
    // Leave the terminal open to others again, then let go of it. The lock is
    // dropped explicitly: a reader thread still waiting in poll() holds the
    // open file until it wakes, and with it a lock that close() alone would
    // leave in place.
    flock(fd, LOCK_UN);
    ioctl(fd, TIOCNXCL);
    ::close(fd);
}

// The driver's counters (TIOCGICOUNT), kept from the driver's start: the
// 8250 family and the USB serial adapters' drivers answer it from what they
// hold, without a word with the device. Pseudo-terminals and some adapters
// do not answer at all.
bool system_line_counts(Handle fd, LineCounts &counts)
{
    serial_icounter_struct icount{};
    int result;
    do {
        result = ioctl(fd, TIOCGICOUNT, &icount);
    } while (result != 0 && errno == EINTR);
    if (result != 0)
        return false;
    // The kernel counts in 32 unsigned bits.
    counts.kind[COM_LINE_OVERRUN] = static_cast<unsigned int>(icount.overrun);
    counts.kind[COM_LINE_BUFFER_OVERRUN] = static_cast<unsigned int>(icount.buf_overrun);
    counts.kind[COM_LINE_FRAMING] = static_cast<unsigned int>(icount.frame);
    counts.kind[COM_LINE_PARITY] = static_cast<unsigned int>(icount.parity);
    counts.kind[COM_LINE_BREAK] = static_cast<unsigned int>(icount.brk);
    return true;
}

void wait(const Handle *fds, Readiness *ready, int count, int timeoutMs)
{
    pollfd set[COM_PORTS + 1];
    if (count > COM_PORTS)
        count = COM_PORTS;
    for (int i = 0; i < count; ++i)
        set[i] = pollfd{fds[i], POLLIN, 0};
    set[count] = pollfd{wake_fd(), POLLIN, 0};
    int n;
    do {
        n = poll(set, static_cast<nfds_t>(count) + 1, timeoutMs);
    } while (n < 0 && errno == EINTR);
    for (int i = 0; i < count; ++i) {
        const short r = n > 0 ? set[i].revents : 0;
        ready[i] = (r & POLLIN) ? Readable : (r & (POLLHUP | POLLERR | POLLNVAL)) ? HungUp : Idle;
    }
    if (n > 0 && (set[count].revents & POLLIN)) {
        eventfd_t value;
        eventfd_read(wake_fd(), &value);
    }
}

void wake()
{
    eventfd_write(wake_fd(), 1);
}

} // namespace serialdev
