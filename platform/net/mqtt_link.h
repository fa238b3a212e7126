// mqtt_link.h - what the logger's uplink and the shore tool vornacq4-shore
// agree on: the words of network.map's mqtt line (the shore takes the same
// words on its command line), how a client is given them, and the wire form
// of a message: its topics, its user properties and the shore's position.
//
//   vornacq4/NAME/COMn        a run of one port's bytes as its data file holds
//                             them (QoS 1), placed by the properties below
//   vornacq4/NAME/COMn/ack    the shore's position in that port's files
//                             (retained): "D045/04538405.C05 123456", with
//                             " resend" when the shore wants the bytes from
//                             there again (it found a hole, or restarted)
//   vornacq4/NAME/status      the status JSON (retained); "offline" as the will
//
// Plain C++ and libmosquitto; no other part of the engine.
#pragma once

#include <string>
#include <vector>

struct mosquitto;
struct mqtt5__property;

namespace mqtt_link {

struct Options {
    std::string host;           // a name or a numeric address, as given
    int port = 1883;
    std::string station;        // NAME in the topics
    bool ack = true;            // false: the broker's acknowledgement moves the position
    std::string ca;             // CA file: TLS to the broker when set
    std::string user;
    std::string passwordFile;   // readable by its owner alone
    long long rate = 0;         // bytes a second at most; 0 for no limit
    int keepalive = 30;         // seconds between the client's signs of life
    std::string clientId;       // the shore's session ("vornacq4-shore-NAME" by default)
};

// The words after "mqtt" in network.map (or the shore's arguments):
// HOST[:PORT] then key=value options. `station` is required when
// needStation. False, with why, when a word is wrong.
bool parse(const std::vector<std::string> &words, Options &options, std::string &why, bool needStation);

// Whether NAME can stand in a topic and a directory: 1 to 64 of
// A-Z a-z 0-9 . _ - and not "." or "..".
bool valid_station(const std::string &name);

// Gives a new client the password (read from its file, which must be a
// regular file no one but its owner can read) and the TLS settings. False,
// with why, when they cannot be; the password is never reported.
bool apply(mosquitto *client, const Options &options, std::string &why);

// Topics.
std::string data_topic(const std::string &station, int port);
std::string ack_topic(const std::string &station, int port);
std::string status_topic(const std::string &station);
// The port of "COMn" (1..18); 0 when it is not one.
int topic_port(const std::string &word);

// A data file's place from the start-up directory: "Dddd/dddsssss.Cnn".
// Whether `name` is one, and its port in `port`.
bool valid_file(const std::string &name, int &port);
// Files in the order the logger made them, for two files made within half
// a year of each other (what a station and a shore compare are that close):
// the day directories form a ring (D365 or D366 is followed by D001), a
// day within half a year after another's comes later; within a day, by the
// name's time, the name of the next day's first moment (the clock passed
// midnight while the set was named) last. Negative when a comes first.
int file_order(const std::string &a, const std::string &b);
// Days from day `from` on to day `to` (1..366) round the ring, 0..365.
int days_on(int from, int to);

// The shore's position: "FILE OFFSET" or "FILE OFFSET resend".
std::string format_ack(const std::string &file, long long offset, bool resend);
bool parse_ack(const std::string &text, std::string &file, long long &offset, bool &resend);

// Times as the properties carry them: ISO 8601 UTC with microseconds,
// "2026-02-14T00:01:05.123456Z". parse_time is false for anything else.
std::string format_time(long long us);
bool parse_time(const std::string &text, long long &us);

// The value of user property `name` in a message's properties; false when
// it has none.
bool user_property(const mqtt5__property *props, const char *name, std::string &value);

} // namespace mqtt_link
