// The status line of the main panel: once a second during a run, one line on
// every logged port, so that a glance at the window tells whether data are
// flowing. The engine counts each port's bytes as they arrive; this only
// reads its figures, whatever the acquisition tick is doing.
#include "vornacq4.h"

#include "engine.h"
#include "run_state.h"
#include "vorncoms.h"

#include <cstring>

// The run's state on a line of its own, then the ports, as many to a line as
// fit in STATUS_LINE_LEN characters (the width of the status text box in its
// fixed-width font), so that no port's words are broken across two lines.
enum { STATUS_TEXT_LEN = 2048, STATUS_LINE_LEN = 150, PIECE_LEN = 160, FIGURE_LEN = 24 };
// A port that has sent nothing for this long is called silent.
enum { SILENT_SECONDS = 10 };
#define PORT_SEPARATOR " | "

static char status_text[STATUS_TEXT_LEN];
static int line_length; // characters on status_text's last line

// "45 s", "12 min", "3 h 12 min", "2 d 3 h".
static void duration_text(char (&text)[FIGURE_LEN], long seconds)
{
    const long minutes = seconds / 60, hours = minutes / 60;
    if (seconds < 120)
        Fmt(text, "%s<%i s", seconds);
    else if (minutes < 120)
        Fmt(text, "%s<%i min", minutes);
    else if (hours < 48)
        Fmt(text, "%s<%i h %i min", hours, minutes % 60);
    else
        Fmt(text, "%s<%i d %i h", hours / 24, hours % 24);
}

// "812 B", "4096 kB", "1234 MB": at most four digits before the unit.
static void size_text(char (&text)[FIGURE_LEN], long long bytes)
{
    static const char *const units[] = {"B", "kB", "MB", "GB", "TB"};
    int unit = 0;
    while (bytes >= 10000 && unit < 4) {
        bytes /= 1000;
        ++unit;
    }
    Fmt(text, "%s<%i %s", static_cast<long>(bytes), units[unit]);
}

// What the port is doing: receiving, silent, without its device, or not open.
static void port_text(char (&piece)[PIECE_LEN], int port, const ComStatus &s)
{
    char size[FIGURE_LEN], time[FIGURE_LEN];
    size_text(size, s.bytes);
    duration_text(time, s.gone != 0 ? s.gone_seconds : s.idle_seconds);
    if (s.open == 0 && s.open_result != 0)
        Fmt(piece, "%s<COM%i: NOT OPEN, %s", port, probe_reason(s.open_result));
    else if (s.open == 0)
        Fmt(piece, "%s<COM%i: not open (no data file)", port);
    else if (s.gone != 0)
        Fmt(piece, "%s<COM%i: DEVICE GONE for %s, %s received", port, time, size);
    else if (s.idle_seconds >= SILENT_SECONDS && s.bytes == 0)
        Fmt(piece, "%s<COM%i: SILENT, nothing received in %s", port, time);
    else if (s.idle_seconds >= SILENT_SECONDS)
        Fmt(piece, "%s<COM%i: SILENT for %s, %s received", port, time, size);
    else if (s.bytes == 0)
        Fmt(piece, "%s<COM%i: nothing received yet", port);
    else
        Fmt(piece, "%s<COM%i: %s, last byte %s ago", port, size, time);
}

// Who else gets its bytes: the clients of its live feeds, and a feed that
// could not be set up (its address refused; stderr said which).
static void feed_text(char (&piece)[PIECE_LEN], const ComStatus &s)
{
    if (s.feed_servers > 0)
        Fmt(piece, "%s<%s, %i %s", piece, s.feed_clients, s.feed_clients == 1 ? "client" : "clients");
    if (s.feeds_down > 0)
        Fmt(piece, "%s<%s, FEED NOT SET UP", piece);
}

// What the logger read of the port and could not keep since it opened it
// (the tick fell behind and the backlogs' budget was spent), and how long a
// port with flow control held its instrument back instead: said for the
// rest of the run, since the files cannot show it.
static void loss_text(char (&piece)[PIECE_LEN], const ComStatus &s)
{
    char figure[FIGURE_LEN];
    if (s.dropped > 0) {
        size_text(figure, s.dropped);
        Fmt(piece, "%s<%s, LOST %s", piece, figure);
    }
    if (s.held_seconds >= 1) {
        duration_text(figure, static_cast<long>(s.held_seconds));
        Fmt(piece, "%s<%s, HELD BACK %s", piece, figure);
    }
}

// The port's figures to whoever watches from elsewhere: what its files took
// and lost, and what the status box says of it ("" when it is not logged).
static void report_port(int port, const char *piece, int recorded)
{
    char file[PATH_LEN] = "";
    if (file_name[port][0] != '\0' && file_handle[port] != NO_HANDLE)
        Fmt(file, "%s<%s/%s", data_dir, file_name[port]);
    PortReport report = {RS232Sel[port] != 0 ? 1 : 0, written_total[port], refusals_total[port],
                         lost_total[port], recorded, file, piece};
    ReportPortFigures(port, &report);
}

static void add_port(int port)
{
    ComStatus s;
    if (GetComStatus(port, &s) != 0)
        return;
    char piece[PIECE_LEN];
    port_text(piece, port, s);
    feed_text(piece, s);
    Fmt(piece, "%s<%s%s", piece, ck_line_errors(port, s));
    loss_text(piece, s);
    // Its bytes are shown but not kept: the operator went on without its
    // file, or the disk refuses it (tried again before each write).
    const int recorded = file_stat[port] != 0 && file_handle[port] != NO_HANDLE;
    if (s.open != 0 && logging_active != 0 && !recorded)
        Fmt(piece, "%s<%s, NOT RECORDED (no data file)", piece);
    report_port(port, piece, recorded);
    const int length = static_cast<int>(std::strlen(piece));
    const int separator = static_cast<int>(sizeof PORT_SEPARATOR - 1);
    if (line_length == 0 || line_length + separator + length > STATUS_LINE_LEN) {
        Fmt(status_text, "%s<%s\n%s", status_text, piece);
        line_length = length;
    } else {
        Fmt(status_text, "%s<%s" PORT_SEPARATOR "%s", status_text, piece);
        line_length += separator + length;
    }
}

// Where the files go beyond the station, when network.map names a broker.
static void add_uplink(void)
{
    UplinkStatus u;
    if (GetUplinkStatus(&u) != 0 || u.configured == 0)
        return;
    char size[FIGURE_LEN], time[FIGURE_LEN];
    size_text(size, u.behind);
    duration_text(time, u.down_seconds);
    if (u.connected != 0)
        Fmt(status_text, "%s<%s uplink connected, %s behind.", status_text, size);
    else
        Fmt(status_text, "%s<%s UPLINK DOWN for %s, %s behind.", status_text, time, size);
}

static int any_port_logged(void)
{
    for (int port = 1; port <= MAX_PORT; ++port)
        if (RS232Sel[port] != 0)
            return 1;
    return 0;
}

int show_status(int, int, int event, void *, int, int)
{
    if (event != EVENT_TIMER_TICK)
        return 0;
    if (!any_port_logged())
        Fmt(status_text, "%s<No port is logged.");
    else if (logging_active == 0)
        Fmt(status_text, "%s<PAUSED: nothing is written to the data files.");
    else
        Fmt(status_text, "%s<Logging.");
    add_uplink();
    line_length = 0;
    for (int port = 1; port <= MAX_PORT; ++port) {
        if (RS232Sel[port] != 0)
            add_port(port);
        else
            report_port(port, "", 0);
    }
    ResetTextBox(panelHandle, status_line, status_text);
    ReportRunFigures(run_going, logging_active, status_text);
    return 0;
}
