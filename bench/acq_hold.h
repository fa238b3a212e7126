// acq_hold.h - acq_bench --hold: the logger's acquisition tick held up for
// minutes while every port streams, then let go, as a popup nobody answers
// would hold it. Only the logger's user-interface thread is stopped (ptrace
// stops one thread, not the process), so its reader thread goes on taking
// the ports' bytes into the backlogs and, once their budget is spent,
// counting what it cannot keep.
#pragma once

#include <string>
#include <sys/types.h>
#include <vector>

namespace bench {

struct HoldRun {
    pid_t logger;             // its user-interface thread is the process's first
    std::vector<int> masters; // one pseudo-terminal master a logged port, port 1 first
    std::string dir;          // the logger's start-up directory
    int httpPort;             // its monitoring endpoint on 127.0.0.1
    long rate;                // bytes a second a port
    int holdSeconds;
    double budgetMib;         // the logger's backlog budget
};

// Feeds every port for the hold and a while after, holds the tick meanwhile,
// and reports for every port the bytes the logger took from the device, in
// its files and counted as dropped, and its peak memory. True when, for
// every port, file + dropped = taken, to the byte.
bool run_hold(const HoldRun &run);

} // namespace bench
