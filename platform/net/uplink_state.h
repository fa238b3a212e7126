// uplink_state.h - what the uplink's two files share: the state of the one
// uplink (its thread alone writes it, but for the figures, which are atomic)
// and the client's side (uplink_client.cpp) that uplink.cpp drives.
#pragma once

#include "mqtt_link.h"
#include "uplink.h"
#include "uplink_files.h"

#include <atomic>
#include <chrono>
#include <string>

struct mosquitto;

namespace uplink {

// Messages published that the broker has not acknowledged yet: at most this
// many, so at most 2 MiB wait in libmosquitto however long the backlog.
constexpr int kMaxInFlight = 32;

struct InFlight {
    int mid = 0;
    int port = 0;
    std::string file;
    long long end = 0; // the offset after the message's bytes
    bool done = false;
};

struct Uplink {
    mqtt_link::Options options;
    std::string dir;
    std::string startKey;        // where a port without a position begins
    Position sent[kPorts + 1];   // what has been published this connection
    Position acked[kPorts + 1];  // the shore's position (the broker's with ack=off)
    Source sources[kPorts + 1];
    InFlight inFlight[kMaxInFlight];
    int inFlightHead = 0, inFlightCount = 0;
    bool stateDirty = false;
    mosquitto *client = nullptr;
    bool connected = false;      // CONNACK taken, not gone since
    bool lost = false;           // the connection ended; the client is to be dropped
    bool everConnected = false;
    long long firstLookAt = 0;   // when ports without a file were last looked at
    long long goneAt = 0;        // seconds since 1970 when it went (or the first attempt)
    std::atomic<bool> figConnected{false};
    std::atomic<long long> figChangedAt{0};
    std::atomic<long long> figBehind[kPorts + 1] = {};
    std::atomic<long long> figSent[kPorts + 1] = {};
};
extern Uplink g_uplink;

// A new client that has begun to connect (the will set, the callbacks
// bound); false, with one stderr line when `report`, when it cannot begin.
bool client_begin(bool report);
// Ends the client and forgets what was in flight.
void client_drop();
// Publishes the status JSON (retained).
void publish_status(const std::string &json);
// Publishes a run; false when the client takes no more now.
bool publish_run(int port, const Run &run, const unsigned char *bytes);

long long wall_seconds();

} // namespace uplink
