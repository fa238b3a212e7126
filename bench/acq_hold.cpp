// acq_bench --hold (acq_hold.h).
#include "acq_hold.h"

#include "logger_process.h"
#include "ptykit/loopback.h"
#include "ptykit/stream.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <sys/ptrace.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace bench {

namespace {

// Stops the thread `tid` alone, until resume(); false when it cannot.
bool hold(pid_t tid)
{
    int status = 0;
    return ptrace(PTRACE_SEIZE, tid, nullptr, nullptr) == 0 && ptrace(PTRACE_INTERRUPT, tid, nullptr, nullptr) == 0 &&
           waitpid(tid, &status, __WALL) == tid;
}

void resume(pid_t tid)
{
    ptrace(PTRACE_DETACH, tid, nullptr, nullptr);
}

std::string metrics(int port)
{
    const int fd = ptykit::connect_loopback(port);
    std::string answer;
    const char request[] = "GET /metrics HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n";
    if (fd >= 0 && ::send(fd, request, sizeof request - 1, MSG_NOSIGNAL) > 0) {
        char buffer[16384];
        for (ssize_t n; (n = ::recv(fd, buffer, sizeof buffer, 0)) > 0;)
            answer.append(buffer, static_cast<std::size_t>(n));
    }
    if (fd >= 0)
        ::close(fd);
    return answer;
}

// The value of the series "name{port="COMn"...}" in /metrics, or -1.
long long series(const std::string &text, const std::string &name, int port, const char *more = "")
{
    const std::string key = "\n" + name + "{port=\"COM" + std::to_string(port) + "\"" + more + "} ";
    const std::size_t at = text.find(key);
    return at == std::string::npos ? -1 : std::atoll(text.c_str() + at + key.size());
}

} // namespace

bool run_hold(const HoldRun &run)
{
    const int after = 30; // seconds of streaming after the hold: the backlogs drain meanwhile
    const std::uint64_t total = static_cast<std::uint64_t>(run.rate) * static_cast<std::uint64_t>(run.holdSeconds + after + 5);
    std::printf("%ld B/s a port x %zu ports, the tick held %d s (budget %.0f MiB)\n", run.rate, run.masters.size(),
                run.holdSeconds, run.budgetMib);
    std::uint64_t refused = 0;
    {
        ptykit::PacedWriter writer(run.masters, run.rate, total);
        std::this_thread::sleep_for(std::chrono::seconds(5));
        if (!hold(run.logger)) {
            std::perror("acq_bench: ptrace");
            return false;
        }
        std::this_thread::sleep_for(std::chrono::seconds(run.holdSeconds));
        resume(run.logger);
        while (!writer.finished())
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        refused = writer.refused();
    }
    // The ticks drain what waits (a queue a port each, four times a second):
    // look until everything adds up, two minutes at most.
    bool exact = false;
    long long dropped = 0, taken = 0, inFiles = 0;
    for (int look = 0; look < 120 && !exact; ++look) {
        std::this_thread::sleep_for(std::chrono::seconds(1));
        const std::string m = metrics(run.httpPort);
        exact = true;
        dropped = taken = inFiles = 0;
        for (int port = 1; port <= static_cast<int>(run.masters.size()); ++port) {
            const long long received = series(m, "vornacq4_port_received_bytes_total", port);
            const long long lost = series(m, "vornacq4_port_dropped_bytes_total", port, ",reason=\"behind\"");
            const long long file = static_cast<long long>(recorded(run.dir, port).size());
            exact = exact && received >= 0 && lost >= 0 && file + lost == received;
            taken += received;
            dropped += lost;
            inFiles += file;
        }
    }
    std::printf("  bytes sent          %12llu   (refused by a full line: %llu)\n",
                static_cast<unsigned long long>(total * run.masters.size()), static_cast<unsigned long long>(refused));
    std::printf("  taken from devices  %12lld   in the files: %lld   counted as dropped: %lld\n", taken, inFiles,
                dropped);
    std::printf("  logger peak memory  %11.1f MiB (budget %.0f MiB)\n", peak_rss_mib(run.logger), run.budgetMib);
    std::printf(exact ? "  for every port: file + dropped = taken, to the byte\n" : "  BYTES UNACCOUNTED FOR\n");
    return exact;
}

} // namespace bench
