// acq_bench: the real logger on eighteen pseudo-terminals, as a full rack of
// instruments would keep it busy for hours.
//
// All 18 ports are logged, five are shown (ports 2 and 4 as hexadecimal).
// Each port is fed the test stream at one rate for a while, then at the next;
// beside it, by the same writer, one `cat` per port copies the same stream
// from pseudo-terminals of its own into files (the least any logger can
// cost), and one `tio` per port logs it to a file (what a station would run
// instead; left out when tio is not installed). For each rate it reports
// bytes sent, bytes in the data files, bytes lost, the CPU time of the logger
// (and of each of its threads) and of the peers as a share of one core, and
// the logger's peak resident memory. Every byte in the files is checked
// against the stream.
//
//     acq_bench [--no-index] [--no-views] [--logger PATH] [seconds per rate, default 60] [rate ...]
//               (bytes a second; default 11520 92160: 115200 and 921600 baud;
//               --logger runs another build of the logger, to compare;
//               --no-views shows no port in the window)
//     acq_bench [--no-index] --lines [seconds, default 60]
//               one 64-byte line a second on every port, as weather stations
//               send; the cats are left out
//     acq_bench --gone [seconds, default 60]
//               the logger with its ports silent, then with every device
//               unplugged (it looks for each once a second); no cats
//     acq_bench --scrape [seconds] [rate ...]
//               as the first, with the monitoring endpoint on (an http line in
//               network.map) and its /metrics fetched once a second, as a
//               Prometheus server scraping hard would
//
// It also reports what the arrival-time index beside the data files costs
// in bytes; --no-index runs the logger without it, to compare the CPU.
//
// The logger shows its window on $DISPLAY when set (for instance under
// xvfb-run, so that the live views are really painted), else offscreen.
#include "logger_process.h"
#include "peers.h"
#include "ptykit/loopback.h"
#include "ptykit/pty.h"
#include "ptykit/station.h"
#include "ptykit/stream.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>
#include <atomic>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <thread>
#include <unistd.h>
#include <vector>

using ptykit::Pty;

namespace {

using bench::bytes_under;
using bench::cpu_seconds;
using bench::intact_prefix;
using bench::kPorts;
using bench::peak_rss_mib;
using bench::recorded;

struct Rig {
    bool index = true;
    bool withCats = true; // and tio
    std::string binary = VORNACQ4_BINARY;
    int httpPort = 0; // the monitoring endpoint's, 0 for none
    ptykit::TempDir dir;
    std::vector<std::unique_ptr<Pty>> logged;
    pid_t logger = -1;
    bench::Peers cats{bench::Peers::Kind::Cat, dir.path()}, tios{bench::Peers::Kind::Tio, dir.path()};

    explicit Rig(bool views)
    {
        std::vector<std::string> paths;
        for (int port = 1; port <= kPorts; ++port) {
            logged.push_back(std::make_unique<Pty>());
            paths.push_back(logged.back()->path());
        }
        bench::write_station(dir.path(), paths, views);
    }

    ~Rig() { bench::stop(logger); }

    bool withTios() const { return withCats && tios.available(); }

    bool start()
    {
        const std::vector<std::string> env = bench::logger_env(dir.path());
        const char *display = std::getenv("DISPLAY");
        std::printf("logger on %s\n", display != nullptr ? display : "the offscreen platform");
        std::fflush(stdout);
        if (httpPort != 0)
            ptykit::write_file(dir.file("network.map"), "http 127.0.0.1:" + std::to_string(httpPort) + "\n");
        std::vector<std::string> args = {binary};
        if (!index)
            args.push_back("--no-index");
        logger = bench::spawn(args, dir.path(), "/dev/null", dir.file("logger.txt"), env);
        if (withCats)
            cats.start(env);
        if (withTios())
            tios.start(env);
        // The countdown starts the run; the files appear, then the ports open.
        return bench::wait_for_run(dir.path(), kPorts, 40000);
    }

    std::vector<int> masters() const
    {
        std::vector<int> fds;
        for (const auto &p : logged)
            fds.push_back(p->master());
        for (const bench::Peers *peers : {&cats, &tios})
            if (peers == &cats ? withCats : withTios())
                for (int fd : peers->masters())
                    fds.push_back(fd);
        return fds;
    }

    void print_usage(double loggerCpu, double wall, std::uint64_t data, std::uint64_t index) const
    {
        std::printf("  logger CPU          %11.2f%% of one core\n", 100.0 * loggerCpu / wall);
        std::printf("  logger peak memory  %11.1f MiB\n", peak_rss_mib(logger));
        if (this->index)
            std::printf("  arrival index       %12llu bytes for %llu of data (%.3f%%)\n",
                        static_cast<unsigned long long>(index), static_cast<unsigned long long>(data),
                        data > 0 ? 100.0 * static_cast<double>(index) / static_cast<double>(data) : 0.0);
        else
            std::printf("  arrival index       off\n");
    }

};


// Feeds every port `rate` bytes a second for `seconds`, continuing the
// stream from `offset`, and prints what the logger and the cats made of it.
bool run_rate(Rig &rig, long rate, int seconds, std::uint64_t &offset)
{
    const std::uint64_t total = static_cast<std::uint64_t>(rate) * static_cast<std::uint64_t>(seconds);
    const double loggerBefore = cpu_seconds(rig.logger), catsBefore = rig.cats.cpu(), tiosBefore = rig.tios.cpu();
    const std::map<std::string, double> threadsBefore = bench::thread_cpu_seconds(rig.logger);
    const std::uint64_t dataBefore = bytes_under(rig.dir.path(), 'D'), indexBefore = bytes_under(rig.dir.path(), 'T');
    const auto start = std::chrono::steady_clock::now();
    std::uint64_t refused = 0;
    {
        ptykit::PacedWriter writer(rig.masters(), rate, total, offset);
        while (!writer.finished())
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        refused = writer.refused();
    }
    const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    offset += total;
    // Let the last ticks land, then look at the files.
    std::this_thread::sleep_for(std::chrono::seconds(2));
    const double loggerCpu = cpu_seconds(rig.logger) - loggerBefore, catsCpu = rig.cats.cpu() - catsBefore;
    const double tiosCpu = rig.tios.cpu() - tiosBefore;
    const std::map<std::string, double> threadsAfter = bench::thread_cpu_seconds(rig.logger);

    std::uint64_t inFiles = 0, intact = 0;
    for (int port = 1; port <= kPorts; ++port) {
        const std::string data = recorded(rig.dir.path(), port);
        inFiles += data.size();
        intact += intact_prefix(data);
    }
    const std::uint64_t sent = offset * kPorts;
    std::printf("%8ld B/s a port (%ld baud) x 18 ports, %d s\n", rate, rate * 10, seconds);
    std::printf("  bytes sent so far   %12llu   (refused by a full line: %llu)\n",
                static_cast<unsigned long long>(sent), static_cast<unsigned long long>(refused));
    std::printf("  bytes in the files  %12llu   intact: %llu   lost: %llu\n",
                static_cast<unsigned long long>(inFiles), static_cast<unsigned long long>(intact),
                static_cast<unsigned long long>(sent - intact));
    std::printf("  18 x cat CPU        %11.2f%% of one core (the floor; %llu bytes in their files)\n",
                100.0 * catsCpu / wall, static_cast<unsigned long long>(rig.cats.kept()));
    if (rig.withTios())
        std::printf("  18 x tio CPU        %11.2f%% of one core (%llu bytes in their logs)\n", 100.0 * tiosCpu / wall,
                    static_cast<unsigned long long>(rig.tios.kept()));
    rig.print_usage(loggerCpu, wall, bytes_under(rig.dir.path(), 'D') - dataBefore,
                    bytes_under(rig.dir.path(), 'T') - indexBefore);
    std::printf("  logger's threads    %s\n", bench::thread_shares(threadsBefore, threadsAfter, wall).c_str());
    std::fflush(stdout);
    return intact == sent && refused == 0;
}

// One line a second on every port for `seconds`: what a slow instrument's
// bytes cost, the index's above all.
bool run_lines(Rig &rig, int seconds)
{
    const double before = cpu_seconds(rig.logger);
    const auto start = std::chrono::steady_clock::now();
    std::string sent;
    for (int i = 0; i < seconds; ++i) {
        char line[80];
        std::snprintf(line, sizeof line, "$WIMDA,29.9%04d,I,1.0123,B,12.3,C,,,45.6,,7.8,C,,T,,M,,N,,M*%02X\r\n", i, i & 0xFF);
        for (const auto &pty : rig.logged)
            pty->write(line);
        sent += line;
        std::this_thread::sleep_until(start + std::chrono::seconds(i + 1));
    }
    const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::this_thread::sleep_for(std::chrono::seconds(1));
    bool whole = true;
    for (int port = 1; port <= kPorts; ++port)
        whole = whole && recorded(rig.dir.path(), port) == sent;
    std::printf("one %zu-byte line a second x 18 ports, %d s: %s\n", sent.size() / static_cast<std::size_t>(seconds),
                seconds, whole ? "every byte in its file" : "BYTES LOST OR ALTERED");
    const std::uint64_t index = bytes_under(rig.dir.path(), 'T');
    rig.print_usage(cpu_seconds(rig.logger) - before, wall, bytes_under(rig.dir.path(), 'D'), index);
    if (rig.index)
        std::printf("  index per port      %11.1f bytes a second\n",
                    static_cast<double>(index) / kPorts / seconds);
    return whole;
}

// How often the logger's threads have gone to sleep so far (each wakeup
// that found something to do ends in one).
long sleeps(pid_t pid)
{
    long total = 0;
    const std::string tasks = "/proc/" + std::to_string(pid) + "/task";
    for (const std::string &task : ptykit::list_dir(tasks)) {
        std::ifstream in(tasks + "/" + task + "/status");
        for (std::string line; std::getline(in, line);)
            if (line.rfind("voluntary_ctxt_switches:", 0) == 0)
                total += std::stol(line.substr(line.find(':') + 1));
    }
    return total;
}

// What the logger costs over `seconds` while nothing arrives.
void measure_quiet(const Rig &rig, const char *what, int seconds)
{
    const double cpuBefore = cpu_seconds(rig.logger);
    const long sleepsBefore = sleeps(rig.logger);
    const auto start = std::chrono::steady_clock::now();
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("%s, %d s\n", what, seconds);
    std::printf("  logger CPU          %11.2f%% of one core\n", 100.0 * (cpu_seconds(rig.logger) - cpuBefore) / wall);
    std::printf("  logger wakeups      %11.1f a second\n", static_cast<double>(sleeps(rig.logger) - sleepsBefore) / wall);
    std::fflush(stdout);
}

// The logger with its 18 ports silent, then with every device unplugged:
// what a logger left alone costs while it waits for its instruments.
bool run_gone(Rig &rig, int seconds)
{
    measure_quiet(rig, "18 ports silent, their devices present", seconds);
    for (const auto &pty : rig.logged)
        pty->close();
    // The reader notices the hang-ups at once; the reopen thread starts looking.
    std::this_thread::sleep_for(std::chrono::seconds(2));
    measure_quiet(rig, "18 devices gone", seconds);
    // The logger says once of each port that its device went.
    const std::string said = ptykit::read_file(rig.dir.file("logger.txt"));
    int reported = 0;
    for (std::size_t at = said.find("device gone"); at != std::string::npos; at = said.find("device gone", at + 1))
        ++reported;
    std::printf("  devices seen gone   %11d of %d\n", reported, kPorts);
    return reported == kPorts && waitpid(rig.logger, nullptr, WNOHANG) == 0;
}

// Whether one GET of /metrics from 127.0.0.1:port came back whole (200).
bool scrape_once(int port)
{
    const int fd = ptykit::connect_loopback(port);
    timeval limit{2, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    std::string answer;
    const char request[] = "GET /metrics HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n";
    if (fd >= 0 && ::send(fd, request, sizeof request - 1, MSG_NOSIGNAL) > 0) {
        char buffer[16384];
        for (ssize_t n; answer.size() < (1 << 20) && (n = ::recv(fd, buffer, sizeof buffer, 0)) > 0;)
            answer.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(fd);
    return answer.rfind("HTTP/1.1 200", 0) == 0 && answer.find("vornacq4_build_info") != std::string::npos;
}

// Fetches /metrics once a second until stopped; counts what came back whole.
struct Scraper {
    std::atomic<bool> stop{false};
    std::atomic<int> good{0}, tried{0};
    std::thread thread;

    explicit Scraper(int port)
        : thread([this, port] {
              for (auto next = std::chrono::steady_clock::now(); !stop; next += std::chrono::seconds(1)) {
                  ++tried;
                  good += scrape_once(port) ? 1 : 0;
                  std::this_thread::sleep_until(next + std::chrono::seconds(1));
              }
          })
    {
    }
    ~Scraper()
    {
        stop = true;
        thread.join();
        std::printf("/metrics fetched     %10d of %d times\n", good.load(), tried.load());
    }
};

} // namespace

int main(int argc, char *argv[])
{
    bool views = true;
    for (int i = 1; i < argc; ++i)
        views = views && std::strcmp(argv[i], "--no-views") != 0;
    Rig rig(views);
    bool lines = false, gone = false;
    std::vector<long> numbers;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--no-index") == 0)
            rig.index = false;
        else if (std::strcmp(argv[i], "--no-views") == 0)
            continue;
        else if (std::strcmp(argv[i], "--logger") == 0 && i + 1 < argc)
            rig.binary = argv[++i];
        else if (std::strcmp(argv[i], "--lines") == 0)
            lines = true;
        else if (std::strcmp(argv[i], "--gone") == 0)
            gone = true;
        else if (std::strcmp(argv[i], "--scrape") == 0)
            rig.httpPort = ptykit::free_tcp_port();
        else
            numbers.push_back(std::atol(argv[i]));
    }
    const int seconds = numbers.empty() ? 60 : static_cast<int>(numbers[0]);
    std::vector<long> rates(numbers.size() > 1 ? numbers.begin() + 1 : numbers.end(), numbers.end());
    if (rates.empty())
        rates = {11520, 92160};
    rig.withCats = !lines && !gone;
    if (!rig.start()) {
        std::fprintf(stderr, "acq_bench: the logger did not start its run\n%s",
                     ptykit::read_file(rig.dir.file("logger.txt")).c_str());
        return 1;
    }
    if (lines)
        return run_lines(rig, seconds) ? 0 : 1;
    if (gone)
        return run_gone(rig, seconds) ? 0 : 1;
    std::unique_ptr<Scraper> scraper(rig.httpPort != 0 ? new Scraper(rig.httpPort) : nullptr);
    std::uint64_t offset = 0;
    bool whole = true;
    for (long rate : rates)
        whole = run_rate(rig, rate, seconds, offset) && whole;
    scraper.reset();
    std::printf(whole ? "every byte in its file, in order\n" : "BYTES LOST OR ALTERED\n");
    return whole ? 0 : 1;
}
