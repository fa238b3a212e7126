#include "options.h"

#include "base/com_name.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>

namespace sim {

namespace {

const char kUsage[] =
    "usage: instrument-sim [-d DIR] [-s SEED] [-t SECONDS] [-c] [-u COMn:AT:FOR]...\n"
    "                      COMn=KIND[:RATE]...\n"
    "\n"
    "Serial instruments on pseudo-terminals, to try the logger without any.\n"
    "Each COMn=KIND[:RATE] is one instrument; it sends RATE/10 bytes a second:\n"
    "  nmea     GPS receiver, NMEA sentences once a second (4800 baud)\n"
    "  weather  weather station, one line a second (9600)\n"
    "  binary   digitiser, 50 framed binary records a second (38400)\n"
    "  chatty   talkative console, text without a pause (115200)\n"
    "  pattern  seeded byte pattern without a pause (9600)\n"
    "\n"
    "  -d DIR          write DIR/comports.map: COMn names the link DIR/sim/COMn to\n"
    "                  its instrument's device, every other port is none (default .)\n"
    "  -s SEED         seed of the streams; COMn uses SEED + n (default 1)\n"
    "  -t SECONDS      stop after this long (default: at SIGINT or SIGTERM)\n"
    "  -c              write DIR/coms.cfg too: every instrument logged at its rate,\n"
    "                  the first five shown, binary and pattern as hexadecimal\n"
    "  -u COMn:AT:FOR  unplug COMn AT seconds after the start, for FOR seconds: it\n"
    "                  falls silent, its device vanishes once read (half a second\n"
    "                  at most), and a new one comes back under the same link\n"
    "  -h              this help\n"
    "\n"
    "On exit, and on SIGUSR1, one line per instrument on stdout:\n"
    "  COMn kind=K rate=R seed=S sent=N refused=N undelivered=N intact_from=N\n"
    "  unplugged_at=N,...\n"
    "Exit status: 0 when stopped, 1 when the devices or files cannot be made,\n"
    "2 for a wrong command line.\n";

int usage_error(const char *what, const char *arg)
{
    std::fprintf(stderr, "instrument-sim: %s: %s\n(instrument-sim -h for help)\n", what, arg);
    return EXIT_USAGE;
}

// The n of "COMn" at the start of text (its word ends at '=', ':' or the
// end), n from 1 to MAX_PORT, with *end just after it; 0 if text does not
// start so.
int parse_port(const char *text, const char **end)
{
    const std::size_t length = std::strcspn(text, "=:");
    *end = text + length;
    return com_number(std::string(text, length));
}

// A whole number or decimal in [min, max] that fills the text up to `stop`.
bool parse_number(const char *text, char stop, double min, double max, double *value, const char **end)
{
    char *after = nullptr;
    errno = 0;
    *value = std::strtod(text, &after);
    *end = after;
    return after != text && *after == stop && errno == 0 && *value >= min && *value <= max;
}

// COMn=KIND[:RATE]
int parse_instrument(const char *arg, Options &o)
{
    const char *rest = nullptr;
    const int port = parse_port(arg, &rest);
    if (port == 0 || *rest != '=')
        return usage_error("expected COMn=KIND[:RATE], n from 1 to 18", arg);
    if (o.instruments[port].present)
        return usage_error("a port given twice", arg);
    char name[16] = {};
    const char *colon = std::strchr(rest + 1, ':');
    const std::size_t length = colon != nullptr ? static_cast<std::size_t>(colon - rest - 1) : std::strlen(rest + 1);
    if (length < sizeof name)
        std::memcpy(name, rest + 1, length);
    const KindInfo *kind = find_kind(name);
    if (kind == nullptr)
        return usage_error("no such kind (nmea, weather, binary, chatty, pattern)", arg);
    double rate = kind->defaultRate;
    const char *end = nullptr;
    if (colon != nullptr && !parse_number(colon + 1, '\0', 50, 4000000, &rate, &end))
        return usage_error("a rate is a number of baud from 50 to 4000000", arg);
    o.instruments[port] = Instrument{true, kind->kind, static_cast<int>(rate)};
    return -1;
}

// COMn:AT:FOR
int parse_unplug(const char *arg, Options &o)
{
    const char *rest = nullptr;
    Unplug u;
    u.port = parse_port(arg, &rest);
    if (u.port == 0 || *rest != ':' || !parse_number(rest + 1, ':', 0, 1e9, &u.at, &rest) ||
        !parse_number(rest + 1, '\0', 0.001, 1e9, &u.length, &rest))
        return usage_error("expected COMn:AT:FOR, seconds, FOR above 0", arg);
    if (o.unplugCount == MAX_UNPLUGS)
        return usage_error("too many unplugs", arg);
    o.unplugs[o.unplugCount++] = u;
    return -1;
}

// Unplugs only of instruments given, and never two of one at the same time.
int check_unplugs(const Options &o)
{
    for (int i = 0; i < o.unplugCount; ++i) {
        const Unplug &u = o.unplugs[i];
        char what[16];
        std::snprintf(what, sizeof what, "COM%d", u.port);
        if (!o.instruments[u.port].present)
            return usage_error("unplug of a port that has no instrument", what);
        for (int j = 0; j < i; ++j) {
            const Unplug &v = o.unplugs[j];
            if (v.port == u.port && u.at < v.at + v.length && v.at < u.at + u.length)
                return usage_error("two unplugs of one instrument overlap", what);
        }
    }
    return -1;
}

} // namespace

int parse_options(int argc, char *argv[], Options &o)
{
    int opt;
    double seed = 0;
    const char *end = nullptr;
    opterr = 0; // the errors are told here, in the same form as the others
    while ((opt = getopt(argc, argv, "d:s:t:cu:h")) != -1) {
        int status = -1;
        switch (opt) {
        case 'd':
            o.dir = optarg;
            break;
        case 's':
            if (!parse_number(optarg, '\0', 0, 4294967295.0, &seed, &end) || seed != static_cast<std::uint32_t>(seed))
                status = usage_error("a seed is a whole number from 0 to 4294967295", optarg);
            o.seed = static_cast<std::uint64_t>(seed);
            break;
        case 't':
            if (!parse_number(optarg, '\0', 0.001, 1e9, &o.seconds, &end))
                status = usage_error("a time is a number of seconds above 0", optarg);
            break;
        case 'c':
            o.writeConfig = true;
            break;
        case 'u':
            status = parse_unplug(optarg, o);
            break;
        case 'h':
            std::fputs(kUsage, stdout);
            return 0;
        default:
            const char option[3] = {'-', static_cast<char>(optopt), '\0'};
            return usage_error("unknown option, or an option without its value", option);
        }
        if (status >= 0)
            return status;
    }
    if (optind == argc)
        return usage_error("no instrument given", "COMn=KIND[:RATE]");
    for (int i = optind; i < argc; ++i) {
        const int status = parse_instrument(argv[i], o);
        if (status >= 0)
            return status;
    }
    return check_unplugs(o);
}

} // namespace sim
