// A disk that refuses a port's files, reported once an episode: a logger
// left alone as a service says in its journal when and how long data were
// lost, without a line at every tick while the disk stays full.
#include "vorn_utl.h"

#include "engine.h"
#include "run_state.h"

#include <cstdio>

// Room for a report: a port, a file "T045/04500065.C03", a reason and figures.
enum { REPORT_LEN = 256, REPORTED_NAME_LEN = 32 };

// Per port and per file (REFUSED_DATA, REFUSED_INDEX): whether an episode
// is on, since when (Timer) and how many bytes it has cost.
static int refusing[2][PORT_SLOTS];
static double refused_since[2][PORT_SLOTS];
static long long refused_bytes[2][PORT_SLOTS];

// The file as the operator finds it from the start-up directory.
static void reported_name(char (&name)[REPORTED_NAME_LEN], int port, int which)
{
    std::snprintf(name, sizeof name, "%c%.3s/%s", which == REFUSED_DATA ? 'D' : 'T', data_dir + 1,
                  file_name[port]);
}

void file_refused(int port, int which, long long lost)
{
    refused_bytes[which][port] += lost;
    if (refusing[which][port] != 0)
        return;
    refusing[which][port] = 1;
    refused_since[which][port] = Timer();
    char name[REPORTED_NAME_LEN], text[REPORT_LEN];
    reported_name(name, port, which);
    Fmt(text, "%s<COM%i: %s refuses writes (%s): %s until it takes them again", port, name,
        RT_FileErrorText(), which == REFUSED_DATA ? "the port's bytes are lost" : "arrival times are lost");
    ReportLine(text);
}

void file_took(int port, int which)
{
    if (refusing[which][port] == 0)
        return;
    const long seconds = static_cast<long>(Timer() - refused_since[which][port] + 0.5);
    char name[REPORTED_NAME_LEN], text[REPORT_LEN];
    reported_name(name, port, which);
    Fmt(text, "%s<COM%i: %s takes writes again after %i s: %s%i bytes lost", port, name, seconds,
        which == REFUSED_DATA ? "" : "the arrival times of ", static_cast<long>(refused_bytes[which][port]));
    ReportLine(text);
    refusing[which][port] = 0;
    refused_bytes[which][port] = 0;
}
