// Tests that need a process whose Qt starts its own way (or not at all) fork
// one before any QApplication exists in the test process.
#pragma once

#include <functional>
#include <string>
#include <sys/types.h>

namespace ui_test {

struct ChildEnd {
    bool exited = false;   // ended by _exit, not by a signal
    int status = -1;       // exit status, when exited
    int signal = 0;        // the signal that ended it, otherwise
    bool timedOut = false; // still running at the deadline (then killed)
    std::string err;       // all it wrote on stderr
};

// Whether this process may still fork such a child: no QApplication yet.
bool can_fork_before_qt();

// Forks; the child runs body with its stderr captured and _exits with the
// value body returns. The parent runs whileRunning(pid) (if any) and then
// waits up to timeoutMs for the child to end.
ChildEnd run_child(const std::function<int()> &body, const std::function<void(pid_t)> &whileRunning,
                   int timeoutMs);

} // namespace ui_test
