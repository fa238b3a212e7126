// What the ports could not keep: the backlogs' shared budget, the bytes
// dropped once it is spent, the time a port with flow control was held back,
// and the lines on stderr that say so once an episode.
//
// The lines come from the engine's reopen thread, once a second, rather than
// from the program: when bytes are lost it is because the user-interface
// thread is held up (a popup nobody answers, a disk that hangs), which is
// exactly when the program could say nothing.
#include "serial_port.h"

#include "base/clock.h"

#include <cstdio>

namespace serial {

namespace {

// An episode ends when none of it has been seen for this long, so that a
// tick that frees some room now and then makes one pair of lines, not many.
constexpr double kQuietSeconds = 10;
// One report line and its zero.
enum { LINE_LEN = 224 };

long long budget_mib()
{
    return g_budget.limit >> 20;
}

// Where an episode stands now: 1 as it begins (said once), 2 as it ends
// (once `quiet`), 0 when there is nothing to say.
int episode_step(Episode &e, bool quiet)
{
    if (e.on && !e.said) {
        e.said = true;
        return 1;
    }
    if (e.on && quiet) {
        e.on = false;
        return 2;
    }
    return 0;
}

// The lines an episode of port i makes now, if any, into line ("" none).
void drop_line(int i, Port &p, double now, char (&line)[LINE_LEN])
{
    Episode &e = p.dropping;
    const int step = episode_step(e, now - e.latest >= kQuietSeconds);
    if (step == 1)
        std::snprintf(line, sizeof line,
                      "%s: losing bytes: the logger is behind and the backlog budget (%lld MiB) is spent; "
                      "what cannot be kept is counted and marked in the index",
                      port_name(i), budget_mib());
    else if (step == 2)
        std::snprintf(line, sizeof line, "%s: bytes kept again: %lld bytes lost in %.0f s", port_name(i),
                      p.dropped - e.base, e.latest - e.began);
}

void held_line(int i, Port &p, double now, char (&line)[LINE_LEN])
{
    Episode &e = p.held;
    const int step = episode_step(e, p.holdSince == 0 && now - e.latest >= kQuietSeconds);
    if (step == 1)
        std::snprintf(line, sizeof line,
                      "%s: holding the instrument back (flow control): the logger is behind and the backlog "
                      "budget (%lld MiB) is spent",
                      port_name(i), budget_mib());
    else if (step == 2)
        std::snprintf(line, sizeof line, "%s: reading again after holding the instrument back for %.0f s",
                      port_name(i), e.latest - e.began);
}

} // namespace

void note_dropped_locked(Port &p, long n, long long at)
{
    const double now = monotonic_seconds();
    if (!p.dropping.on)
        p.dropping = Episode{true, false, now, now, p.dropped};
    p.dropped += n;
    p.dropping.latest = now;
    p.marks.add_gap(static_cast<int>(n), at);
}

void note_held_locked(Port &p, bool held)
{
    if (held == (p.holdSince != 0))
        return;
    const double now = monotonic_seconds();
    if (held) {
        p.holdSince = now;
        if (!p.held.on)
            p.held = Episode{true, false, now, now, 0};
        return;
    }
    p.heldTotal += now - p.holdSince;
    p.holdSince = 0;
    p.held.latest = now;
}

void report_losses()
{
    char lines[2 * COM_PORTS][LINE_LEN];
    int count = 0;
    {
        std::lock_guard<std::mutex> lock(g_mutex);
        const double now = monotonic_seconds();
        for (int i = 1; i <= COM_PORTS; ++i) {
            lines[count][0] = lines[count + 1][0] = '\0';
            drop_line(i, g_ports[i], now, lines[count]);
            held_line(i, g_ports[i], now, lines[count + 1]);
            count += 2;
        }
    }
    for (int k = 0; k < count; ++k)
        if (lines[k][0] != '\0')
            ReportLine(lines[k]);
}

} // namespace serial

using namespace serial;

void SetComBacklogBudget(long long bytes)
{
    const long long limit = bytes < COM_BACKLOG_BUDGET_MIN   ? COM_BACKLOG_BUDGET_MIN
                            : bytes > COM_BACKLOG_BUDGET_MAX ? COM_BACKLOG_BUDGET_MAX
                                                             : bytes;
    {
        std::lock_guard<std::mutex> lock(g_mutex);
        g_budget.limit = limit;
    }
    serialdev::wake(); // a port held back may have room now
}

long long GetComBacklogBudget(void)
{
    std::lock_guard<std::mutex> lock(g_mutex);
    return g_budget.limit;
}
