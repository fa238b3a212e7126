// replay: the bytes of consecutive recordings at the pace they arrived, onto
// a terminal device or a new pseudo-terminal.
//
// The pace follows the index, with two exceptions for a clock that moved:
// a time earlier than the one before (the clock set back) is a gap of zero,
// and no silence lasts longer than --max-gap (a clock set forward looks like
// a silence as long as the step; no replay should wait an hour for it).
#include "commands.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/stat.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

namespace when {

namespace {

using Clock = std::chrono::steady_clock;

constexpr long long kSliceUs = 10000; // bytes this close together go in one write
constexpr double kLongestWaitUs = 100.0 * 365 * 86400 * 1e6;

struct Pace {
    Clock::time_point start;
    double speed = 1.0;
    long long maxGapUs = 600LL * 1000000;
    long long previous = -1; // the arrival time last sent
    long long elapsed = 0;   // recording time since the first byte, gaps shortened
};

// Waits until the bytes that arrived at `t` are due.
void wait_for(Pace &p, long long t)
{
    if (p.previous >= 0)
        p.elapsed += std::clamp(t - p.previous, 0LL, p.maxGapUs);
    p.previous = t;
    // Held below what the clock's nanoseconds can count (a century).
    const double due = std::min(static_cast<double>(p.elapsed) / p.speed, kLongestWaitUs);
    std::this_thread::sleep_until(p.start + std::chrono::microseconds(static_cast<long long>(due)));
}

// Writes all of it to a descriptor that may be non-blocking: when the device
// is full, waits until it takes more. False when it refuses them.
bool write_all(int fd, const char *bytes, long long count)
{
    while (count > 0) {
        const ssize_t n = ::write(fd, bytes, static_cast<std::size_t>(count));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            pollfd p{fd, POLLOUT, 0};
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

// Sends data bytes [from, to), read in pieces.
bool send(int fd, const Recording &r, long long from, long long to)
{
    static char buffer[64 * 1024];
    while (from < to) {
        const long long n = read_at(r.dataFd, from, buffer, std::min<long long>(to - from, sizeof buffer));
        if (n <= 0 || !write_all(fd, buffer, n))
            return false;
        from += n;
    }
    return true;
}

// One recording: each burst spread over its span, a slice every 10 ms.
// Bytes that no record dates go with the next that is.
bool replay_one(int fd, const Recording &r, Pace &pace)
{
    IndexReader reader(r);
    long long sent = 0;
    for (Burst b{}; reader.next(b);) {
        const long long end = b.offset + b.count;
        for (long long at = std::max(sent, b.offset); at < end;) {
            const long long t = byte_time(b, at);
            wait_for(pace, t);
            long long upto = at + 1;
            while (upto < end && byte_time(b, upto) - t < kSliceUs)
                ++upto;
            if (!send(fd, r, sent, upto))
                return false;
            sent = at = upto;
        }
    }
    return send(fd, r, sent, r.size);
}

struct Rate {
    int baud;
    speed_t speed;
};
const Rate kRates[] = {{50, B50}, {75, B75}, {110, B110}, {134, B134}, {150, B150}, {200, B200}, {300, B300},
                       {600, B600}, {1200, B1200}, {1800, B1800}, {2400, B2400}, {4800, B4800}, {9600, B9600},
                       {19200, B19200}, {38400, B38400}, {57600, B57600}, {115200, B115200}, {230400, B230400},
                       {460800, B460800}, {500000, B500000}, {576000, B576000}, {921600, B921600},
                       {1000000, B1000000}, {1152000, B1152000}, {1500000, B1500000}, {2000000, B2000000},
                       {2500000, B2500000}, {3000000, B3000000}, {3500000, B3500000}, {4000000, B4000000}};

// The terminal speed of a rate in baud; false when a terminal has none.
bool speed_of(const std::string &text, speed_t &speed)
{
    for (const Rate &rate : kRates)
        if (text == std::to_string(rate.baud)) {
            speed = rate.speed;
            return true;
        }
    return false;
}

// Opens the device to replay onto when it is a terminal, and makes it raw
// (at `speed` when one is given). -1 with a message when it is anything
// else: not a byte is written to it then.
int open_device(const std::string &device, bool setSpeed, speed_t speed, std::string &error)
{
    const int fd = ::open(device.c_str(), O_WRONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    struct stat st {};
    termios tio{};
    if (fd < 0 || ::fstat(fd, &st) != 0 || !S_ISCHR(st.st_mode) || !isatty(fd) || tcgetattr(fd, &tio) != 0) {
        error = device + " is not a terminal device";
        if (fd >= 0)
            ::close(fd);
        return -1;
    }
    cfmakeraw(&tio);
    if ((setSpeed && cfsetspeed(&tio, speed) != 0) || tcsetattr(fd, TCSANOW, &tio) != 0 || tcgetattr(fd, &tio) != 0 ||
        (setSpeed && cfgetospeed(&tio) != speed)) {
        error = device + " refuses raw mode or that rate";
        ::close(fd);
        return -1;
    }
    return fd;
}

// A new pseudo-terminal, raw, whose name is printed. Its other side stays
// open here, so the device lives while readers come and go.
int open_pseudo_terminal(std::string &error)
{
    int master = -1, slave = -1;
    char name[256];
    termios raw{};
    cfmakeraw(&raw);
    if (openpty(&master, &slave, name, &raw, nullptr) != 0) {
        error = "cannot open a pseudo-terminal";
        return -1;
    }
    std::printf("%s\n", name);
    std::fflush(stdout);
    return master;
}

struct ReplayArgs {
    Args files;
    std::string device, baud;
    Pace pace;
    double delay = 0;
};

bool number(Args &args, const char *option, double &value, double low, double high)
{
    std::string text;
    if (!take_value(args, option, text))
        return false;
    if (text.empty())
        return true;
    char *end = nullptr;
    value = std::strtod(text.c_str(), &end);
    return *end == '\0' && value >= low && value <= high;
}

bool parse_replay(Args args, ReplayArgs &a)
{
    double maxGap = 600;
    if (!take_value(args, "--to", a.device) || !take_value(args, "--baud", a.baud) ||
        !number(args, "--speed", a.pace.speed, 1e-6, 1e6) || !number(args, "--delay", a.delay, 0, 1e6) ||
        !number(args, "--max-gap", maxGap, 0, 1e6))
        return false;
    a.pace.maxGapUs = static_cast<long long>(maxGap * 1e6);
    a.files = args;
    return !a.files.empty() && (a.baud.empty() || !a.device.empty()) && a.pace.speed > 0;
}

} // namespace

int cmd_replay(Args args)
{
    ReplayArgs a;
    speed_t speed = B9600;
    if (!parse_replay(args, a))
        return usage();
    if (!a.baud.empty() && !speed_of(a.baud, speed))
        return fail("a terminal has no rate of " + a.baud + " baud");
    // Every index first, so that a missing one stops the replay before it begins.
    std::string error;
    for (const std::string &file : a.files) {
        Recording r;
        if (!open_checked(file, r, error))
            return fail(error);
    }
    const int fd = a.device.empty() ? open_pseudo_terminal(error) : open_device(a.device, !a.baud.empty(), speed, error);
    if (fd < 0)
        return fail(error);
    a.pace.start = Clock::now() + std::chrono::microseconds(static_cast<long long>(a.delay * 1e6));
    // One recording open at a time: a day of them is many files.
    for (const std::string &file : a.files) {
        Recording r;
        if (!open_checked(file, r, error))
            return fail(error);
        if (!replay_one(fd, r, a.pace))
            return fail("the device refused the bytes of " + file);
    }
    // Let the last bytes leave before the device goes.
    tcdrain(fd);
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    return 0;
}

} // namespace when
