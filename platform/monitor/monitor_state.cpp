// What the program reports (engine.h: ReportPortFigures, ReportRunFigures),
// each port's rate over the last hour, and the snapshot that joins them to
// what the engine counts itself, for the endpoint's thread.
#include "monitor.h"

#include "base/clock.h"
#include "engine.h"
#include "net/feeds.h"
#include "serial/port_map.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <mutex>

namespace monitor {

namespace {

enum { TEXT_LEN = 2048, PIECE_LEN = 192, FILE_LEN = 64, MINUTES = 60 };

struct Reported {
    PortReport figures{};
    char file[FILE_LEN] = "";
    char status[PIECE_LEN] = "";
    // The rate: bytes received in each of the last MINUTES minutes, the
    // current one last, counted from the engine's figure at each report.
    long long perMinute[MINUTES] = {};
    long long lastBytes = 0;
};

std::mutex g_mutex;
Reported g_ports[COM_PORTS + 1];
int g_logging = 0;
double g_runStart = 0;
char g_statusText[TEXT_LEN] = "";
long long g_minute = 0; // of the latest sample, in minutes since 1970

// The engine's wall clock, the one the arrival times are read from, so that
// "now" and a port's last byte are on the same clock.
double wall_seconds()
{
    return static_cast<double>(wall_clock_us()) / 1e6;
}

void copy_text(char *to, std::size_t size, const char *from)
{
    std::snprintf(to, size, "%s", from != nullptr ? from : "");
}

// Moves the minutes on to `minute` (the clock may have been set back: then
// the history starts again) and adds what each port received since the
// last sample to the current minute.
void sample_rates_locked(long long minute)
{
    const long long steps = minute - g_minute;
    for (int port = 1; port <= COM_PORTS; ++port) {
        Reported &r = g_ports[port];
        if (steps < 0 || steps >= MINUTES)
            std::memset(r.perMinute, 0, sizeof r.perMinute);
        else if (steps > 0) {
            std::memmove(r.perMinute, r.perMinute + steps, sizeof(long long) * (MINUTES - steps));
            std::memset(r.perMinute + MINUTES - steps, 0, sizeof(long long) * steps);
        }
        ComStatus s{};
        GetComStatus(port, &s);
        // The engine counts from each open of the port: a smaller figure is a new count.
        r.perMinute[MINUTES - 1] += s.bytes >= r.lastBytes ? s.bytes - r.lastBytes : s.bytes;
        r.lastBytes = s.bytes;
    }
    g_minute = minute;
}

// Bytes a second over each minute; the current one over its part so far.
void rates_locked(const Reported &r, double now, double (&rate)[MINUTES])
{
    const double intoMinute = now - static_cast<double>(g_minute) * 60;
    for (int i = 0; i < MINUTES; ++i)
        rate[i] = static_cast<double>(r.perMinute[i]) / 60;
    rate[MINUTES - 1] = static_cast<double>(r.perMinute[MINUTES - 1]) / (intoMinute >= 1 ? intoMinute : 1);
}

std::string state_of(const ComStatus &s, const Reported &r, int logging, bool running)
{
    if (s.open == 0)
        return "not open";
    if (s.gone != 0)
        return "gone";
    if (running && logging == 0)
        return "paused";
    if (running && r.figures.recorded == 0)
        return "not recorded";
    // As the status box says: silent after 10 s without a byte, whether any came before or not.
    if (s.idle_seconds >= 10)
        return "silent";
    return s.bytes == 0 ? "waiting" : "receiving";
}

void port_facts(int port, const ComStatus &s, const Reported &r, double now, bool running, PortFacts &f)
{
    const FeedCounts feeds = feed_counts(port);
    f.port = port;
    f.device.clear();
    port_map_peek(port, f.device); // "" until the map is read: the facts are then not ready
    f.logged = r.figures.logged;
    f.up = s.open != 0 && s.gone == 0 ? 1 : 0;
    f.state = state_of(s, r, g_logging, running);
    f.status = r.status;
    f.receivedBytes = s.bytes;
    f.lastReceived = s.last_byte_time;
    f.idleSeconds = s.idle_seconds;
    f.file = r.file;
    f.writtenBytes = r.figures.written_bytes;
    f.writeErrors = r.figures.write_errors;
    f.lostBytes = r.figures.lost_bytes;
    f.backlogBytes = s.waiting;
    f.feedClients = feeds.clients;
    f.feedSentBytes = feeds.sentBytes;
    f.droppedBehind = feeds.droppedBehind;
    f.droppedStalled = feeds.droppedStalled;
    f.feedSkippedBytes = feeds.skippedBytes;
    rates_locked(r, now, f.rate);
    f.lineCounted = s.line_counted;
    std::copy(s.line_errors, s.line_errors + COM_LINE_KINDS, f.lineErrors);
}

} // namespace

void snapshot(RunFacts &facts)
{
    std::lock_guard<std::mutex> lock(g_mutex);
    std::string probe;
    facts.ready = port_map_peek(1, probe);
    facts.now = wall_seconds();
    facts.logging = g_logging;
    facts.runStart = g_runStart;
    facts.statusText = g_statusText;
    facts.version = VORNACQ4_VERSION;
    facts.portCount = 0;
    for (int port = 1; port <= COM_PORTS; ++port) {
        ComStatus s{};
        GetComStatus(port, &s);
        if (g_ports[port].figures.logged != 0 || s.open != 0)
            port_facts(port, s, g_ports[port], facts.now, g_runStart > 0, facts.ports[facts.portCount++]);
    }
}

} // namespace monitor

using namespace monitor;

void ReportPortFigures(int port, const PortReport *report)
{
    if (port < 1 || port > COM_PORTS || report == nullptr)
        return;
    std::lock_guard<std::mutex> lock(g_mutex);
    Reported &r = g_ports[port];
    r.figures = *report;
    copy_text(r.file, sizeof r.file, report->file);
    copy_text(r.status, sizeof r.status, report->status);
    r.figures.file = nullptr; // the program's buffers are not ours to keep
    r.figures.status = nullptr;
}

void ReportRunFigures(int running, int logging, const char *status_text)
{
    std::lock_guard<std::mutex> lock(g_mutex);
    g_logging = logging;
    g_runStart = running == 0 ? 0 : g_runStart > 0 ? g_runStart : wall_seconds();
    copy_text(g_statusText, sizeof g_statusText, status_text);
    sample_rates_locked(static_cast<long long>(wall_seconds() / 60));
}
