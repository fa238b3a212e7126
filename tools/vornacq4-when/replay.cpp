// replay: the bytes of consecutive recordings at the pace they arrived, onto
// a serial port or a new pseudo-terminal (device.h).
//
// The pace follows the index, with two exceptions for a clock that moved:
// a time earlier than the one before (the clock set back) is a gap of zero,
// and no silence lasts longer than --max-gap (a clock set forward looks like
// a silence as long as the step; no replay should wait an hour for it).
#include "commands.h"

#include "device.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <thread>

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

// Sends data bytes [from, to), read in pieces.
bool send(Device *device, const Recording &r, long long from, long long to)
{
    static char buffer[64 * 1024];
    while (from < to) {
        const long long n = read_at(r.dataFd, from, buffer, std::min<long long>(to - from, sizeof buffer));
        if (n <= 0 || !write_all(device, buffer, n))
            return false;
        from += n;
    }
    return true;
}

// One recording: each burst spread over its span, a slice every 10 ms.
// Bytes that no record dates go with the next that is.
bool replay_one(Device *device, const Recording &r, Pace &pace)
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
            if (!send(device, r, sent, upto))
                return false;
            sent = at = upto;
        }
    }
    return send(device, r, sent, r.size);
}

struct ReplayArgs {
    Args files;
    std::string device, baud;
    Pace pace;
    double delay = 0;
};

// The option's number, when it was given, within [low, high].
bool number(const CommandLine &line, const char *option, double &value, double low, double high)
{
    if (!line.has(option))
        return true;
    const std::string text = line.value(option, "");
    char *end = nullptr;
    value = std::strtod(text.c_str(), &end);
    return !text.empty() && *end == '\0' && value >= low && value <= high;
}

bool parse_replay(const Args &args, ReplayArgs &a)
{
    CommandLine line;
    double maxGap = 600;
    if (!parse_options(args, {{"to", 0, true}, {"baud", 0, true}, {"speed", 0, true}, {"delay", 0, true},
                              {"max-gap", 0, true}}, line) ||
        !number(line, "speed", a.pace.speed, 1e-6, 1e6) || !number(line, "delay", a.delay, 0, 1e6) ||
        !number(line, "max-gap", maxGap, 0, 1e6))
        return false;
    a.device = line.value("to", "");
    a.baud = line.value("baud", "");
    a.pace.maxGapUs = static_cast<long long>(maxGap * 1e6);
    a.files = line.operands;
    return !a.files.empty() && (a.baud.empty() || !a.device.empty()) && a.pace.speed > 0;
}

} // namespace

int cmd_replay(Args args)
{
    ReplayArgs a;
    std::string error;
    if (!parse_replay(args, a))
        return usage();
    if (a.device.empty() && !has_new_terminals(error)) {
        fail(error);
        return 2;
    }
    if (!a.baud.empty() && !rate_known(a.baud))
        return fail("a terminal has no rate of " + a.baud + " baud");
    // Every index first, so that a missing one stops the replay before it begins.
    for (const std::string &file : a.files) {
        Recording r;
        if (!open_checked(file, r, error))
            return fail(error);
    }
    Device *device = a.device.empty() ? open_new_terminal(error) : open_device(a.device, a.baud, error);
    if (device == nullptr)
        return fail(error);
    a.pace.start = Clock::now() + std::chrono::microseconds(static_cast<long long>(a.delay * 1e6));
    // One recording open at a time: a day of them is many files.
    for (const std::string &file : a.files) {
        Recording r;
        if (!open_checked(file, r, error))
            return fail(error);
        if (!replay_one(device, r, a.pace))
            return fail("the device refused the bytes of " + file);
    }
    finish(device);
    return 0;
}

} // namespace when
