// files.h - the files instrument-sim leaves for the logger in its directory.
//
// Both are written aside and renamed into place, so a logger starting at the
// same moment reads the old file or the new one, never half of one.
#pragma once

#include "options.h"

namespace sim {

// The first line of every comports.map the simulator writes; `make run` looks
// for it to tell the simulator's map from one a user wrote.
extern const char kMapMarker[];

// comports.map: each instrument's port names its link, every other port is
// none, so the logger touches no real serial device. Returns 0 or an errno.
int write_port_map(const char *dir, const Options &options, const Line *lines);

// coms.cfg: every instrument logged at its rate, the first five (in port
// order) in display slots 1 to 5, binary and pattern ones in hexadecimal;
// every other port off (a rate the logger does not offer becomes its
// default there). Returns 0 or an errno.
int write_port_table(const char *dir, const Options &options);

} // namespace sim
