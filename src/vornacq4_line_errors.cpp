// The line's own errors, reported once an episode: a UART or a USB adapter
// that counts overruns, framing and parity errors or breaks has lost or
// garbled bytes before the logger saw them (a wrong rate, a bad cable, a
// driver read too late). A logger left alone says so in its journal when it
// begins and when it has stopped, not at every error, and its status box
// says so while it lasts.
#include "vornacq4.h"

#include "engine.h"
#include "run_state.h"

// An episode ends when no error has come for this long: an intermittent
// fault (a loose connector) then makes a pair of lines a minute at most.
enum { LINE_QUIET_SECONDS = 60 };
// Room for the kinds and their counts, and for a report of them.
enum { KINDS_TEXT_LEN = 128, REPORT_LEN = 224 };

// Per port: the counts at the latest look and when the episode began,
// when its latest error came (Timer; 0: no episode) and where it began.
static long long line_seen[PORT_SLOTS][COM_LINE_KINDS];
static long long line_begun[PORT_SLOTS][COM_LINE_KINDS];
static double line_began_at[PORT_SLOTS];
static double line_last_at[PORT_SLOTS];

// The operator's word for each ComLineError kind.
static const char *const line_words[COM_LINE_KINDS] = {"overrun", "buffer overrun", "framing", "parity", "break"};

// "120 framing, 3 parity": the kinds of counts less base that are not 0.
static void kinds_text(char (&text)[KINDS_TEXT_LEN], const long long *counts, const long long *base)
{
    Fmt(text, "%s<");
    for (int k = 0; k < COM_LINE_KINDS; ++k) {
        const long long n = counts[k] - (base != nullptr ? base[k] : 0);
        if (n > 0)
            Fmt(text, "%s<%s%s%i %s", text, text[0] != '\0' ? ", " : "", static_cast<long>(n), line_words[k]);
    }
}

// Whether the driver counted errors since the last look; the look is noted.
// A smaller count than before is a count begun afresh (the port opened).
static int line_errors_grew(int port, const ComStatus &s)
{
    int grew = 0;
    for (int k = 0; k < COM_LINE_KINDS; ++k) {
        if (s.line_errors[k] > line_seen[port][k])
            grew = 1;
        else if (s.line_errors[k] < line_seen[port][k])
            line_begun[port][k] = 0;
        line_seen[port][k] = s.line_errors[k];
    }
    return grew;
}

static void begin_episode(int port, const ComStatus &s, double now)
{
    char kinds[KINDS_TEXT_LEN], text[REPORT_LEN];
    kinds_text(kinds, s.line_errors, line_begun[port]);
    Fmt(text, "%s<COM%i: line errors: %s: bytes were lost or garbled on the line before the logger had them", port,
        kinds);
    ReportLine(text);
    line_began_at[port] = now;
}

static void end_episode(int port)
{
    char kinds[KINDS_TEXT_LEN], text[REPORT_LEN];
    kinds_text(kinds, line_seen[port], line_begun[port]);
    const long seconds = static_cast<long>(line_last_at[port] - line_began_at[port] + 0.5);
    Fmt(text, "%s<COM%i: line errors have stopped: %s in %i s", port, kinds, seconds);
    ReportLine(text);
    line_last_at[port] = 0;
}

const char *ck_line_errors(int port, const ComStatus &s)
{
    static char text[KINDS_TEXT_LEN + 16];
    const double now = Timer();
    if (line_last_at[port] == 0)
        for (int k = 0; k < COM_LINE_KINDS; ++k)
            line_begun[port][k] = line_seen[port][k];
    if (line_errors_grew(port, s)) {
        if (line_last_at[port] == 0)
            begin_episode(port, s, now);
        line_last_at[port] = now;
    } else if (line_last_at[port] != 0 && now - line_last_at[port] >= LINE_QUIET_SECONDS) {
        end_episode(port);
    }
    char kinds[KINDS_TEXT_LEN];
    kinds_text(kinds, s.line_errors, nullptr);
    Fmt(text, "%s<%s%s", line_last_at[port] != 0 ? ", LINE ERRORS: " : "", line_last_at[port] != 0 ? kinds : "");
    return text;
}
