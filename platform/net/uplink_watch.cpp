#include "uplink_watch.h"

#include "mqtt_link.h"

#include <cerrno>
#include <dirent.h>
#include <sys/inotify.h>
#include <unistd.h>

namespace uplink {

namespace {

// An index directory's name: T and three digits.
bool index_day(const std::string &name)
{
    return name.size() == 4 && name[0] == 'T' && name.find_first_not_of("0123456789", 1) == std::string::npos;
}

} // namespace

bool Watch::begin(const std::string &dir)
{
    end();
    m_dir = dir;
    m_fd = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (m_fd < 0 || ::inotify_add_watch(m_fd, dir.c_str(), IN_CREATE | IN_MOVED_TO | IN_ONLYDIR) < 0) {
        end();
        return false;
    }
    DIR *d = ::opendir(dir.c_str());
    while (const dirent *e = d != nullptr ? ::readdir(d) : nullptr)
        watch_day(e->d_name);
    if (d != nullptr)
        ::closedir(d);
    return true;
}

void Watch::end()
{
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
    m_days.clear();
}

// A day's index directory: an index is written (or made, or moved in) there.
void Watch::watch_day(const std::string &name)
{
    if (!index_day(name))
        return;
    const int wd = ::inotify_add_watch(m_fd, (m_dir + "/" + name).c_str(),
                                       IN_MODIFY | IN_CLOSE_WRITE | IN_CREATE | IN_MOVED_TO | IN_ONLYDIR);
    if (wd >= 0)
        m_days[wd] = "D" + name.substr(1);
}

void Watch::take(bool written[kPorts + 1])
{
    alignas(inotify_event) char buffer[4096];
    for (int reads = 0; m_fd >= 0 && reads < 64; ++reads) { // bounded: a busy directory cannot hold the thread
        const ssize_t n = ::read(m_fd, buffer, sizeof buffer);
        if (n <= 0)
            return;
        for (ssize_t at = 0; at < n;) {
            const auto *e = reinterpret_cast<const inotify_event *>(buffer + at);
            at += static_cast<ssize_t>(sizeof(inotify_event) + e->len);
            const auto day = m_days.find(e->wd);
            int port = 0;
            if ((e->mask & IN_Q_OVERFLOW) != 0)
                for (int p = 1; p <= kPorts; ++p)
                    written[p] = true;
            else if ((e->mask & IN_IGNORED) != 0 && day != m_days.end())
                m_days.erase(day);
            else if (day == m_days.end() && e->len > 0)
                watch_day(e->name); // a new day's index directory in the start-up directory
            else if (day != m_days.end() && e->len > 0 && mqtt_link::valid_file(day->second + "/" + e->name, port))
                written[port] = true;
        }
    }
}

} // namespace uplink
