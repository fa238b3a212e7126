#include "wine_station.h"

#include "test_support.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <stdexcept>
#include <sys/ioctl.h>
#include <unistd.h>

const char *const kMainTitle = "VORN Serial Data Logger";
const char *const kConfigTitle = "Serial Port Configuration";

ToolRun shell(const std::string &command, int limitMs)
{
    LoggerProcess::Options o;
    o.binary = "/bin/sh";
    o.args = {"-c", command};
    for (char **e = environ; *e != nullptr; ++e) {
        const std::string setting = *e;
        const std::size_t eq = setting.find('=');
        o.env[setting.substr(0, eq)] = eq == std::string::npos ? "" : setting.substr(eq + 1);
    }
    return run_tool(o, limitMs);
}

namespace {

constexpr int kWindowMs = 60000; // wine's start of a Qt program on a loaded machine

std::string required_env(const char *name)
{
    const char *value = std::getenv(name);
    if (value == nullptr || *value == '\0')
        throw std::runtime_error(std::string(name) + " is not set: run these tests with tools/windows-test.sh");
    return value;
}

// A command's whole standard output ("" when it failed).
std::string output_of(const std::string &command)
{
    const ToolRun r = shell(command);
    return r.status == 0 ? r.out : std::string();
}

void run(const std::string &command)
{
    if (shell(command).status != 0)
        throw std::runtime_error("failed: " + command);
}

// The screen position of an X window's top left corner: "x y".
bool window_origin(const std::string &window, int &x, int &y)
{
    const std::string geometry = output_of("xdotool getwindowgeometry " + window);
    return std::sscanf(geometry.c_str(), "Window %*s Position: %d,%d", &x, &y) == 2;
}

void click_at(int x, int y)
{
    // Wine takes a click where the pointer is: move, let wine see it, press.
    run("xdotool mousemove " + std::to_string(x) + " " + std::to_string(y) +
        " sleep 0.3 mousedown 1 sleep 0.1 mouseup 1");
}

// The pixels of a part of an X window, as R G B values 0 to 255 in a row.
std::vector<int> window_pixels(const std::string &window, int x, int y, int width, int height)
{
    std::vector<int> values;
    if (window.empty())
        return values;
    const std::string plain = output_of("xwd -silent -id " + window + " | xwdtopnm 2>/dev/null | pamcut -left " +
                                        std::to_string(x) + " -top " + std::to_string(y) + " -width " +
                                        std::to_string(width) + " -height " + std::to_string(height) +
                                        " | pnmtoplainpnm");
    // P3, width, height, the greatest value (255), then the pixels.
    std::istringstream in(plain);
    std::string magic;
    int w = 0, h = 0, top = 0, v = 0;
    in >> magic >> w >> h >> top;
    while (magic == "P3" && top == 255 && in >> v)
        values.push_back(v);
    return values;
}

} // namespace

WineStation::WineStation(const std::vector<int> &ports, const std::string &folder)
    : m_folder(folder.empty() ? required_env("VORN_WINDOWS_FOLDER") : folder), m_prefix(required_env("WINEPREFIX")),
      m_start(m_top.path() + "/start")
{
    required_env("DISPLAY");
    run("mkdir -p " + m_start);
    for (int port : ports) {
        m_ptys[port] = std::make_unique<ptykit::Pty>();
        if (symlink(m_ptys[port]->path().c_str(), link(port).c_str()) != 0)
            throw std::runtime_error("cannot link " + link(port));
    }
}

WineStation::~WineStation()
{
    m_logger.reset();
    for (const auto &p : m_ptys)
        unlink(link(p.first).c_str());
}

std::string WineStation::link(int port) const
{
    return m_prefix + "/dosdevices/com" + std::to_string(port);
}

bool WineStation::start(const std::string &dir)
{
    if (!dir.empty())
        m_start = dir;
    LoggerProcess::Options o;
    o.binary = "/usr/bin/wine";
    o.args = {m_folder + "/vornacq4.exe"};
    o.startDir = m_start;
    o.stderrPath = m_top.path() + "/stderr.txt";
    o.unset = {"QT_QPA_PLATFORM", "HOME"};
    for (const char *name : {"WINEPREFIX", "WINEDEBUG", "WINEDLLOVERRIDES", "DISPLAY"})
        if (const char *value = std::getenv(name))
            o.env[name] = value;
    m_logger = std::make_unique<LoggerProcess>(o);
    m_window = window(kMainTitle, kWindowMs);
    return !m_window.empty();
}

// The visible window with exactly this title, once it is drawn (its
// corner has the panel's light background); "" when none comes in time.
std::string WineStation::window(const std::string &title, int timeoutMs) const
{
    std::string id;
    ptykit::eventually(
        [&] {
            const std::string found = output_of("xdotool search --onlyvisible --name '^" + title + "$' 2>/dev/null");
            id = found.substr(0, found.find('\n'));
            const std::vector<int> corner = window_pixels(id, 2, 2, 1, 1);
            return corner.size() == 3 && corner[0] + corner[1] + corner[2] > 3 * 200;
        },
        timeoutMs);
    return id;
}

int WineStation::wait_exit(int timeoutMs)
{
    return m_logger->wait_exit(timeoutMs);
}

std::string WineStation::stderr_text() const
{
    return m_logger ? m_logger->stderr_text() : "";
}

void WineStation::click(int x, int y)
{
    int left = 0, top = 0;
    if (!window_origin(m_window, left, top))
        throw std::runtime_error("the main window is gone");
    click_at(left + x, top + y);
}

void WineStation::click_in(const std::string &title, int x, int y)
{
    const std::string id = window(title, kWindowMs);
    int left = 0, top = 0;
    if (id.empty() || !window_origin(id, left, top))
        throw std::runtime_error("no window " + title);
    click_at(left + x, top + y);
}

Rgb WineStation::pixel(int x, int y) const
{
    const std::vector<int> v = window_pixels(m_window, x, y, 1, 1);
    return v.size() == 3 ? Rgb{v[0], v[1], v[2]} : Rgb{};
}

int WineStation::dark_pixels(const std::string &title, int x, int y, int width, int height) const
{
    const std::vector<int> v = window_pixels(window(title, kWindowMs), x, y, width, height);
    if (v.empty())
        return -1;
    int dark = 0;
    for (std::size_t i = 0; i + 2 < v.size(); i += 3)
        dark += v[i] + v[i + 1] + v[i + 2] < 3 * 200 ? 1 : 0;
    return dark;
}

void WineStation::close_window()
{
    run("wine taskkill /IM vornacq4.exe >/dev/null 2>&1");
}

void WineStation::interrupt()
{
    m_logger->signal(SIGINT);
}

bool WineStation::screenshot(const std::string &pngPath) const
{
    return shell("xwd -silent -id " + m_window + " | xwdtopnm 2>/dev/null | pnmtopng >'" + pngPath + "'").status == 0;
}

std::vector<std::string> WineStation::data_files(int port) const
{
    std::vector<std::string> files = ptykit::data_files(m_start, port);
    for (std::string &file : files)
        file.erase(0, m_start.size() + 1);
    return files;
}

std::string WineStation::raw_recording(int port) const
{
    return ptykit::recording(m_start, port);
}

std::string WineStation::recording(int port) const
{
    const std::string bytes = raw_recording(port);
    const std::size_t first = bytes.find_first_not_of('W');
    return first == std::string::npos ? std::string() : bytes.substr(first);
}

bool WineStation::recorded(int port, std::size_t size, int timeoutMs)
{
    return ptykit::eventually([&] { return recording(port).size() >= size; }, timeoutMs);
}

bool WineStation::await_reading(int port, int timeoutMs)
{
    for (int waited = 0; waited < timeoutMs && raw_recording(port).empty(); waited += 100) {
        m_ptys.at(port)->write("W");
        usleep(100 * 1000);
    }
    return !raw_recording(port).empty();
}

bool WineStation::line_drained(int port) const
{
    int waiting = -1;
    return ioctl(m_ptys.at(port)->slave(), FIONREAD, &waiting) == 0 && waiting == 0;
}
