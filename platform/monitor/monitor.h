// monitor.h - the logger seen from elsewhere: an HTTP endpoint, when
// network.map has an `http [ADDRESS:]PORT` line, serving
//   /metrics       the Prometheus text format 0.0.4
//   /status.json   the same facts per port, and the status box's text
//   /              a page that shows them and refreshes itself
// from a thread of libmicrohttpd's own, out of what the engine counts (ports,
// feeds) and what the program reports (engine.h: ReportPortFigures).
#pragma once

#include "engine.h"
#include "net/network_map.h"

#include <string>
#include <vector>

namespace monitor {

// One facts snapshot of a port, as /metrics and /status.json show it.
struct PortFacts {
    int port = 0;
    std::string device;       // the path comports.map gives, "" for none
    int logged = 0, up = 0;
    std::string state;        // "receiving", "silent", "gone", "not open", "not recorded", "paused", "waiting"
    std::string status;       // its piece of the status box
    long long receivedBytes = 0;
    double lastReceived = 0;  // seconds since 1970, 0 when nothing came
    long idleSeconds = 0;
    std::string file;
    long long writtenBytes = 0, writeErrors = 0, lostBytes = 0;
    long long backlogBytes = 0;
    int feedClients = 0;
    long long feedSentBytes = 0, droppedBehind = 0, droppedStalled = 0;
    long long feedSkippedBytes = 0; // UDP feeds' bytes skipped for falling behind
    double rate[60] = {};     // bytes a second, a minute each, oldest first; the last is this minute
    int lineCounted = 0;      // 1 when the device's driver counts the line's errors
    long long lineErrors[COM_LINE_KINDS] = {}; // by ComLineError kind
};

struct RunFacts {
    bool ready = false;       // the port map has been read: the facts are whole
    double now = 0;           // seconds since 1970
    int logging = 0;
    double runStart = 0;
    std::string statusText;
    std::string version;
    int portCount = 0;
    PortFacts ports[18];      // the logged ports, and any other that is open
};

// Everything now. Reads no file: until the port map has been read, ready
// is false and the devices are "".
void snapshot(RunFacts &facts);

// The texts served.
std::string metrics_text(const RunFacts &facts);
std::string status_json(const RunFacts &facts);
extern const char kStatusPage[];

// Starts serving on the address of network.map's http line, if it has one,
// reporting on stderr, with its line of mapPath, when it cannot. Only the
// first call does anything. /metrics and /status.json answer 503 until the
// port map has been read (the engine reads it before it calls this).
void http_start(const std::vector<net::FeedEntry> &network, const std::string &mapPath);

// Stops serving: the endpoint's thread has ended when this returns. Called
// once, at the end of the program (StopEngine); later calls do nothing.
void http_stop();

} // namespace monitor
