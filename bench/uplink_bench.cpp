// uplink_bench: what the MQTT uplink costs, how soon a byte reaches the
// shore and how fast a backlog does. Two stations of 18 pseudo-terminals at
// 115200 baud run side by side, the same stream on both: one logger without
// an uplink, one publishing to a local mosquitto with vornacq4-shore writing
// the copy. Two modes:
//   live [SECONDS]     each logger's CPU over the same stretch (the ratio is
//                      what counts), the linked one's by thread; latency of
//                      COM1's bytes (p50, p99) from the line to the shore's
//                      copy, and from the station's data file (the moment the
//                      logger wrote them, which is at its tick) to the copy;
//   catchup [SECONDS]  the broker killed for an outage while the ports go on,
//                      started again empty: the rate from its return until
//                      the shore holds every byte, the logger's memory
//                      sampled each second through both, and the copy
//                      compared byte for byte with the station's files.
// Run by hand: uplink_bench live 60, uplink_bench catchup 600.
#include "logger_process.h"

#include "ptykit/loopback.h"
#include "ptykit/pty.h"
#include "ptykit/station.h"
#include "ptykit/stream.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

using Clock = std::chrono::steady_clock;
using ptykit::PacedWriter;
using ptykit::Pty;

namespace {

constexpr long kRate = 11520; // bytes a second: 115200 baud

struct Station {
    ptykit::TempDir dir;
    std::vector<std::unique_ptr<Pty>> ports;
    pid_t logger = -1;

    explicit Station(const std::string &networkMap)
    {
        std::vector<std::string> paths;
        for (int port = 1; port <= bench::kPorts; ++port) {
            ports.push_back(std::make_unique<Pty>());
            paths.push_back(ports.back()->path());
        }
        bench::write_station(dir.path(), paths);
        ptykit::write_file(dir.file("network.map"), networkMap);
    }
    ~Station() { bench::stop(logger); }
    bool start()
    {
        logger = bench::spawn({VORNACQ4_BINARY}, dir.path(), "/dev/null", dir.file("logger.txt"),
                              bench::logger_env(dir.path()));
        return logger > 0;
    }
    std::vector<int> masters() const
    {
        std::vector<int> fds;
        for (const auto &p : ports)
            fds.push_back(p->master());
        return fds;
    }
};

pid_t start_broker(const std::string &dir, int port)
{
    ptykit::write_file(dir + "/mosquitto.conf", "listener " + std::to_string(port) +
                                                    " 127.0.0.1\nallow_anonymous true\npersistence false\n"
                                                    "max_queued_messages 100000\n");
    const pid_t pid = bench::spawn({"/usr/sbin/mosquitto", "-c", dir + "/mosquitto.conf"}, dir, "/dev/null",
                                   dir + "/mosquitto.log", {});
    for (int i = 0; i < 100; ++i) {
        const int fd = ptykit::connect_loopback(port);
        if (fd >= 0) {
            ::close(fd);
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return pid;
}

// The bytes of port's data files under dir (a day directory's listing and
// a stat of each: cheap enough to take every millisecond).
std::uint64_t port_bytes(const std::string &dir, int port)
{
    char suffix[8];
    std::snprintf(suffix, sizeof suffix, ".C%02d", port);
    std::uint64_t total = 0;
    for (const std::string &day : ptykit::list_dir(dir))
        if (day[0] == 'D')
            for (const std::string &name : ptykit::list_dir(dir + "/" + day)) {
                struct stat st {};
                if (name.size() == 12 && name.substr(8) == suffix &&
                    ::stat((dir + "/" + day + "/" + name).c_str(), &st) == 0)
                    total += static_cast<std::uint64_t>(st.st_size);
            }
    return total;
}

using Samples = std::vector<std::pair<std::uint64_t, Clock::time_point>>;

// When COM1's files, the station's and the shore's copy, first held each
// size: both looked at each ms.
struct Sampler {
    std::string station, shore;
    std::atomic<bool> stop{false};
    Samples atStation, atShore;
    std::thread thread;
    Sampler(std::string stationDir, std::string shoreDir) : station(std::move(stationDir)), shore(std::move(shoreDir))
    {
        thread = std::thread([this] {
            std::uint64_t lastStation = 0, lastShore = 0, size = 0;
            while (!stop) {
                if ((size = port_bytes(station, 1)) > lastStation)
                    atStation.emplace_back(lastStation = size, Clock::now());
                if ((size = port_bytes(shore, 1)) > lastShore)
                    atShore.emplace_back(lastShore = size, Clock::now());
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
        });
    }
    ~Sampler()
    {
        stop = true;
        thread.join();
    }
};

double percentile(std::vector<double> v, double p)
{
    if (v.empty())
        return -1;
    std::sort(v.begin(), v.end());
    return v[static_cast<std::size_t>(p * static_cast<double>(v.size() - 1))];
}

// For each (size, time) of `from`: how long until `to` first held that size.
std::vector<double> delays(const std::vector<std::pair<std::uint64_t, Clock::time_point>> &from, const Samples &to)
{
    std::vector<double> ms;
    std::size_t at = 0;
    for (const auto &f : from) {
        while (at < to.size() && to[at].first < f.first)
            ++at;
        if (at == to.size())
            break;
        ms.push_back(std::chrono::duration<double, std::milli>(to[at].second - f.second).count());
    }
    return ms;
}

void report_latency(const std::vector<PacedWriter::Stamp> &stamps, const Sampler &s)
{
    Samples written;
    for (const PacedWriter::Stamp &stamp : stamps)
        written.emplace_back(stamp.end, stamp.at);
    const std::vector<double> line = delays(written, s.atShore), file = delays(s.atStation, s.atShore);
    std::printf("latency COM1 line to shore file (%zu writes): p50 %.1f ms, p99 %.1f ms\n", line.size(),
                percentile(line, 0.5), percentile(line, 0.99));
    std::printf("latency COM1 station file to shore file (%zu writes): p50 %.1f ms, p99 %.1f ms\n", file.size(),
                percentile(file, 0.5), percentile(file, 0.99));
}

std::uint64_t shore_bytes(const std::string &copy)
{
    return bench::bytes_under(copy, 'D');
}

// The resident memory of pid now, in MiB.
double rss_mib(pid_t pid)
{
    std::ifstream in("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(in, line);)
        if (line.rfind("VmRSS:", 0) == 0)
            return std::stod(line.substr(6)) / 1024.0;
    return 0;
}

// Whether every port's files on shore are the station's, byte for byte.
bool copies_whole(const std::string &station, const std::string &copy)
{
    bool whole = true;
    for (int port = 1; port <= bench::kPorts; ++port)
        if (bench::recorded(station, port) != bench::recorded(copy, port)) {
            std::printf("COM%d: the shore's copy differs from the station's files\n", port);
            whole = false;
        }
    return whole;
}

// The broker and the shore tool, on a port of their own.
struct Shore {
    ptykit::TempDir top;
    int brokerPort = ptykit::free_tcp_port();
    pid_t broker = start_broker(top.path(), brokerPort);
    std::string dir = top.file("shore");
    pid_t tool = -1;
    Shore()
    {
        ::mkdir(dir.c_str(), 0755);
        tool = bench::spawn({VORNACQ4_SHORE_BINARY, "127.0.0.1:" + std::to_string(brokerPort), dir, "id=bench-shore"},
                            top.path(), "/dev/null", top.file("shore.txt"), {});
    }
    ~Shore()
    {
        bench::stop(tool);
        bench::stop(broker);
    }
    std::string map_line() const
    {
        return "mqtt 127.0.0.1:" + std::to_string(brokerPort) + " station=bench keepalive=10\n";
    }
    std::string copy() const { return dir + "/bench"; }
};

bool start_all(std::initializer_list<Station *> stations)
{
    for (Station *s : stations)
        if (!s->start() || !bench::wait_for_run(s->dir.path(), bench::kPorts, 60000)) {
            std::fprintf(stderr, "uplink_bench: a logger did not start its run\n");
            return false;
        }
    return true;
}

// The same stream on both loggers: their CPU, the linked one's threads, and
// COM1's latency.
int live(int seconds)
{
    Shore shore;
    Station plain(""), linked(shore.map_line());
    if (!start_all({&plain, &linked}))
        return 1;
    std::printf("live: 18 ports at 115200 baud, %d s, load %s\n", seconds, bench::load_average().c_str());
    const double plainBefore = bench::cpu_seconds(plain.logger), linkedBefore = bench::cpu_seconds(linked.logger);
    const auto threadsBefore = bench::thread_cpu_seconds(linked.logger);
    const Clock::time_point began = Clock::now();
    {
        Sampler sampler(linked.dir.path(), shore.copy());
        PacedWriter plainWriter(plain.masters(), kRate, static_cast<std::uint64_t>(kRate) * seconds);
        PacedWriter linkedWriter(linked.masters(), kRate, static_cast<std::uint64_t>(kRate) * seconds, 0, true);
        while (!plainWriter.finished() || !linkedWriter.finished())
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        std::this_thread::sleep_for(std::chrono::seconds(2));
        report_latency(linkedWriter.stamps()[0], sampler);
    }
    const double wall = std::chrono::duration<double>(Clock::now() - began).count();
    const double plainCpu = bench::cpu_seconds(plain.logger) - plainBefore;
    const double linkedCpu = bench::cpu_seconds(linked.logger) - linkedBefore;
    std::printf("logger CPU: %.2f s without the uplink, %.2f s with it (%.2f x); load %s\n", plainCpu, linkedCpu,
                plainCpu > 0 ? linkedCpu / plainCpu : 0.0, bench::load_average().c_str());
    std::printf("linked logger's threads: %s\n",
                bench::thread_shares(threadsBefore, bench::thread_cpu_seconds(linked.logger), wall).c_str());
    return 0;
}

// Waits while `until` is false and `limit` has not passed, sampling the
// logger's memory each second into `most`.
template <typename Until>
void watch_memory(pid_t logger, double &most, Clock::duration limit, Until until)
{
    const Clock::time_point end = Clock::now() + limit;
    for (int i = 0; !until() && Clock::now() < end; ++i) {
        if (i % 10 == 0)
            most = std::max(most, rss_mib(logger));
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
}

// The broker away for `outage` seconds while the ports go on, then back
// empty: the backlog's rate to the shore and the logger's memory.
int catchup(int outage)
{
    Shore shore;
    Station linked(shore.map_line());
    if (!start_all({&linked}))
        return 1;
    double rssBack = 0;
    std::printf("catchup: 18 ports at 115200 baud, %d s away, load %s\n", outage, bench::load_average().c_str());
    { // a station that was running: every port's copy begun on shore before the broker goes
        PacedWriter writer(linked.masters(), kRate, static_cast<std::uint64_t>(kRate) * 20);
        watch_memory(linked.logger, rssBack, std::chrono::seconds(120), [&] { return writer.finished(); });
    }
    std::this_thread::sleep_for(std::chrono::seconds(2));
    bench::stop(shore.broker, 0);
    const double rssAtStart = rss_mib(linked.logger);
    double rssAway = rssAtStart;
    {
        PacedWriter writer(linked.masters(), kRate, static_cast<std::uint64_t>(kRate) * outage);
        watch_memory(linked.logger, rssAway, std::chrono::seconds(outage * 2 + 60), [&] { return writer.finished(); });
    }
    std::this_thread::sleep_for(std::chrono::seconds(1)); // the lines' last bytes to the files
    const std::uint64_t had = shore_bytes(shore.copy()), total = bench::bytes_under(linked.dir.path(), 'D');
    shore.broker = start_broker(shore.top.path(), shore.brokerPort);
    const Clock::time_point back = Clock::now();
    watch_memory(linked.logger, rssBack, std::chrono::seconds(outage * 2 + 60),
                 [&] { return shore_bytes(shore.copy()) >= total; });
    const double took = std::chrono::duration<double>(Clock::now() - back).count();
    std::printf("catch-up: %.1f MB in %.1f s (%.2f MB/s); load %s\n", static_cast<double>(total - had) / 1e6, took,
                static_cast<double>(total - had) / 1e6 / took, bench::load_average().c_str());
    std::printf("logger memory: %.1f MiB when the broker went, at most %.1f MiB while away, %.1f MiB catching up "
                "(peak %.1f MiB)\n", rssAtStart, rssAway, rssBack, bench::peak_rss_mib(linked.logger));
    std::this_thread::sleep_for(std::chrono::seconds(3)); // the shore's last writes
    const bool whole = copies_whole(linked.dir.path(), shore.copy());
    std::printf(whole ? "the shore's copy is byte for byte the station's files\n" : "THE SHORE'S COPY DIFFERS\n");
    return whole ? 0 : 1;
}

} // namespace

int main(int argc, char *argv[])
{
    std::setvbuf(stdout, nullptr, _IOLBF, 0); // each figure as it is measured
    const std::string mode = argc > 1 ? argv[1] : "live";
    const int seconds = argc > 2 ? std::atoi(argv[2]) : (mode == "catchup" ? 600 : 60);
    if (seconds <= 0 || (mode != "live" && mode != "catchup")) {
        std::fprintf(stderr, "usage: uplink_bench [live|catchup] [SECONDS]\n");
        return 2;
    }
    return mode == "live" ? live(seconds) : catchup(seconds);
}
