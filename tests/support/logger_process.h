// The real logger binary, run as an operator or a service manager would:
// in a start-up directory of its own, on the offscreen platform, its stderr
// kept in a file beside that directory. The project's other programs (the
// instrument simulator, vornacq4-when) and the tools the tests check with
// (promtool, chromium) run the same way, with arguments; a tool that is run
// to its end always has a time limit, so that one that hangs fails its test
// instead of holding up the whole run.
#pragma once

#include <map>
#include <string>
#include <vector>

// The logger the tests run: the one just built, or the one VORNACQ4_UNDER_TEST
// names (tools/package-test.sh runs a test on the installed /usr/bin/vornacq4).
std::string logger_binary();

class LoggerProcess {
public:
    struct Options {
        std::string binary = logger_binary();
        std::vector<std::string> args;           // after the program's name
        std::string startDir;                    // current directory of the logger
        std::string stderrPath;                  // where its stderr goes
        std::string stdoutPath;                  // where its stdout goes; "" leaves it as it is
        std::string stdinPath;                   // what its stdin reads; "" leaves it as it is
        std::map<std::string, std::string> env;  // added to a minimal environment
        std::vector<std::string> unset;          // names left out of that environment
        std::string fakeTime;                    // "@YYYY-MM-DD hh:mm:ss": the clock starts there
    };

    explicit LoggerProcess(Options options);
    ~LoggerProcess(); // kills the logger if it still runs

    LoggerProcess(const LoggerProcess &) = delete;
    LoggerProcess &operator=(const LoggerProcess &) = delete;

    int pid() const { return m_pid; }
    void signal(int sig) const;
    // The exit status (0..255), or -1 when it did not end within timeoutMs or
    // ended by a signal.
    int wait_exit(int timeoutMs);
    // Whether wait_exit() has seen it end.
    bool ended() const { return m_reaped; }
    std::string stderr_text() const;

private:
    Options m_options;
    int m_pid = -1;
    bool m_reaped = false;
};

// What a tool said, run to its end: its exit status (-1 when it ended by a
// signal, or was killed at its time limit: timedOut), its stdout and stderr.
struct ToolRun {
    int status = -1;
    bool timedOut = false;
    std::string out, err;
    std::string both() const { return out + err; }
};

// The longest a tool may take before it is taken to hang.
constexpr int kToolMs = 20000;

// Runs the program to its end, as LoggerProcess runs it (in the current
// directory unless o.startDir says otherwise), killing it after limitMs;
// stdout and stderr are kept in scratch files that go with the run.
ToolRun run_tool(LoggerProcess::Options o, int limitMs = kToolMs);

// vornacq4-when (the one just built) with these arguments, under the time
// zone `tz`.
ToolRun run_when(const std::vector<std::string> &args, const std::string &tz = "UTC");
