// instrument-sim - serial instruments on pseudo-terminals, to try the logger
// without real ones (make run) and to prove it end to end (the tests).
//
// It makes a pseudo-terminal for each instrument, names them for the logger
// in DIR/comports.map (every other port none, so that no real device is
// touched), and puts each instrument's stream onto its line at the line's
// pace until SIGINT, SIGTERM or SIGHUP, or the end of -t. The command line is
// in options.cpp (instrument-sim -h); the kinds of instrument in streams.h;
// how a line is paced and counted in line.h.
//
// The report: on exit, and as a snapshot whenever SIGUSR1 arrives, one line
// per instrument on stdout, in port order:
//   COM5 kind=pattern rate=9600 seed=6 sent=28800 refused=0 undelivered=0 intact_from=0 unplugged_at=
// The counts are those of line.h; unplugged_at lists offsets separated by
// commas and is empty when the instrument was never unplugged. The last line
// of a port is its latest. On exit, the line has stopped and everything on
// it was read or counted undelivered, so for every instrument
//   bytes its readers got = sent - undelivered
// A checker regenerates a pattern instrument's stream from its seed with
// pattern.h.
//
// On exit the devices and their links go; comports.map stays, naming links
// that are no longer there, so a logger started on it later touches no device.
#include "files.h"
#include "line.h"
#include "options.h"

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

using namespace sim;

namespace {

// The pace of the main loop: at 115200 baud a tick carries about 115 bytes.
constexpr double kTick = 0.01;

volatile std::sig_atomic_t g_stop = 0;
volatile std::sig_atomic_t g_snapshot = 0;

void on_stop(int) { g_stop = 1; }
void on_snapshot(int) { g_snapshot = 1; }

void install_signal_handlers()
{
    struct sigaction action {};
    sigemptyset(&action.sa_mask);
    action.sa_handler = on_stop;
    for (int sig : {SIGINT, SIGTERM, SIGHUP})
        sigaction(sig, &action, nullptr);
    action.sa_handler = on_snapshot;
    sigaction(SIGUSR1, &action, nullptr);
}

timespec clock_now(clockid_t clock)
{
    timespec t{};
    clock_gettime(clock, &t);
    return t;
}

double seconds_between(const timespec &from, const timespec &to)
{
    return static_cast<double>(to.tv_sec - from.tv_sec) + static_cast<double>(to.tv_nsec - from.tv_nsec) / 1e9;
}

// Sleeps until `at` seconds after start, or until a signal arrives.
void sleep_until(const timespec &start, double at)
{
    timespec until = start;
    const double whole = static_cast<double>(static_cast<long>(at));
    until.tv_sec += static_cast<time_t>(whole);
    until.tv_nsec += static_cast<long>((at - whole) * 1e9);
    if (until.tv_nsec >= 1000000000L) {
        until.tv_sec += 1;
        until.tv_nsec -= 1000000000L;
    }
    clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &until, nullptr);
}

void report(const Options &o, const Line *lines)
{
    for (int port = 1; port <= MAX_PORT; ++port)
        if (o.instruments[port].present)
            line_report(lines[port], stdout);
    std::fflush(stdout);
}

// Removes every device and its link, and the links' directory when empty.
void unplug_all(const char *dir, const Options &o, Line *lines)
{
    for (int port = 1; port <= MAX_PORT; ++port)
        if (o.instruments[port].present)
            line_unplug(lines[port], false);
    rmdir((std::string(dir) + "/sim").c_str());
}

int fail(const char *what, const std::string &name, int err)
{
    std::fprintf(stderr, "instrument-sim: %s %s: %s\n", what, name.c_str(), std::strerror(err));
    return 1;
}

// Makes the devices of all instruments, their links in dir/sim, and the
// files for the logger; the map comes last, so that once it is there every
// device it names is too. Returns 0, or 1 after saying what failed.
int set_up(const char *dir, const Options &o, Line *lines)
{
    const std::string links = std::string(dir) + "/sim";
    if (mkdir(links.c_str(), 0755) != 0 && errno != EEXIST)
        return fail("cannot make", links, errno);
    for (int port = 1; port <= MAX_PORT; ++port) {
        const Instrument &in = o.instruments[port];
        if (!in.present)
            continue;
        Line &line = lines[port];
        line.port = port;
        line.rate = in.rate;
        line.stream.kind = in.kind;
        line.stream.seed = o.seed + static_cast<std::uint64_t>(port);
        std::snprintf(line.link, sizeof line.link, "%s/COM%d", links.c_str(), port);
        if (const int err = line_plug_in(line, 0.0))
            return fail("cannot make the device", line.link, err);
    }
    if (o.writeConfig)
        if (const int err = write_port_table(dir, o))
            return fail("cannot write", std::string(dir) + "/coms.cfg", err);
    if (const int err = write_port_map(dir, o, lines))
        return fail("cannot write", std::string(dir) + "/comports.map", err);
    return 0;
}

void announce(const char *dir, const Options &o)
{
    std::string list;
    for (int port = 1; port <= MAX_PORT; ++port) {
        const Instrument &in = o.instruments[port];
        if (in.present)
            list += std::string(list.empty() ? "" : ", ") + "COM" + std::to_string(port) + " " +
                    kind_info(in.kind).name + " " + std::to_string(in.rate);
    }
    std::fprintf(stderr, "instrument-sim: %s (named in %s/comports.map)\n", list.c_str(), dir);
}

enum class Phase { pending, hushed, gone, done };

// Takes instruments off their lines and puts them back as -u asked.
void follow_unplugs(const Options &o, Phase *phase, Line *lines, double now)
{
    for (int i = 0; i < o.unplugCount; ++i) {
        const Unplug &u = o.unplugs[i];
        Line &line = lines[u.port];
        if (phase[i] == Phase::pending && now >= u.at) {
            line_hush(line, now);
            phase[i] = Phase::hushed;
        }
        if (phase[i] == Phase::hushed && line_drained(line, now)) {
            line_unplug(line, true);
            phase[i] = Phase::gone;
        }
        if (phase[i] == Phase::gone && now >= u.at + u.length) {
            if (const int err = line_plug_in(line, now))
                fail("cannot make the device again", line.link, err);
            phase[i] = Phase::done;
        }
    }
}

// Silences every line and waits until each one's reader has taken what was
// on it (half a second at most).
void hush_all(const Options &o, Line *lines, const timespec &start)
{
    double now = seconds_between(start, clock_now(CLOCK_MONOTONIC));
    for (int port = 1; port <= MAX_PORT; ++port)
        if (o.instruments[port].present)
            line_hush(lines[port], now);
    for (int port = 1; port <= MAX_PORT; ++port) {
        const Line &line = lines[port];
        while (o.instruments[port].present && line.state == LineState::hushed && !line_drained(line, now)) {
            sleep_until(start, now + kTick);
            now = seconds_between(start, clock_now(CLOCK_MONOTONIC));
        }
    }
}

} // namespace

int main(int argc, char *argv[])
{
    Options options;
    const int status = parse_options(argc, argv, options);
    if (status >= 0)
        return status;
    char dir[PATH_MAX];
    if (realpath(options.dir, dir) == nullptr)
        return fail("no directory", options.dir, errno);

    // The instruments' devices and the logger's files naming them.
    install_signal_handlers();
    static Line lines[PORT_SLOTS];
    if (set_up(dir, options, lines) != 0) {
        unplug_all(dir, options, lines);
        return 1;
    }
    announce(dir, options);

    // Each tick, every instrument puts onto its line what the line has
    // carried since the last one, until told to stop.
    const timespec start = clock_now(CLOCK_MONOTONIC);
    Phase phase[MAX_UNPLUGS] = {};
    for (double tick = 0.0; g_stop == 0; tick += kTick) {
        const double now = seconds_between(start, clock_now(CLOCK_MONOTONIC));
        if (options.seconds > 0.0 && now >= options.seconds)
            break;
        follow_unplugs(options, phase, lines, now);
        const timespec wall = clock_now(CLOCK_REALTIME);
        for (int port = 1; port <= MAX_PORT; ++port)
            if (options.instruments[port].present)
                line_talk(lines[port], now, wall);
        if (g_snapshot != 0) {
            g_snapshot = 0;
            report(options, lines);
        }
        if (tick < now - kTick)
            tick = now; // a late tick does not bring a burst of short ones
        sleep_until(start, tick + kTick);
    }

    // Stop: let the readers take what is on the lines, take back the rest,
    // remove the devices, and report.
    hush_all(options, lines, start);
    unplug_all(dir, options, lines);
    report(options, lines);
    return 0;
}
