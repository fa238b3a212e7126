// Start-up on Linux: whether Qt can start at all (an X or Wayland server to
// show windows on), the runtime directory Qt looks into, and the network
// side that network.map asks for (live feeds, the monitor).
#include "ui_internal.h"

#include "monitor/monitor.h"
#include "net/feeds.h"
#include "net/network_map.h"
#include "net/uplink.h"

#include <QDir>

#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <pwd.h>
#include <string>
#include <sys/stat.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#include <vector>

namespace {

std::string option_value(int argc, char *argv[], const char *option)
{
    for (int i = 1; i + 1 < argc; ++i)
        if (std::strcmp(argv[i], option) == 0)
            return argv[i + 1];
    return std::string();
}

std::string env(const char *name)
{
    const char *v = std::getenv(name);
    return v != nullptr ? v : "";
}

// Whether an X server answers at a local display such as ":0" or "unix:1.0".
// A display on another host is assumed to answer.
bool x_display_answers(const std::string &display)
{
    std::size_t colon = display.rfind(':');
    if (colon == std::string::npos)
        return false;
    const std::string host = display.substr(0, colon);
    if (!host.empty() && host != "unix")
        return true;
    const std::string number = display.substr(colon + 1, display.find('.', colon) - colon - 1);
    const std::string path = "/tmp/.X11-unix/X" + number;
    for (bool abstract : {true, false}) {
        const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (fd < 0)
            return false;
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path + (abstract ? 1 : 0), path.c_str(), sizeof address.sun_path - 2);
        const socklen_t length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + path.size() + (abstract ? 1 : 0));
        const bool ok = ::connect(fd, reinterpret_cast<sockaddr *>(&address), length) == 0;
        close(fd);
        if (ok)
            return true;
    }
    return false;
}

bool private_dir(const std::string &path)
{
    struct stat st {};
    return lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == geteuid() &&
           (st.st_mode & 0777) == 0700;
}

} // namespace

namespace ui {

// Whether Qt can start its platform: anything but a display server needs
// nothing; X and Wayland need a server to talk to. Checked beforehand because
// Qt ends the process when its platform cannot start.
bool display_available(int argc, char *argv[])
{
    std::string platforms = option_value(argc, argv, "-platform");
    if (platforms.empty())
        platforms = env("QT_QPA_PLATFORM");
    if (platforms.empty())
        platforms = "xcb";
    std::size_t start = 0;
    while (start <= platforms.size()) {
        std::size_t end = platforms.find(';', start);
        if (end == std::string::npos)
            end = platforms.size();
        const std::string name = platforms.substr(start, end - start);
        const std::string plugin = name.substr(0, name.find(':'));
        if (plugin == "xcb") {
            std::string display = option_value(argc, argv, "-display");
            if (display.empty())
                display = env("DISPLAY");
            if (!display.empty() && x_display_answers(display))
                return true;
        } else if (plugin.rfind("wayland", 0) == 0) {
            if (!env("WAYLAND_DISPLAY").empty())
                return true;
        } else if (!plugin.empty()) {
            return true;
        }
        start = end + 1;
    }
    return false;
}

void start_network(const std::string &dir)
{
    const std::vector<net::FeedEntry> network = net::read_network_map(dir);
    const std::string mapPath = dir + "/network.map";
    feeds_start(network, mapPath);
    uplink_start(network, dir);
    monitor::http_start(network, mapPath);
}

// Qt looks into the user's runtime directory as it starts (for signs of a
// sandbox), and warns on stderr when XDG_RUNTIME_DIR is not set, as under a
// service manager, su or cron. Name the one a login session would have had
// when it is there, else the private directory Qt falls back to, made here if
// need be. A directory that is not this user's alone is not named: Qt then
// warns, and rightly.
void name_runtime_dir()
{
    if (!env("XDG_RUNTIME_DIR").empty())
        return;
    const std::string session = "/run/user/" + std::to_string(geteuid());
    const passwd *user = getpwuid(geteuid());
    const std::string fallback = QDir::tempPath().toStdString() + "/runtime-" +
                                 (user != nullptr ? user->pw_name : std::to_string(geteuid()));
    for (const std::string &dir : {session, fallback}) {
        if (dir == fallback)
            mkdir(dir.c_str(), 0700);
        if (private_dir(dir)) {
            setenv("XDG_RUNTIME_DIR", dir.c_str(), 1);
            return;
        }
    }
}

} // namespace ui
