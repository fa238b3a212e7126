// uplink.h - every logged port's bytes to an MQTT broker, from the data
// files and their indexes, resumed from the shore's last position after any
// outage (network.map: `mqtt HOST[:PORT] station=NAME [ack=off] [ca=FILE]
// [user=NAME password-file=FILE] [rate=BYTES_PER_S] [keepalive=S]`).
//
// One thread of its own reads what to send from the files, never from the
// serial side, so memory stays fixed however long the backlog and nothing
// on the way from a device to its file waits on the broker. The position
// that counts is the shore's (vornacq4-shore acknowledges what it has
// written and synced); it is kept per port in uplink.state in the start-up
// directory. With ack=off the broker's acknowledgement moves it instead.
#pragma once

#include <string>
#include <vector>

namespace net {
struct FeedEntry; // network_map.h
}

// Starts the uplink when network.map has an mqtt line (its words were
// checked as the map was read); nothing happens without one. `dir` is the
// start-up directory, where the day directories and uplink.state lie.
// Only the first call does anything.
void uplink_start(const std::vector<net::FeedEntry> &entries, const std::string &dir);

// Ends the uplink's thread (the will tells the broker it is offline).
void uplink_stop();

// What the uplink is doing, for /metrics, /status.json and the status box.
struct UplinkFigures {
    bool configured = false;
    bool connected = false;
    long long changedAt = 0;   // seconds since 1970 when it connected or went
    long long behind[19] = {}; // per port: bytes in its files past the shore's position
    long long sent[19] = {};   // per port: bytes published since the start
};
UplinkFigures uplink_figures();
