// options.h - instrument-sim's command line (the usage text is in options.cpp).
#pragma once

#include "line.h"
#include "streams.h"

#include "vorncoms.h"

#include <cstdint>

namespace sim {

struct Instrument {
    bool present = false;
    Kind kind = Kind::pattern;
    int rate = 0;
};

// An instrument taken off its line for a while: silent from `at` seconds after
// the start, gone as soon as its reader has taken what was on the line, back
// `length` seconds after `at`.
struct Unplug {
    int port = 0;
    double at = 0.0;
    double length = 0.0;
};

struct Options {
    const char *dir = ".";
    std::uint64_t seed = 1;
    double seconds = 0.0; // 0: until SIGINT or SIGTERM
    bool writeConfig = false;
    Instrument instruments[PORT_SLOTS];
    Unplug unplugs[MAX_UNPLUGS];
    int unplugCount = 0;
};

enum { EXIT_USAGE = 2 };

// Reads the command line into options. Returns -1 to go on; otherwise the
// exit status: 0 after printing the help, EXIT_USAGE after saying on stderr
// what is wrong.
int parse_options(int argc, char *argv[], Options &options);

} // namespace sim
