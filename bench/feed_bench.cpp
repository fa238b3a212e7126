// feed_bench: the logger's live network feeds against ser2net, the program
// stations run beside a logger today to share their serial ports.
//
// Each server gets 18 fresh pseudo-terminals and serves each of them on a TCP
// port of 127.0.0.1. Every port has two clients that read everything; they
// connect before a paced writer starts feeding every terminal the test stream
// at one rate. The logger also logs all 18 ports to its files and shows five
// of them (two as hexadecimal), as acq_bench runs it; ser2net only relays.
// For each server and rate it reports the bytes each client and each data
// file lost, the server's CPU time as a share of one core over the feeding,
// its peak memory, and the latency from the write into the terminal to a
// client holding the byte (p50, p99, max): the writer notes when each write
// began and the clients when each read ended, so each write's last byte is
// timed exactly and the stream itself carries no stamps.
//
//     feed_bench [seconds, default 60] [rate ...]
//         rates in bytes a second a port; default 11520 92160 (115200 and
//         921600 baud); the logger then ser2net at each rate
//     feed_bench --abuse [seconds, default 60] [rate ..., default 92160]
//         per port, one client that reads, one that never reads and one
//         that floods the server with junk at 1 MB/s (and reads): the
//         reading client and the files must lose nothing, the silent client
//         must be cut off, no junk may reach a device, and the logger's peak
//         memory must stay under 80 MiB
//     --only logger | --only ser2net   one server only (--abuse: the logger
//         unless ser2net is asked for); without ser2net installed
//         (apt-get install ser2net), the logger alone
//
// The logger shows its window on $DISPLAY when set, else offscreen.
#include "feed_clients.h"
#include "feed_servers.h"
#include "logger_process.h"
#include "ptykit/station.h"
#include "ptykit/stream.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

using bench::Client;
using bench::Clients;
using bench::kPorts;
using bench::kSer2net;
using bench::name_of;
using bench::Role;
using bench::Server;
using bench::Station;
using Clock = std::chrono::steady_clock;

namespace {

// The logger's live views stay under it, however the clients behave.
constexpr double kMemoryCeilingMiB = 80;

std::atomic<bool> g_interrupted{false};

void on_signal(int)
{
    g_interrupted = true;
}

struct Result {
    Server server = Server::Logger;
    bool started = false, served = false, complete = false;
    std::string loadBefore, loadAfter;
    std::uint64_t perPort = 0, refused = 0;
    std::uint64_t fileLost = 0; // the logger's data files
    std::uint64_t clientLost = 0;
    int readers = 0, readersWhole = 0;
    double cpu = 0, wall = 0, peakMiB = 0;
    std::string threads; // each thread's share of a core
    std::vector<double> latencyMs;
    // --abuse
    int silent = 0, silentCut = 0, flooders = 0, floodersWhole = 0;
    std::uint64_t silentHeld = 0, flooded = 0, toDevices = 0;
    std::string shortClients; // a line for each reading client that lost bytes
    std::string said;         // the server's first lines on stderr
};

// Feeds every terminal `rate` bytes a second for `seconds` while the clients
// read; notes the server's CPU over the feeding and every write's moment.
std::vector<std::vector<ptykit::PacedWriter::Stamp>> feed(const Station &s, const Clients &clients, long rate,
                                                         int seconds, Result &r)
{
    r.perPort = static_cast<std::uint64_t>(rate) * static_cast<std::uint64_t>(seconds);
    const double cpuBefore = bench::cpu_seconds(s.pid);
    const std::map<std::string, double> threadsBefore = bench::thread_cpu_seconds(s.pid);
    const auto start = Clock::now();
    ptykit::PacedWriter writer(s.masters(), rate, r.perPort, 0, true);
    const auto deadline = start + std::chrono::seconds(2 * seconds + 30);
    while (!writer.finished() && Clock::now() < deadline && !g_interrupted && bench::running(s.pid))
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    r.complete = writer.finished();
    // Let the last bytes land, at most 5 s.
    ptykit::eventually([&] { return clients.readers_hold(r.perPort); }, 5000);
    r.wall = std::chrono::duration<double>(Clock::now() - start).count();
    r.cpu = bench::cpu_seconds(s.pid) - cpuBefore;
    r.threads = bench::thread_shares(threadsBefore, bench::thread_cpu_seconds(s.pid), r.wall);
    r.refused = writer.refused();
    // The thread has stopped appending once finished; otherwise time nothing.
    return r.complete ? writer.stamps() : std::vector<std::vector<ptykit::PacedWriter::Stamp>>{};
}

void judge_clients(const Clients &clients, const std::vector<std::vector<ptykit::PacedWriter::Stamp>> &stamps,
                   Result &r)
{
    for (const auto &c : clients.all()) {
        if (c->role == Role::Silent) {
            ++r.silent;
            r.silentHeld += c->intact;
            continue;
        }
        const bool whole = c->intact == r.perPort && c->received == r.perPort;
        if (c->role == Role::Flooder) {
            ++r.flooders;
            r.floodersWhole += whole ? 1 : 0;
            continue;
        }
        ++r.readers;
        r.readersWhole += whole ? 1 : 0;
        r.clientLost += r.perPort - std::min(r.perPort, c->intact) + (c->received - c->intact);
        if (!whole)
            r.shortClients += "    COM" + std::to_string(c->port) + " client: " + std::to_string(c->intact) +
                              " bytes intact of " + std::to_string(c->received) + " received" +
                              (c->ended ? ", then closed" : "") + "\n";
        if (!stamps.empty())
            bench::add_latencies(*c, stamps[static_cast<std::size_t>(c->port - 1)], r.latencyMs);
    }
    std::sort(r.latencyMs.begin(), r.latencyMs.end());
}

// The first few lines the server wrote on stdout and stderr, indented.
std::string first_lines(const std::string &path, int count)
{
    const std::string text = ptykit::read_file(path);
    std::string lines;
    std::size_t from = 0;
    for (int i = 0; i < count && from < text.size(); ++i) {
        const std::size_t end = std::min(text.find('\n', from), text.size());
        lines += "    " + text.substr(from, end - from) + "\n";
        from = end + 1;
    }
    return lines;
}

std::string one_minute_load()
{
    const std::string all = bench::load_average();
    return all.substr(0, all.find(' '));
}

Result run_trial(Server server, const std::vector<Role> &roles, long rate, int seconds)
{
    Result r;
    r.server = server;
    r.loadBefore = one_minute_load();
    Station s;
    r.started = bench::start_server(server, s, static_cast<int>(roles.size()), rate);
    if (!r.started) {
        r.said = first_lines(s.dir.file("server.txt"), 6);
        return r;
    }
    Clients clients;
    r.served = clients.connect_all(s.tcpPorts, roles, 10000);
    if (!bench::devices_raw(s, 10000))
        std::printf("  (%s: not every device was set raw within 10 s)\n", name_of(server));
    clients.start();
    // Time for the server to take in its clients before the first byte.
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    const auto stamps = feed(s, clients, rate, seconds, r);
    if (!bench::running(s.pid))
        std::printf("  (%s ended during the run)\n", name_of(server));
    clients.halt();
    r.silentCut = clients.drain_silent(5000);
    r.flooded = clients.flooded();
    judge_clients(clients, stamps, r);
    r.peakMiB = bench::peak_rss_mib(s.pid);
    if (server == Server::Logger)
        r.fileLost = bench::lost_in_files(s, r.perPort);
    r.toDevices = bench::bytes_to_devices(s);
    r.said = first_lines(s.dir.file("server.txt"), 4);
    r.loadAfter = one_minute_load();
    return r;
}

double percentile(const std::vector<double> &sorted, double p)
{
    if (sorted.empty())
        return 0;
    const auto at = static_cast<std::size_t>(p * static_cast<double>(sorted.size() - 1) + 0.5);
    return sorted[std::min(at, sorted.size() - 1)];
}

// One row of the comparison: a label, then a column a server.
template <typename F>
void row(const char *label, const std::vector<Result> &results, F cell)
{
    std::printf("  %-30s", label);
    for (const Result &r : results)
        std::printf(" %-22s", r.started ? cell(r).c_str() : "did not start");
    std::printf("\n");
}

std::string fmt(const char *format, double a, double b = 0, double c = 0)
{
    char text[64];
    std::snprintf(text, sizeof text, format, a, b, c);
    return text;
}

std::string count(std::uint64_t n)
{
    return std::to_string(n);
}

} // namespace

namespace {

void print_comparison(long rate, int seconds, const std::vector<Role> &roles, const std::vector<Result> &results)
{
    std::printf("\n%ld B/s a port (%ld baud) x 18 ports, %d s, %zu TCP clients a port%s\n", rate, rate * 10, seconds,
                roles.size(), roles.size() > 2 ? " (reader, silent, flooder)" : "");
    std::printf("  %-30s", "");
    for (const Result &r : results)
        std::printf(" %-22s", name_of(r.server));
    std::printf("\n");
    row("load (1 min) before / after", results, [](const Result &r) { return r.loadBefore + " / " + r.loadAfter; });
    row("feeds served", results, [](const Result &r) { return std::string(r.served ? "yes" : "NO (refused)"); });
    row("bytes written (18 ports)", results,
        [](const Result &r) { return count(r.perPort * kPorts) + (r.complete ? "" : " UNFINISHED"); });
    row("refused by a full terminal", results, [](const Result &r) { return count(r.refused); });
    row("bytes lost in the data files", results,
        [](const Result &r) { return r.server == Server::Logger ? count(r.fileLost) : std::string("(no files)"); });
    row("reading clients holding all", results,
        [](const Result &r) { return std::to_string(r.readersWhole) + " of " + std::to_string(r.readers); });
    row("bytes lost at reading clients", results, [](const Result &r) { return count(r.clientLost); });
    row("CPU, share of one core", results, [](const Result &r) { return fmt("%.2f%%", 100.0 * r.cpu / r.wall); });
    for (const Result &r : results)
        if (r.server == Server::Logger)
            std::printf("  %-30s %s\n", "the logger's threads", r.threads.c_str());
    row("latency p50 / p99 / max, ms", results, [](const Result &r) {
        if (r.latencyMs.empty())
            return std::string("-");
        return fmt("%.2f / %.2f / %.1f", percentile(r.latencyMs, 0.5), percentile(r.latencyMs, 0.99),
                   r.latencyMs.back());
    });
    row("writes timed / over 10 ms", results, [](const Result &r) {
        const auto over = std::count_if(r.latencyMs.begin(), r.latencyMs.end(), [](double ms) { return ms > 10; });
        return count(r.latencyMs.size()) + " / " + count(static_cast<std::uint64_t>(over));
    });
    row("peak memory (VmHWM)", results, [](const Result &r) { return fmt("%.1f MiB", r.peakMiB); });
    if (roles.size() <= 2)
        return;
    row("silent clients cut off", results,
        [](const Result &r) { return std::to_string(r.silentCut) + " of " + std::to_string(r.silent); });
    row("  bytes they had, on average", results,
        [](const Result &r) { return count(r.silent > 0 ? r.silentHeld / static_cast<std::uint64_t>(r.silent) : 0); });
    row("junk the flooders sent", results,
        [](const Result &r) { return fmt("%.1f MB (%.1f MB/s)", r.flooded / 1e6, r.flooded / 1e6 / r.wall); });
    row("  flooders holding their feed", results,
        [](const Result &r) { return std::to_string(r.floodersWhole) + " of " + std::to_string(r.flooders); });
    row("  bytes of it on the devices", results, [](const Result &r) { return count(r.toDevices); });
}

// Whether a trial kept every promise: no byte lost anywhere, and with the
// abusive clients, each silent one cut off, no junk on a device, memory bounded.
bool kept(const Result &r, bool abuse)
{
    bool whole = r.started && r.served && r.complete && r.fileLost == 0 && r.clientLost == 0 &&
                 r.readersWhole == r.readers;
    if (abuse)
        whole = whole && r.silentCut == r.silent && r.toDevices == 0 && r.peakMiB < kMemoryCeilingMiB;
    return whole;
}

struct Options {
    bool abuse = false;
    std::vector<Server> servers = {Server::Logger, Server::Ser2net};
    int seconds = 60;
    std::vector<long> rates;
};

bool parse(int argc, char *argv[], Options &o)
{
    std::vector<long> numbers;
    bool onlyGiven = false;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--abuse") == 0)
            o.abuse = true;
        else if (std::strcmp(argv[i], "--only") == 0 && i + 1 < argc && std::strcmp(argv[i + 1], "logger") == 0)
            o.servers = {Server::Logger}, onlyGiven = true, ++i;
        else if (std::strcmp(argv[i], "--only") == 0 && i + 1 < argc && std::strcmp(argv[i + 1], "ser2net") == 0)
            o.servers = {Server::Ser2net}, onlyGiven = true, ++i;
        else if (argv[i][0] >= '0' && argv[i][0] <= '9' && std::atol(argv[i]) > 0)
            numbers.push_back(std::atol(argv[i]));
        else
            return false;
    }
    if (o.abuse && !onlyGiven)
        o.servers = {Server::Logger};
    if (!numbers.empty())
        o.seconds = static_cast<int>(numbers[0]);
    o.rates.assign(numbers.size() > 1 ? numbers.begin() + 1 : numbers.end(), numbers.end());
    if (o.rates.empty())
        o.rates = o.abuse ? std::vector<long>{92160} : std::vector<long>{11520, 92160};
    return true;
}

void print_said(const std::vector<Result> &results)
{
    for (const Result &r : results) {
        if (!r.shortClients.empty())
            std::printf("  %s's clients that lost bytes:\n%s", name_of(r.server), r.shortClients.c_str());
        if (!r.said.empty())
            std::printf("  %s said first:\n%s", name_of(r.server), r.said.c_str());
    }
}

} // namespace

int main(int argc, char *argv[])
{
    Options o;
    if (!parse(argc, argv, o)) {
        std::fprintf(stderr, "usage: feed_bench [--abuse] [--only logger|ser2net] [seconds] [rate ...]\n");
        return 2;
    }
    std::signal(SIGINT, on_signal);
    std::signal(SIGTERM, on_signal);
    std::signal(SIGPIPE, SIG_IGN);
    const std::vector<Role> roles = o.abuse ? std::vector<Role>{Role::Reader, Role::Silent, Role::Flooder}
                                            : std::vector<Role>{Role::Reader, Role::Reader};
    const char *display = std::getenv("DISPLAY");
    std::printf("feed_bench: the logger on %s; ser2net %s\n", display != nullptr ? display : "the offscreen platform",
                access(kSer2net, X_OK) == 0 ? kSer2net : "not installed, left out (apt-get install ser2net)");
    if (access(kSer2net, X_OK) != 0)
        o.servers.erase(std::remove(o.servers.begin(), o.servers.end(), Server::Ser2net), o.servers.end());
    bool whole = true;
    for (long rate : o.rates) {
        std::vector<Result> results;
        for (Server server : o.servers)
            if (!g_interrupted)
                results.push_back(run_trial(server, roles, rate, o.seconds));
        print_comparison(rate, o.seconds, roles, results);
        print_said(results);
        std::fflush(stdout);
        for (const Result &r : results)
            whole = kept(r, o.abuse && r.server == Server::Logger) && whole;
    }
    std::printf(whole ? "\nevery promise kept\n" : "\nBYTES LOST, OR A PROMISE BROKEN (see above)\n");
    return whole ? 0 : 1;
}
