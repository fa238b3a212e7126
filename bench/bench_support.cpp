#include "bench_support.h"

#include "engine.h"
#include "engine_seams.h"
#include "test_support.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/resource.h>
#include <unistd.h>

namespace bench {


void map_only_port(int port, const std::string &path)
{
    testing_support::write_file(scratch_dir() + "/comports.map", testing_support::port_map_text({{port, path}}));
    SeamReloadPortMap();
}

FloodWriter::FloodWriter(int master) : m_fd(master)
{
    fcntl(m_fd, F_SETFL, fcntl(m_fd, F_GETFL) | O_NONBLOCK);
    m_thread = std::thread([this] { run(); });
}

FloodWriter::~FloodWriter()
{
    m_stop = true;
    m_thread.join();
}

void FloodWriter::run()
{
    std::uint64_t written = 0;
    while (!m_stop.load(std::memory_order_relaxed)) {
        const ssize_t n = write(m_fd, testing_support::stream_at(written), testing_support::kStreamChunk);
        if (n > 0) {
            written += static_cast<std::uint64_t>(n);
        } else if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
            // The terminal is full: wait for room, but look at m_stop now and then.
            pollfd p{m_fd, POLLOUT, 0};
            poll(&p, 1, 20);
        } else {
            return;
        }
    }
}

double max_rss_mib()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_maxrss) / 1024.0; // ru_maxrss is in KiB on Linux
}

double rss_now_mib()
{
    long pages = 0, resident = 0;
    if (std::FILE *f = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(f, "%ld %ld", &pages, &resident) != 2)
            resident = 0;
        std::fclose(f);
    }
    return static_cast<double>(resident) * static_cast<double>(sysconf(_SC_PAGESIZE)) / (1024.0 * 1024.0);
}

} // namespace bench
