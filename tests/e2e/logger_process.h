// The real logger binary, run as an operator or a service manager would:
// in a start-up directory of its own, on the offscreen platform, its stderr
// kept in a file beside that directory. Another of the project's programs
// (the instrument simulator) runs the same way, with arguments.
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
    std::string stderr_text() const;

private:
    Options m_options;
    int m_pid = -1;
    bool m_reaped = false;
};
