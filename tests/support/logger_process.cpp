#include "logger_process.h"

#include "test_support.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <stdexcept>
#include <sys/wait.h>
#include <unistd.h>

namespace {

std::vector<std::string> environment(const LoggerProcess::Options &o)
{
    std::map<std::string, std::string> env = {
        {"PATH", "/usr/bin:/bin"},
        {"QT_QPA_PLATFORM", "offscreen"},
        {"TZ", "UTC"},
        {"HOME", o.startDir},
    };
    if (const char *runtime = std::getenv("XDG_RUNTIME_DIR"))
        env["XDG_RUNTIME_DIR"] = runtime;
    for (const auto &e : o.env)
        env[e.first] = e.second;
    if (!o.fakeTime.empty()) {
        env["LD_PRELOAD"] = FAKETIME_LIB;
        env["FAKETIME"] = o.fakeTime;
        // The event loop's timers keep real time; only the clock is moved.
        env["FAKETIME_DONT_FAKE_MONOTONIC"] = "1";
    }
    for (const auto &name : o.unset)
        env.erase(name);
    std::vector<std::string> list;
    for (const auto &e : env)
        list.push_back(e.first + "=" + e.second);
    return list;
}

} // namespace

std::string logger_binary()
{
    const char *installed = std::getenv("VORNACQ4_UNDER_TEST");
    return installed != nullptr && *installed != '\0' ? installed : VORNACQ4_BINARY;
}

LoggerProcess::LoggerProcess(Options options) : m_options(std::move(options))
{
    const std::vector<std::string> env = environment(m_options);
    std::vector<std::string> args = {m_options.binary};
    args.insert(args.end(), m_options.args.begin(), m_options.args.end());

    m_pid = fork();
    if (m_pid != 0)
        return;
    // The child: only async-signal-safe calls from here to exec.
    std::vector<char *> argv, envp;
    for (const auto &a : args)
        argv.push_back(const_cast<char *>(a.c_str()));
    argv.push_back(nullptr);
    for (const auto &e : env)
        envp.push_back(const_cast<char *>(e.c_str()));
    envp.push_back(nullptr);
    const int err = open(m_options.stderrPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (err < 0 || dup2(err, 2) < 0 || chdir(m_options.startDir.c_str()) != 0)
        _exit(120);
    if (!m_options.stdinPath.empty()) {
        const int in = open(m_options.stdinPath.c_str(), O_RDONLY | O_NOCTTY);
        if (in < 0 || dup2(in, 0) < 0)
            _exit(120);
    }
    if (!m_options.stdoutPath.empty()) {
        const int out = open(m_options.stdoutPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (out < 0 || dup2(out, 1) < 0)
            _exit(120);
    }
    execve(argv[0], argv.data(), envp.data());
    _exit(121);
}

LoggerProcess::~LoggerProcess()
{
    if (m_pid > 0 && !m_reaped) {
        kill(m_pid, SIGKILL);
        waitpid(m_pid, nullptr, 0);
    }
}

void LoggerProcess::signal(int sig) const
{
    kill(m_pid, sig);
}

int LoggerProcess::wait_exit(int timeoutMs)
{
    int status = 0;
    const bool ended = testing_support::eventually(
        [&] {
            const pid_t r = waitpid(m_pid, &status, WNOHANG);
            return r == m_pid;
        },
        timeoutMs);
    if (!ended)
        return -1;
    m_reaped = true;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string LoggerProcess::stderr_text() const
{
    return testing_support::read_file(m_options.stderrPath);
}

namespace {

// A fresh scratch file under TMPDIR, for the caller to remove.
std::string scratch_file()
{
    const char *base = std::getenv("TMPDIR");
    std::string name = std::string(base != nullptr ? base : "/tmp") + "/vorn-tool-XXXXXX";
    const int fd = mkstemp(&name[0]);
    if (fd < 0)
        throw std::runtime_error("mkstemp failed");
    ::close(fd);
    return name;
}

std::string current_directory()
{
    char here[4096];
    return getcwd(here, sizeof here) != nullptr ? here : "/";
}

} // namespace

ToolRun run_tool(LoggerProcess::Options o, int limitMs)
{
    o.stdoutPath = scratch_file();
    o.stderrPath = scratch_file();
    if (o.startDir.empty())
        o.startDir = current_directory();
    ToolRun run;
    {
        LoggerProcess tool(o);
        run.status = tool.wait_exit(limitMs);
        run.timedOut = !tool.ended();
    } // killed and reaped here when it hung
    run.out = testing_support::read_file(o.stdoutPath);
    run.err = testing_support::read_file(o.stderrPath);
    ::unlink(o.stdoutPath.c_str());
    ::unlink(o.stderrPath.c_str());
    return run;
}

ToolRun run_when(const std::vector<std::string> &args, const std::string &tz)
{
    LoggerProcess::Options o;
    o.binary = VORNACQ4_WHEN_BINARY;
    o.args = args;
    o.env = {{"TZ", tz}};
    return run_tool(o);
}
