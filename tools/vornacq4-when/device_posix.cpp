// device.h over termios: a terminal device made raw with cfmakeraw, or a
// pseudo-terminal from openpty.
#include "device.h"

#include "serial/termios_rates.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/stat.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

namespace when {

struct Device {
    int fd;
};

namespace {

// The terminal speed of a rate in baud; false when a terminal has none.
bool speed_of(const std::string &text, speed_t &speed)
{
    if (text.empty() || text.size() > 7 || text[0] == '0' || text.find_first_not_of("0123456789") != std::string::npos)
        return false;
    return serialdev::termios_speed(std::stol(text), speed);
}

} // namespace

bool rate_known(const std::string &baud)
{
    speed_t speed = B9600;
    return speed_of(baud, speed);
}

Device *open_device(const std::string &name, const std::string &baud, std::string &error)
{
    const bool setSpeed = !baud.empty();
    speed_t speed = B9600;
    const int fd = ::open(name.c_str(), O_WRONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    struct stat st {};
    termios tio{};
    if (fd < 0 || ::fstat(fd, &st) != 0 || !S_ISCHR(st.st_mode) || !isatty(fd) || tcgetattr(fd, &tio) != 0) {
        error = name + " is not a terminal device";
        if (fd >= 0)
            ::close(fd);
        return nullptr;
    }
    cfmakeraw(&tio);
    if ((setSpeed && (!speed_of(baud, speed) || cfsetspeed(&tio, speed) != 0)) || tcsetattr(fd, TCSANOW, &tio) != 0 ||
        tcgetattr(fd, &tio) != 0 || (setSpeed && cfgetospeed(&tio) != speed)) {
        error = name + " refuses raw mode or that rate";
        ::close(fd);
        return nullptr;
    }
    return new Device{fd};
}

bool has_new_terminals(std::string &)
{
    return true;
}

Device *open_new_terminal(std::string &error)
{
    int master = -1, slave = -1;
    char name[256];
    termios raw{};
    cfmakeraw(&raw);
    if (openpty(&master, &slave, name, &raw, nullptr) != 0) {
        error = "cannot open a pseudo-terminal";
        return nullptr;
    }
    std::printf("%s\n", name);
    std::fflush(stdout);
    return new Device{master};
}

bool write_all(Device *device, const char *bytes, long long count)
{
    while (count > 0) {
        const ssize_t n = ::write(device->fd, bytes, static_cast<std::size_t>(count));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            pollfd p{device->fd, POLLOUT, 0};
            if (::poll(&p, 1, -1) < 0 && errno != EINTR)
                return false;
            continue;
        }
        if (n <= 0)
            return false;
        bytes += n;
        count -= n;
    }
    return true;
}

void finish(Device *device)
{
    tcdrain(device->fd);
    // Let the last bytes leave before the device goes.
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    ::close(device->fd);
    delete device;
}

} // namespace when
