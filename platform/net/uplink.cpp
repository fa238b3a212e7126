// The uplink's thread: connect and reconnect with a backoff, publish every
// port's runs from its position (oldest first, within the rate), keep the
// shore's positions in uplink.state, and say once when the broker goes and
// once when it is back.
#include "uplink.h"

#include "base/engine_threads.h"
#include "engine.h"

#include "monitor/monitor.h"
#include "network_map.h"
#include "uplink_state.h"
#include "uplink_watch.h"

#include <mosquitto.h>
#include <poll.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <sstream>
#include <thread>

namespace uplink {

namespace {

constexpr int kLoopMs = 20;              // the longest the client's socket waits for a turn
constexpr long long kBackoffFirst = 1;   // seconds before the first retry, doubled each time
constexpr long long kBackoffMost = 60;
constexpr long long kStatusEvery = 60;   // the status is published at least this often
constexpr long long kStateEvery = 2;     // seconds between writes of uplink.state
constexpr long long kBehindEvery = 5;    // how often the bytes behind are counted (a listing of the files)

std::thread g_thread;
std::once_flag g_started;
std::mutex g_stopMutex;
std::condition_variable g_stopped;
bool g_stop = false;

unsigned char g_buffer[kMaxRun];
Watch g_watch;
bool g_pending[kPorts + 1]; // the port's files may hold more to send: written since, or not all sent

// Waits up to ms; true when the uplink is to stop. At 0 it only looks.
bool stop_within(int ms)
{
    std::unique_lock<std::mutex> lock(g_stopMutex);
    if (ms == 0)
        return g_stop;
    return g_stopped.wait_for(lock, std::chrono::milliseconds(ms), [] { return g_stop; });
}

void all_pending()
{
    for (bool &p : g_pending)
        p = true;
}

long long behind_total()
{
    long long total = 0;
    for (int port = 1; port <= kPorts; ++port)
        total += g_uplink.figBehind[port].load();
    return total;
}

void count_behind()
{
    Uplink &u = g_uplink;
    for (int port = 1; port <= kPorts; ++port) {
        const Position &at = u.acked[port].file.empty() ? Position{u.startKey, 0, 0, false} : u.acked[port];
        u.figBehind[port] = bytes_behind(u.dir, port, at);
    }
}

// A port without a position begins with the first file of this run.
void find_first_files()
{
    Uplink &u = g_uplink;
    for (int port = 1; port <= kPorts; ++port)
        if (u.sent[port].file.empty()) {
            u.sent[port] = Position{next_file(u.dir, port, u.startKey), 0, 0, false};
            if (u.acked[port].file.empty())
                u.acked[port] = u.sent[port];
        }
}

// Publishes what the files hold past each pending port's position, a run a
// port in turn, while the broker takes more and the rate allows. A port
// whose files give nothing more waits for the next notice of a write.
void pump(double &allowance)
{
    Uplink &u = g_uplink;
    for (bool progress = true; progress && u.inFlightCount < kMaxInFlight;) {
        progress = false;
        for (int port = 1; port <= kPorts && u.inFlightCount < kMaxInFlight; ++port) {
            if (!g_pending[port])
                continue;
            if (u.options.rate > 0 && allowance < 1)
                return;
            // Within the rate a run is cut to what this second still allows.
            const long long most = u.options.rate > 0 ? std::min(kMaxRun, static_cast<long long>(allowance)) : kMaxRun;
            Run run;
            if (!u.sources[port].next(u.dir, port, u.sent[port], run, g_buffer, most)) {
                g_pending[port] = false;
                continue;
            }
            if (!publish_run(port, run, g_buffer))
                continue;
            u.sources[port].advance(u.sent[port], run);
            allowance -= static_cast<double>(run.count);
            u.figSent[port] += run.count;
            progress = true;
        }
    }
}

// The status JSON when it is due: once a minute and when a port's state changed.
void status_when_due(long long now, long long &lastAt, std::string &lastStates, bool force)
{
    monitor::RunFacts facts;
    monitor::snapshot(facts);
    std::string states;
    for (int i = 0; i < facts.portCount; ++i)
        states += facts.ports[i].state + ",";
    if (!force && states == lastStates && now - lastAt < kStatusEvery)
        return;
    publish_status(monitor::status_json(facts));
    lastStates = states;
    lastAt = now;
}

void report_connected(long long now)
{
    Uplink &u = g_uplink;
    count_behind();
    if (u.everConnected)
        std::fprintf(stderr, "vornacq4: uplink: the broker %s:%d is back after %lld s; %lld bytes were waiting\n",
                     u.options.host.c_str(), u.options.port, now - u.goneAt, behind_total());
    else
        std::fprintf(stderr, "vornacq4: uplink: connected to %s:%d as station %s\n", u.options.host.c_str(),
                     u.options.port, u.options.station.c_str());
    u.everConnected = true;
    u.figConnected = true;
    u.figChangedAt = now;
}

void report_gone(long long now)
{
    Uplink &u = g_uplink;
    std::fprintf(stderr, "vornacq4: uplink: the broker %s:%d is gone; publishing goes on from the shore's "
                         "position when it is back\n", u.options.host.c_str(), u.options.port);
    u.goneAt = now;
    u.figConnected = false;
    u.figChangedAt = now;
}

// One turn of the client: waits, kLoopMs at most, for its socket or for a
// notice that the logger wrote, then reads, writes and keeps the link alive.
int client_turn()
{
    mosquitto *client = g_uplink.client;
    const int sock = mosquitto_socket(client);
    if (sock < 0)
        return mosquitto_loop(client, kLoopMs, 1);
    pollfd fds[2] = {{sock, static_cast<short>(POLLIN | (mosquitto_want_write(client) ? POLLOUT : 0)), 0},
                     {g_watch.fd(), POLLIN, 0}};
    const int ready = ::poll(fds, g_watch.fd() >= 0 ? 2 : 1, kLoopMs);
    int rc = MOSQ_ERR_SUCCESS;
    if (ready > 0 && (fds[0].revents & (POLLIN | POLLHUP | POLLERR)) != 0)
        rc = mosquitto_loop_read(client, 1);
    if (rc == MOSQ_ERR_SUCCESS && mosquitto_want_write(client))
        rc = mosquitto_loop_write(client, 1);
    return rc == MOSQ_ERR_SUCCESS ? mosquitto_loop_misc(client) : rc;
}

// One turn of the connected client; false when the connection is over.
bool serve(long long now, long long connackBy, double &allowance, long long &statusAt, std::string &states)
{
    Uplink &u = g_uplink;
    const bool wasConnected = u.connected;
    const int rc = client_turn();
    g_watch.take(g_pending);
    if (rc != MOSQ_ERR_SUCCESS || u.lost || (!u.connected && now > connackBy))
        return false;
    if (u.connected && !wasConnected) {
        allowance = 0; // from each connection on, no second sends more than the rate
        all_pending();
        report_connected(now);
        status_when_due(now, statusAt, states, true);
    }
    if (u.connected) {
        if (now != u.firstLookAt) { // once a second: ports whose logging began, every port's files, the status
            find_first_files();
            all_pending();
            status_when_due(now, statusAt, states, false);
            u.firstLookAt = now;
        }
        pump(allowance);
        if (mosquitto_want_write(u.client)) // what was published goes now, not at the next turn
            mosquitto_loop_write(u.client, 1);
    }
    return true;
}

// Every few seconds: the positions to uplink.state (a position a little
// old costs only bytes sent twice after a kill, which the shore ignores),
// and the bytes behind.
void housekeeping(long long now, long long &stateAt, long long &behindAt)
{
    Uplink &u = g_uplink;
    if (u.stateDirty && now - stateAt >= kStateEvery && write_state(u.dir, u.acked)) {
        u.stateDirty = false;
        stateAt = now;
    }
    if (now - behindAt >= kBehindEvery) {
        count_behind();
        behindAt = now;
    }
}

void uplink_loop()
{
    Uplink &u = g_uplink;
    long long backoff = kBackoffFirst, retryAt = 0, connackBy = 0, statusAt = 0, behindAt = 0, stateAt = 0, tickAt = 0;
    std::string states;
    double allowance = 0;
    u.goneAt = wall_seconds();
    g_watch.begin(u.dir);
    while (!stop_within(u.client == nullptr ? 100 : 0)) {
        const long long now = wall_seconds();
        if (u.options.rate > 0 && now != tickAt) // a second's allowance, at most one second's worth saved
            allowance = std::min(allowance + static_cast<double>(u.options.rate), static_cast<double>(u.options.rate));
        tickAt = now;
        if (u.client == nullptr && now >= retryAt) {
            connackBy = now + u.options.keepalive;
            if (!client_begin(!u.everConnected && backoff == kBackoffFirst))
                retryAt = now + backoff, backoff = std::min(backoff * 2, kBackoffMost);
        } else if (u.client != nullptr && !serve(now, connackBy, allowance, statusAt, states)) {
            if (u.figConnected)
                report_gone(now);
            const bool hadSession = u.connected;
            client_drop();
            backoff = hadSession ? kBackoffFirst : backoff;
            retryAt = now + backoff;
            backoff = std::min(backoff * 2, kBackoffMost);
        }
        housekeeping(now, stateAt, behindAt);
    }
    if (u.client != nullptr && u.connected) {
        publish_status("offline");
        for (int i = 0; i < 10 && mosquitto_want_write(u.client); ++i) // half a second at most to say so
            mosquitto_loop(u.client, 50, 1);
    }
    client_drop();
    if (u.stateDirty)
        write_state(u.dir, u.acked);
}

// The words after "mqtt" on the map's line.
std::vector<std::string> words_of(const std::string &text)
{
    std::istringstream in(text);
    std::vector<std::string> words;
    std::string word;
    in >> word; // "mqtt"
    while (in >> word)
        words.push_back(word);
    return words;
}

} // namespace

} // namespace uplink

void uplink_start(const std::vector<net::FeedEntry> &entries, const std::string &dir)
{
    using namespace uplink;
    std::call_once(g_started, [&] {
        for (const net::FeedEntry &e : entries) {
            std::string why;
            if (e.kind != net::FeedKind::Mqtt || !mqtt_link::parse(words_of(e.text), g_uplink.options, why, true))
                continue;
            mosquitto_lib_init();
            g_uplink.dir = dir;
            g_uplink.startKey = start_key(static_cast<long long>(wall_seconds()) * 1000000);
            read_state(dir, g_uplink.sent);
            for (int port = 1; port <= kPorts; ++port)
                g_uplink.acked[port] = g_uplink.sent[port];
            g_thread = std::thread(uplink_loop);
            engine_thread_started(); // StopEngine ends it, after the HTTP endpoint
            return;
        }
    });
}

void uplink_stop()
{
    using namespace uplink;
    if (!g_thread.joinable())
        return;
    {
        std::lock_guard<std::mutex> lock(g_stopMutex);
        g_stop = true;
    }
    g_stopped.notify_all();
    g_thread.join();
}

int GetUplinkStatus(UplinkStatus *status)
{
    const UplinkFigures f = uplink_figures();
    *status = UplinkStatus{f.configured ? 1 : 0, f.connected ? 1 : 0, 0, 0};
    for (long long behind : f.behind)
        status->behind += behind;
    const long long since = f.changedAt != 0 ? f.changedAt : uplink::g_uplink.goneAt;
    status->down_seconds = f.connected || since == 0 ? 0 : static_cast<long>(uplink::wall_seconds() - since);
    return 0;
}

UplinkFigures uplink_figures()
{
    using namespace uplink;
    UplinkFigures f;
    f.configured = g_thread.joinable();
    f.connected = g_uplink.figConnected;
    f.changedAt = g_uplink.figChangedAt;
    for (int port = 1; port <= kPorts; ++port) {
        f.behind[port] = g_uplink.figBehind[port];
        f.sent[port] = g_uplink.figSent[port];
    }
    return f;
}
