// uplink_watch.h - which ports' files the logger has written to since the
// uplink last looked: the kernel's notice (inotify) of writes to the index
// directories of the start-up directory, so that the uplink looks at a
// port's files when its tick has written them rather than polling every
// port's files many times a second, and wakes at once to send them.
//
// A notice can be missed (the kernel's queue overflowed: then every port
// counts as written) or never come (a file without an index, a directory the
// watch could not be set on): the uplink still looks at every port once a
// second. Only the uplink thread uses it.
#pragma once

#include "uplink_files.h"

#include <map>
#include <string>

namespace uplink {

class Watch {
public:
    Watch() = default;
    ~Watch() { end(); }
    Watch(const Watch &) = delete;
    Watch &operator=(const Watch &) = delete;

    // Watches dir and its index directories; false when the system gives no
    // watch (the uplink then goes by its once-a-second look alone).
    bool begin(const std::string &dir);
    void end();
    // The descriptor that is readable when a notice waits, or -1.
    int fd() const { return m_fd; }
    // Sets written[port] for each port whose files were written since the
    // last call (every port when notices were lost); never waits.
    void take(bool written[kPorts + 1]);

private:
    void watch_day(const std::string &name);

    int m_fd = -1;
    std::string m_dir;
    std::map<int, std::string> m_days; // watch descriptor -> "Dddd" of the index directory Tddd
};

} // namespace uplink
