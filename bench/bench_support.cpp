#include "bench_support.h"

#include "engine.h"
#include "engine_seams.h"
#include "ptykit/station.h"

#include <cstdio>
#include <sys/resource.h>
#include <unistd.h>

namespace bench {


void map_only_port(int port, const std::string &path)
{
    ptykit::write_file(scratch_dir() + "/comports.map", ptykit::port_map_text({{port, path}}));
    SeamReloadPortMap();
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
