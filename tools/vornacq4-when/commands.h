// commands.h - the commands of vornacq4-when, one function each, and what
// they share: refusing a command line, failing with a message. Each reads
// its options with parse_options (options.h).
// Each command takes its arguments (the command's name removed) and returns
// the exit status: 0 done, 1 the files do not tell, 2 a wrong command line.
#pragma once

#include "files.h"
#include "index.h"
#include "options.h"

#include <string>
#include <vector>

namespace when {

int usage();
// Prints "vornacq4-when: message" on stderr; returns 1.
int fail(const std::string &message);

// Opens a data file and its index, and checks that the index is one.
bool open_checked(const std::string &path, Recording &r, std::string &error);
// Says on stderr how many segments of the index were damaged, if any.
void warn_damage(const Recording &r, const IndexSummary &s);

// What check and coverage say of an index: its records taken together.
struct Extent {
    long long covered = 0; // bytes the records date
    long long end = 0;     // where the last dated byte ends
    long long earliest = 0, latest = 0;
};
// Takes record `b` in; `firstOne` for the first record read.
void extend(Extent &e, const Burst &b, bool firstOne);

int cmd_when(Args args);     // commands.cpp
int cmd_slice(Args args);
int cmd_check(Args args);
int cmd_records(Args args);
int cmd_lines(Args args);    // views.cpp
int cmd_coverage(Args args);
int cmd_replay(Args args);   // replay.cpp

} // namespace when
