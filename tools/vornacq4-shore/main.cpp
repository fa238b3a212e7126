// vornacq4-shore: every station's files rebuilt on shore from what its
// logger publishes to an MQTT broker (the logger's network.map: mqtt ...).
//
//   vornacq4-shore HOST[:PORT] DIR [id=CLIENT] [ca=FILE] [user=NAME password-file=FILE] [keepalive=S]
//
// It subscribes to vornacq4/+/+ in a persistent session of its own, writes
// each run of bytes at its offset in DIR/NAME/Dddd/name with its arrival
// times in the index beside it, syncs, and then tells the station how far
// its copy goes (vornacq4/NAME/COMn/ack), which is where the station sends
// from after any outage. Ends on SIGINT or SIGTERM, with everything synced.
#include "mqtt_link.h"
#include "store.h"

#include <mosquitto.h>
#include <mqtt_protocol.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

constexpr int kSessionExpirySeconds = 7 * 24 * 3600; // how long the broker keeps what comes while the shore is away
constexpr int kLoopMs = 200;
constexpr int kBackoffMost = 60;

volatile std::sig_atomic_t g_stop = 0;

struct Shore {
    mqtt_link::Options options;
    shore::Store *store = nullptr;
    mosquitto *client = nullptr;
    bool connected = false;
    bool failed = false; // a disk error: reported, and the run ends
};
Shore g_shore;

void publish_acks(const std::vector<shore::Ack> &acks)
{
    for (const shore::Ack &a : acks) {
        const std::string topic = mqtt_link::ack_topic(a.station, a.port);
        mosquitto_publish_v5(g_shore.client, nullptr, topic.c_str(), static_cast<int>(a.text.size()), a.text.data(), 1,
                             true, nullptr);
    }
}

void on_connect(mosquitto *client, void *, int rc, int, const mosquitto_property *)
{
    if (rc != 0) {
        std::fprintf(stderr, "vornacq4-shore: the broker refused: %s\n", mosquitto_reason_string(rc));
        return;
    }
    g_shore.connected = true;
    std::fprintf(stderr, "vornacq4-shore: connected to %s:%d\n", g_shore.options.host.c_str(), g_shore.options.port);
    mosquitto_subscribe_v5(client, nullptr, "vornacq4/+/+", 1, 0, nullptr);
    std::vector<shore::Ack> acks;
    g_shore.store->resend_all(acks);
    publish_acks(acks);
}

void on_disconnect(mosquitto *, void *, int, const mosquitto_property *)
{
    if (g_shore.connected)
        std::fprintf(stderr, "vornacq4-shore: the broker is gone; connecting again\n");
    g_shore.connected = false;
}

// A message's placing: its station and port from the topic, the rest from
// its properties. False for what is not a station's message.
bool read_message(const mosquitto_message *m, const mosquitto_property *props, shore::Message &out, bool &status)
{
    const std::string topic = m->topic;
    const std::size_t a = topic.find('/'), b = topic.find('/', a + 1);
    if (a == std::string::npos || b == std::string::npos || topic.compare(0, a, "vornacq4") != 0)
        return false;
    out.station = topic.substr(a + 1, b - a - 1);
    const std::string last = topic.substr(b + 1);
    status = last == "status";
    if (!mqtt_link::valid_station(out.station))
        return false;
    if (status)
        return true;
    std::string offset, arrived, until, gap;
    int filePort = 0;
    out.port = mqtt_link::topic_port(last);
    if (out.port == 0 || !mqtt_link::user_property(props, "file", out.file) ||
        !mqtt_link::valid_file(out.file, filePort) || filePort != out.port ||
        !mqtt_link::user_property(props, "offset", offset) || offset.empty() ||
        offset.find_first_not_of("0123456789") != std::string::npos || offset.size() > 15)
        return false;
    out.offset = std::atoll(offset.c_str());
    mqtt_link::user_property(props, "previous", out.previous);
    out.dated = mqtt_link::user_property(props, "arrived", arrived) && mqtt_link::user_property(props, "last", until) &&
                mqtt_link::parse_time(arrived, out.first) && mqtt_link::parse_time(until, out.last) &&
                out.last >= out.first;
    out.gap = mqtt_link::user_property(props, "gap", gap);
    out.missing = out.gap ? std::atoll(gap.c_str()) : 0;
    out.bytes = static_cast<const unsigned char *>(m->payload);
    out.count = m->payloadlen;
    return !out.gap || (out.missing > 0 && out.count == 0);
}

void on_message(mosquitto *, void *, const mosquitto_message *m, const mosquitto_property *props)
{
    shore::Message message;
    bool status = false;
    if (!read_message(m, props, message, status))
        return;
    std::string why;
    if (status)
        g_shore.store->status(message.station, std::string(static_cast<const char *>(m->payload), m->payloadlen));
    else if (!g_shore.store->apply(message, why) && !g_shore.failed) {
        std::fprintf(stderr, "vornacq4-shore: %s; stopping\n", why.c_str());
        g_shore.failed = true;
    }
}

void on_signal(int)
{
    g_stop = 1;
}

// Connects, trying again 1 s doubling to 60 s after each failure.
bool connect_with_backoff(mosquitto_property *props)
{
    for (int wait = 1; !g_stop; wait = wait * 2 > kBackoffMost ? kBackoffMost : wait * 2) {
        const int rc = mosquitto_connect_bind_v5(g_shore.client, g_shore.options.host.c_str(), g_shore.options.port,
                                                 g_shore.options.keepalive, nullptr, props);
        if (rc == MOSQ_ERR_SUCCESS)
            return true;
        for (int i = 0; i < wait * 10 && !g_stop; ++i)
            ::usleep(100 * 1000);
    }
    return false;
}

int usage()
{
    std::fprintf(stderr, "usage: vornacq4-shore HOST[:PORT] DIR [id=CLIENT] [ca=FILE] [user=NAME password-file=FILE] "
                         "[keepalive=S]\n");
    return 2;
}

} // namespace

int main(int argc, char *argv[])
{
    // The broker and the options, the directory the copies go in.
    if (argc < 3)
        return usage();
    std::vector<std::string> words{argv[1]};
    for (int i = 3; i < argc; ++i)
        words.push_back(argv[i]);
    std::string why;
    if (!mqtt_link::parse(words, g_shore.options, why, false)) {
        std::fprintf(stderr, "vornacq4-shore: %s\n", why.c_str());
        return usage();
    }
    char host[256] = "shore";
    gethostname(host, sizeof host - 1);
    const std::string id = g_shore.options.clientId.empty() ? std::string("vornacq4-shore-") + host : g_shore.options.clientId;

    // The copies as the last run left them, cut back to what was synced.
    shore::Store store(argv[2]);
    store.restore();
    g_shore.store = &store;

    // A persistent session: what comes while the shore is away waits at the broker.
    std::signal(SIGINT, on_signal);
    std::signal(SIGTERM, on_signal);
    mosquitto_lib_init();
    g_shore.client = mosquitto_new(id.c_str(), false, nullptr);
    if (g_shore.client == nullptr || !mqtt_link::apply(g_shore.client, g_shore.options, why)) {
        std::fprintf(stderr, "vornacq4-shore: %s\n", why.empty() ? "no MQTT client" : why.c_str());
        return 1;
    }
    mosquitto_connect_v5_callback_set(g_shore.client, on_connect);
    mosquitto_disconnect_v5_callback_set(g_shore.client, on_disconnect);
    mosquitto_message_v5_callback_set(g_shore.client, on_message);
    mosquitto_property *props = nullptr;
    mosquitto_property_add_int32(&props, MQTT_PROP_SESSION_EXPIRY_INTERVAL, kSessionExpirySeconds);

    // Take messages, sync, tell the stations; connect again whenever the broker goes.
    bool up = connect_with_backoff(props);
    while (up && !g_stop && !g_shore.failed) {
        if (mosquitto_loop(g_shore.client, kLoopMs, 1) != MOSQ_ERR_SUCCESS) {
            g_shore.connected = false;
            up = connect_with_backoff(props);
            continue;
        }
        std::vector<shore::Ack> acks;
        if (!store.sync(acks, why)) {
            std::fprintf(stderr, "vornacq4-shore: %s; stopping\n", why.c_str());
            g_shore.failed = true;
        }
        publish_acks(acks);
    }
    mosquitto_property_free_all(&props);
    mosquitto_disconnect_v5(g_shore.client, 0, nullptr);
    mosquitto_destroy(g_shore.client);
    mosquitto_lib_cleanup();
    return g_shore.failed ? 1 : 0;
}
