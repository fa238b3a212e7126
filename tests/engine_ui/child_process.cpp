#include "child_process.h"

#include <QCoreApplication>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

namespace ui_test {

namespace {

using Clock = std::chrono::steady_clock;

int ms_left(Clock::time_point deadline)
{
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

// Reads the child's stderr until it closes (the child ended) or the deadline.
std::string drain(int fd, Clock::time_point deadline)
{
    std::string text;
    for (;;) {
        pollfd p{fd, POLLIN, 0};
        const int ready = poll(&p, 1, ms_left(deadline));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0)
            return text;
        char buffer[4096];
        const ssize_t n = read(fd, buffer, sizeof buffer);
        if (n <= 0)
            return text;
        text.append(buffer, static_cast<std::size_t>(n));
    }
}

} // namespace

bool can_fork_before_qt()
{
    return QCoreApplication::instance() == nullptr;
}

ChildEnd run_child(const std::function<int()> &body, const std::function<void(pid_t)> &whileRunning,
                   int timeoutMs)
{
    ChildEnd end;
    int err[2];
    if (pipe2(err, O_CLOEXEC) != 0)
        return end;
    std::fflush(stdout);
    std::fflush(stderr);
    const pid_t pid = fork();
    if (pid < 0)
        return end;
    if (pid == 0) {
        dup2(err[1], STDERR_FILENO);
        _exit(body());
    }
    close(err[1]);
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    if (whileRunning)
        whileRunning(pid);
    end.err = drain(err[0], deadline);
    close(err[0]);

    int status = 0;
    pid_t done = 0;
    // stderr closed, so the child is ending; a short grace for the kernel.
    while ((done = waitpid(pid, &status, WNOHANG)) == 0 && ms_left(deadline) > 0)
        poll(nullptr, 0, 5);
    if (done == 0) {
        end.timedOut = true;
        kill(pid, SIGKILL);
        waitpid(pid, &status, 0);
        return end;
    }
    end.exited = WIFEXITED(status);
    end.status = end.exited ? WEXITSTATUS(status) : -1;
    end.signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
    return end;
}

} // namespace ui_test
