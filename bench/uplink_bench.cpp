// uplink_bench: what the MQTT uplink costs and how fast it catches up. Two
// stations of 18 pseudo-terminals at 115200 baud run side by side, the same
// stream on both: one logger without an uplink, one publishing to a local
// mosquitto with vornacq4-shore writing the copy. It measures
//   - each logger's CPU over the same minute (the ratio is what counts);
//   - the latency from a byte written on COM1's line to the shore's copy
//     of its file holding it (p50, p99; the shore's files polled each ms);
//   - after an outage of the broker (killed, started again empty), how fast
//     the backlog reaches the shore, and the logger's memory meanwhile.
// Run by hand: uplink_bench [SECONDS [OUTAGE_SECONDS]] (60 and 600 by default).
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

// When the shore's copy of COM1 first held each size: sampled each ms.
struct Sampler {
    std::string dir;
    std::atomic<bool> stop{false};
    std::vector<std::pair<std::uint64_t, Clock::time_point>> samples;
    std::thread thread;
    explicit Sampler(std::string d) : dir(std::move(d))
    {
        thread = std::thread([this] {
            std::uint64_t last = 0;
            while (!stop) {
                const std::string copy = bench::recorded(dir, 1);
                if (copy.size() > last)
                    samples.emplace_back(last = copy.size(), Clock::now());
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

void report_latency(const std::vector<PacedWriter::Stamp> &stamps, const Sampler &s)
{
    std::vector<double> ms;
    std::size_t at = 0;
    for (const PacedWriter::Stamp &stamp : stamps) {
        while (at < s.samples.size() && s.samples[at].first < stamp.end)
            ++at;
        if (at == s.samples.size())
            break;
        ms.push_back(std::chrono::duration<double, std::milli>(s.samples[at].second - stamp.at).count());
    }
    std::printf("latency line to shore file (COM1, %zu writes): p50 %.1f ms, p99 %.1f ms\n", ms.size(),
                percentile(ms, 0.5), percentile(ms, 0.99));
}

std::uint64_t shore_bytes(const std::string &copy)
{
    return bench::bytes_under(copy, 'D');
}

} // namespace

int main(int argc, char *argv[])
{
    const int seconds = argc > 1 ? std::atoi(argv[1]) : 60;
    const int outage = argc > 2 ? std::atoi(argv[2]) : 600;
    ptykit::TempDir top;
    const int brokerPort = ptykit::free_tcp_port();
    pid_t broker = start_broker(top.path(), brokerPort);
    const std::string shoreDir = top.file("shore");
    ::mkdir(shoreDir.c_str(), 0755);
    const pid_t shore = bench::spawn({VORNACQ4_SHORE_BINARY, "127.0.0.1:" + std::to_string(brokerPort), shoreDir,
                                      "id=bench-shore"},
                                     top.path(), "/dev/null", top.file("shore.txt"), {});

    // Both stations, and their run begun.
    Station plain(""), linked("mqtt 127.0.0.1:" + std::to_string(brokerPort) + " station=bench keepalive=10\n");
    if (!plain.start() || !linked.start() || !bench::wait_for_run(plain.dir.path(), bench::kPorts, 60000) ||
        !bench::wait_for_run(linked.dir.path(), bench::kPorts, 60000)) {
        std::fprintf(stderr, "uplink_bench: a logger did not start its run\n");
        return 1;
    }
    std::printf("18 ports at 115200 baud, %d s, load %s\n", seconds, bench::load_average().c_str());

    // The same stream on both for a minute: CPU and latency.
    const double plainBefore = bench::cpu_seconds(plain.logger), linkedBefore = bench::cpu_seconds(linked.logger);
    {
        Sampler sampler(shoreDir + "/bench");
        PacedWriter plainWriter(plain.masters(), kRate, static_cast<std::uint64_t>(kRate) * seconds);
        PacedWriter linkedWriter(linked.masters(), kRate, static_cast<std::uint64_t>(kRate) * seconds, 0, true);
        while (!plainWriter.finished() || !linkedWriter.finished())
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        std::this_thread::sleep_for(std::chrono::seconds(2));
        report_latency(linkedWriter.stamps()[0], sampler);
    }
    const double plainCpu = bench::cpu_seconds(plain.logger) - plainBefore;
    const double linkedCpu = bench::cpu_seconds(linked.logger) - linkedBefore;
    std::printf("logger CPU: %.2f s without the uplink, %.2f s with it (%.2f x)\n", plainCpu, linkedCpu,
                plainCpu > 0 ? linkedCpu / plainCpu : 0.0);

    // The broker away for the outage while the ports go on, then back empty.
    bench::stop(broker, 0);
    const double rssBefore = bench::peak_rss_mib(linked.logger);
    {
        PacedWriter writer(linked.masters(), kRate, static_cast<std::uint64_t>(kRate) * outage);
        while (!writer.finished())
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
    }
    const std::uint64_t had = shore_bytes(shoreDir + "/bench"), total = bench::bytes_under(linked.dir.path(), 'D');
    broker = start_broker(top.path(), brokerPort);
    const Clock::time_point back = Clock::now();
    while (shore_bytes(shoreDir + "/bench") < total && Clock::now() - back < std::chrono::seconds(outage * 2 + 60))
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    const double took = std::chrono::duration<double>(Clock::now() - back).count();
    std::printf("catch-up after %d s away: %.1f MB in %.1f s (%.2f MB/s); logger peak memory %.1f MiB before, "
                "%.1f MiB after\n", outage, static_cast<double>(total - had) / 1e6, took,
                static_cast<double>(total - had) / 1e6 / took, rssBefore, bench::peak_rss_mib(linked.logger));
    // Bytes still in the lines' queues reach the files after the count above.
    std::uint64_t station = 0;
    for (int i = 0; i < 100 && shore_bytes(shoreDir + "/bench") != (station = bench::bytes_under(linked.dir.path(), 'D')); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
    const bool whole = shore_bytes(shoreDir + "/bench") == station;
    std::printf(whole ? "the shore holds every byte\n" : "THE SHORE IS MISSING BYTES\n");
    bench::stop(shore);
    bench::stop(broker);
    return whole ? 0 : 1;
}
