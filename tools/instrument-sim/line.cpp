#include "line.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace sim {

namespace {

// Time a late tick may catch up on: beyond it an idle line saves nothing.
constexpr double kMaxCredit = 0.1;
// How long a hushed line waits for its reader, at least and at most.
constexpr double kHushMin = 0.05;
constexpr double kHushMax = 0.5;

int make_raw_nonblocking(int fd)
{
    termios tio{};
    if (tcgetattr(fd, &tio) != 0)
        return errno;
    cfmakeraw(&tio);
    if (tcsetattr(fd, TCSANOW, &tio) != 0 || fcntl(fd, F_SETFL, O_NONBLOCK) != 0 ||
        fcntl(fd, F_SETFD, FD_CLOEXEC) != 0)
        return errno;
    return 0;
}

// Points the link at target in one step, so that it never dangles or is missing
// while being replaced.
int relink(const char *link, const char *target)
{
    char fresh[PATH_MAX + 8];
    std::snprintf(fresh, sizeof fresh, "%s.new", link);
    unlink(fresh);
    if (symlink(target, fresh) != 0 || rename(fresh, link) != 0)
        return errno;
    return 0;
}

// Writes the next n queued bytes without blocking; what the device does not
// take is refused.
void put_on_line(Line &line, std::size_t n)
{
    ssize_t took;
    do
        took = write(line.master, line.queue + line.head, n);
    while (took < 0 && errno == EINTR);
    const std::size_t accepted = took > 0 ? static_cast<std::size_t>(took) : 0;
    line.sent += accepted;
    if (accepted < n) {
        line.refused += n - accepted;
        line.intactFrom = line.sent + line.refused;
    }
    line.head += n;
    line.queued -= n;
}

// Queues the next message when one is to be sent by `now`; false when the
// instrument has nothing to say yet. A message due while the line is still
// busy with the previous one follows it at once.
bool refill(Line &line, double now, const timespec &wall)
{
    const double period = kind_info(line.stream.kind).period;
    if (period > 0.0) {
        if (now < line.nextDue)
            return false;
        line.lineFree = std::max(line.lineFree, line.nextDue);
        line.nextDue += period;
        if (line.nextDue <= now)
            line.nextDue = now + period;
    }
    line.head = 0;
    line.queued = next_message(line.stream, wall, line.queue);
    return true;
}

} // namespace

int line_plug_in(Line &line, double now)
{
    int master = -1, device = -1;
    char name[PATH_MAX];
    if (openpty(&master, &device, name, nullptr, nullptr) != 0)
        return errno;
    int err = make_raw_nonblocking(device);
    if (err == 0)
        err = make_raw_nonblocking(master);
    if (err == 0)
        err = relink(line.link, name);
    if (err != 0) {
        close(device);
        close(master);
        return err;
    }
    line.master = master;
    line.device = device;
    line.state = LineState::talking;
    line.lineFree = now;
    return 0;
}

void line_talk(Line &line, double now, const timespec &wall)
{
    if (line.state != LineState::talking)
        return;
    const double byteTime = 10.0 / line.rate;
    line.lineFree = std::max(line.lineFree, now - kMaxCredit);
    for (;;) {
        if (line.queued == 0 && !refill(line, now, wall))
            return;
        const double budget = (now - line.lineFree) / byteTime;
        if (budget < 1.0)
            return;
        const std::size_t n = std::min(static_cast<std::size_t>(budget), line.queued);
        put_on_line(line, n);
        line.lineFree += static_cast<double>(n) * byteTime;
    }
}

void line_hush(Line &line, double now)
{
    if (line.state != LineState::talking)
        return;
    line.state = LineState::hushed;
    line.hushedAt = now;
}

bool line_drained(const Line &line, double now)
{
    int waiting = 0;
    if (now - line.hushedAt < kHushMin)
        return false;
    return now - line.hushedAt >= kHushMax || ioctl(line.device, FIONREAD, &waiting) != 0 || waiting == 0;
}

void line_unplug(Line &line, bool unplugged)
{
    if (line.state == LineState::gone)
        return;
    unsigned char left[4096];
    ssize_t n;
    while ((n = read(line.device, left, sizeof left)) > 0 || (n < 0 && errno == EINTR))
        line.undelivered += n > 0 ? static_cast<std::uint64_t>(n) : 0;
    unlink(line.link);
    close(line.device);
    close(line.master);
    line.device = line.master = -1;
    line.state = LineState::gone;
    if (unplugged && line.unplugs < MAX_UNPLUGS)
        line.unpluggedAt[line.unplugs++] = line.sent + line.refused;
}

void line_report(const Line &line, std::FILE *out)
{
    std::fprintf(out, "COM%d kind=%s rate=%d seed=%llu sent=%llu refused=%llu undelivered=%llu "
                      "intact_from=%llu unplugged_at=",
                 line.port, kind_info(line.stream.kind).name, line.rate,
                 static_cast<unsigned long long>(line.stream.seed), static_cast<unsigned long long>(line.sent),
                 static_cast<unsigned long long>(line.refused), static_cast<unsigned long long>(line.undelivered),
                 static_cast<unsigned long long>(line.intactFrom));
    for (int i = 0; i < line.unplugs; ++i)
        std::fprintf(out, "%s%llu", i > 0 ? "," : "", static_cast<unsigned long long>(line.unpluggedAt[i]));
    std::fputc('\n', out);
}

} // namespace sim
