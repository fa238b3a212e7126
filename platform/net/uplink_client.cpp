// The uplink's MQTT client: connecting (the will, the subscription to this
// station's acknowledgements and to nothing else), publishing a run with
// the properties that place it, and what the broker and the shore answer.
// Everything here runs on the uplink's thread, inside mosquitto_loop or
// between its calls.
#include "uplink_state.h"

#include <mosquitto.h>
#include <mqtt_protocol.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>

namespace uplink {

Uplink g_uplink;

namespace {

const char kOffline[] = "offline";

std::string where()
{
    const mqtt_link::Options &o = g_uplink.options;
    return (o.host.find(':') != std::string::npos ? "[" + o.host + "]" : o.host) + ":" + std::to_string(o.port);
}

bool before(const Position &a, const Position &b)
{
    const int order = mqtt_link::file_order(a.file, b.file);
    return order < 0 || (order == 0 && a.offset < b.offset);
}

// Every port publishes again from the shore's position.
void rewind(int port)
{
    Uplink &u = g_uplink;
    if (u.acked[port].file.empty())
        return;
    u.sent[port] = u.acked[port];
    u.sent[port].gapsSent = 0;
    u.sources[port].close();
}

void on_connect(mosquitto *client, void *, int rc, int, const mosquitto_property *)
{
    Uplink &u = g_uplink;
    if (rc != 0) {
        u.lost = true;
        return;
    }
    u.connected = true;
    if (u.options.ack) {
        const std::string acks = "vornacq4/" + u.options.station + "/+/ack";
        mosquitto_subscribe_v5(client, nullptr, acks.c_str(), 1, 0, nullptr);
    }
    for (int port = 1; port <= kPorts; ++port)
        rewind(port);
}

void on_disconnect(mosquitto *, void *, int, const mosquitto_property *)
{
    g_uplink.lost = true;
}

// The broker has the message. With ack=off that moves the position, in the
// order the messages went.
void on_publish(mosquitto *, void *, int mid, int, const mosquitto_property *)
{
    Uplink &u = g_uplink;
    for (int i = 0; i < u.inFlightCount; ++i) {
        InFlight &f = u.inFlight[(u.inFlightHead + i) % kMaxInFlight];
        if (f.mid == mid)
            f.done = true;
    }
    while (u.inFlightCount > 0 && u.inFlight[u.inFlightHead].done) {
        const InFlight &f = u.inFlight[u.inFlightHead];
        if (!u.options.ack && f.port != 0) {
            u.acked[f.port] = Position{f.file, f.end, 0, false};
            u.stateDirty = true;
        }
        u.inFlightHead = (u.inFlightHead + 1) % kMaxInFlight;
        --u.inFlightCount;
    }
}

// The shore's position in a port's files: it counts, ahead of what was
// sent or behind it. With "resend" (the shore has just connected, or found a
// hole) every port goes back to the shore's position: a broker that lost its
// sessions dropped what was sent while no shore listened, even of a port
// the shore has never had a byte of and so cannot ask for.
void on_message(mosquitto *, void *, const mosquitto_message *m, const mosquitto_property *)
{
    Uplink &u = g_uplink;
    const std::string topic = m->topic != nullptr ? m->topic : "";
    const std::string prefix = "vornacq4/" + u.options.station + "/";
    if (topic.compare(0, prefix.size(), prefix) != 0 || topic.size() < prefix.size() + 4 ||
        topic.compare(topic.size() - 4, 4, "/ack") != 0)
        return;
    const int port = mqtt_link::topic_port(topic.substr(prefix.size(), topic.size() - prefix.size() - 4));
    std::string file;
    long long offset = 0;
    bool resend = false;
    int filePort = 0;
    if (port == 0 || !mqtt_link::parse_ack(std::string(static_cast<const char *>(m->payload), m->payloadlen), file,
                                           offset, resend) ||
        !mqtt_link::valid_file(file, filePort) || filePort != port)
        return;
    u.acked[port] = Position{file, offset, 0, false};
    u.stateDirty = true;
    if (resend) // the shore is back or missed a message: what it has not confirmed of any port may be lost
        for (int p = 1; p <= kPorts; ++p) {
            if (p == port || before(u.acked[p], u.sent[p]))
                rewind(p);
        }
    else if (before(u.sent[port], u.acked[port]))
        rewind(port);
}

} // namespace

long long wall_seconds()
{
    return static_cast<long long>(std::time(nullptr));
}

bool client_begin(bool report)
{
    Uplink &u = g_uplink;
    std::string why;
    u.client = mosquitto_new(nullptr, true, nullptr);
    bool ok = u.client != nullptr && mqtt_link::apply(u.client, u.options, why);
    if (ok) {
        const std::string status = mqtt_link::status_topic(u.options.station);
        mosquitto_will_set_v5(u.client, status.c_str(), sizeof kOffline - 1, kOffline, 1, true, nullptr);
        mosquitto_connect_v5_callback_set(u.client, on_connect);
        mosquitto_disconnect_v5_callback_set(u.client, on_disconnect);
        mosquitto_publish_v5_callback_set(u.client, on_publish);
        mosquitto_message_v5_callback_set(u.client, on_message);
        const int rc = mosquitto_connect_bind_async(u.client, u.options.host.c_str(), u.options.port,
                                                    u.options.keepalive, nullptr);
        ok = rc == MOSQ_ERR_SUCCESS || (rc == MOSQ_ERR_ERRNO && errno == EINPROGRESS);
        if (!ok)
            why = rc == MOSQ_ERR_ERRNO ? std::strerror(errno) : mosquitto_strerror(rc);
    }
    if (!ok && report)
        std::fprintf(stderr, "vornacq4: uplink: cannot reach the broker %s (%s); trying again, every 60 s at most\n",
                     where().c_str(), why.empty() ? "no client" : why.c_str());
    if (!ok)
        client_drop();
    return ok;
}

void client_drop()
{
    Uplink &u = g_uplink;
    if (u.client != nullptr) {
        mosquitto_disconnect_v5(u.client, 0, nullptr);
        mosquitto_destroy(u.client);
    }
    u.client = nullptr;
    u.connected = false;
    u.lost = false;
    u.inFlightHead = u.inFlightCount = 0;
}

void publish_status(const std::string &json)
{
    Uplink &u = g_uplink;
    const std::string topic = mqtt_link::status_topic(u.options.station);
    mosquitto_publish_v5(u.client, nullptr, topic.c_str(), static_cast<int>(json.size()), json.data(), 1, true, nullptr);
}

bool publish_run(int port, const Run &run, const unsigned char *bytes)
{
    Uplink &u = g_uplink;
    if (u.inFlightCount >= kMaxInFlight)
        return false;
    mosquitto_property *props = nullptr;
    mosquitto_property_add_string_pair(&props, MQTT_PROP_USER_PROPERTY, "file", run.file.c_str());
    mosquitto_property_add_string_pair(&props, MQTT_PROP_USER_PROPERTY, "offset", std::to_string(run.offset).c_str());
    if (run.dated) {
        mosquitto_property_add_string_pair(&props, MQTT_PROP_USER_PROPERTY, "arrived",
                                           mqtt_link::format_time(run.first).c_str());
        mosquitto_property_add_string_pair(&props, MQTT_PROP_USER_PROPERTY, "last",
                                           mqtt_link::format_time(run.last).c_str());
    }
    if (!run.previous.empty())
        mosquitto_property_add_string_pair(&props, MQTT_PROP_USER_PROPERTY, "previous", run.previous.c_str());
    if (run.gap)
        mosquitto_property_add_string_pair(&props, MQTT_PROP_USER_PROPERTY, "gap", std::to_string(run.missing).c_str());
    const std::string topic = mqtt_link::data_topic(u.options.station, port);
    int mid = 0;
    const int rc = mosquitto_publish_v5(u.client, &mid, topic.c_str(), static_cast<int>(run.count), bytes, 1, false, props);
    mosquitto_property_free_all(&props);
    if (rc != MOSQ_ERR_SUCCESS)
        return false;
    InFlight &f = u.inFlight[(u.inFlightHead + u.inFlightCount++) % kMaxInFlight];
    f = InFlight{mid, port, run.file, run.offset + run.count, false};
    return true;
}

} // namespace uplink
