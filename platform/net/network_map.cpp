#include "network_map.h"

#include "base/com_name.h"
#include "files/file_backend.h"
#include "mqtt_link.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <netdb.h>
#include <sstream>

namespace net {

namespace {

constexpr std::size_t kMaxMapBytes = 64 * 1024; // its stderr line says "64 KiB"

// A whole number from lo to hi written in decimal digits alone.
bool number_in(const std::string &text, long lo, long hi, int &value)
{
    if (text.empty() || text.size() > 6 || text.find_first_not_of("0123456789") != std::string::npos)
        return false;
    const long v = std::strtol(text.c_str(), nullptr, 10);
    if (v < lo || v > hi)
        return false;
    value = static_cast<int>(v);
    return true;
}

// "PORT", "A.B.C.D:PORT" or "[IPv6]:PORT" into a socket address; the host is
// never looked up by name (a ship's network has no name server to wait for).
bool parse_address(const std::string &text, FeedEntry &entry)
{
    std::string host = "127.0.0.1", service = text;
    const std::size_t colon = text.rfind(':');
    if (colon != std::string::npos) {
        host = text.substr(0, colon);
        service = text.substr(colon + 1);
        if (host.size() >= 2 && host.front() == '[' && host.back() == ']')
            host = host.substr(1, host.size() - 2);
        else if (host.find(':') != std::string::npos)
            return false; // an IPv6 address goes in brackets
    }
    int port = 0;
    if (!number_in(service, 1, 65535, port) || host.empty())
        return false;
    addrinfo hints{}, *found = nullptr;
    hints.ai_flags = AI_NUMERICHOST | AI_NUMERICSERV;
    hints.ai_socktype = entry.kind == FeedKind::Tcp ? SOCK_STREAM : SOCK_DGRAM;
    if (getaddrinfo(host.c_str(), service.c_str(), &hints, &found) != 0 || found == nullptr)
        return false;
    std::memcpy(&entry.address, found->ai_addr, found->ai_addrlen);
    entry.addressLength = found->ai_addrlen;
    freeaddrinfo(found);
    entry.addressText = (host.find(':') != std::string::npos ? "[" + host + "]" : host) + ":" + service;
    return true;
}

// "max=N" for a TCP feed, "ttl=N" for a UDP one.
bool parse_option(const std::string &word, FeedEntry &entry)
{
    if (entry.kind == FeedKind::Tcp && word.compare(0, 4, "max=") == 0)
        return number_in(word.substr(4), 1, kMaxClientsPerFeed, entry.maxClients);
    if (entry.kind == FeedKind::Udp && word.compare(0, 4, "ttl=") == 0)
        return number_in(word.substr(4), 1, 255, entry.ttl);
    return false;
}

// "mqtt HOST[:PORT] station=NAME ...": checked here, used by the uplink.
bool parse_mqtt_line(const std::string &text, std::istringstream &words, FeedEntry &entry, std::string &why)
{
    std::vector<std::string> rest;
    for (std::string word; words >> word;)
        rest.push_back(word);
    mqtt_link::Options options;
    entry.kind = FeedKind::Mqtt;
    entry.text = text;
    if (mqtt_link::parse(rest, options, why, true))
        return true;
    why = "mqtt: " + why;
    return false;
}

} // namespace

bool parse_feed_line(const std::string &text, FeedEntry &entry, std::string &why)
{
    std::istringstream words(text);
    std::string port, kind, address, option;
    words >> port;
    entry = FeedEntry{};
    if (port == "http") {
        entry.kind = FeedKind::Http;
        words >> address >> option;
        if (!address.empty() && option.empty() && parse_address(address, entry))
            return true;
        why = "expected 'http [ADDRESS:]PORT', a numeric address and a port from 1 to 65535";
        return false;
    }
    if (port == "mqtt")
        return parse_mqtt_line(text, words, entry, why);
    words >> kind >> address;
    entry.port = com_number(port);
    if (entry.port == 0 || (kind != "tcp" && kind != "udp") || address.empty()) {
        why = "expected 'COMn tcp [ADDRESS:]PORT [max=N]' or 'COMn udp [ADDRESS:]PORT [ttl=N]', n from 1 to 18";
        return false;
    }
    entry.kind = kind == "tcp" ? FeedKind::Tcp : FeedKind::Udp;
    if (!parse_address(address, entry)) {
        why = "'" + address + "' is no numeric address with a port from 1 to 65535";
        return false;
    }
    while (words >> option)
        if (!parse_option(option, entry)) {
            why = "'" + option + "' is not max=1..64 (tcp) or ttl=1..255 (udp)";
            return false;
        }
    return true;
}

std::vector<FeedEntry> read_network_map(const std::string &dir)
{
    std::vector<FeedEntry> feeds;
    const std::string file = dir + "/network.map";
    std::string contents;
    const int read = filesys::read_regular(file.c_str(), kMaxMapBytes, contents);
    if (read == -ENOENT)
        return feeds;
    if (read != 0) {
        std::fprintf(stderr, "vornacq4: %s: %s%s; not read, no port is fed to the network\n", file.c_str(),
                     filesys::error_text(read), read == filesys::TOO_LARGE ? " (over 64 KiB)" : "");
        return feeds;
    }
    std::istringstream in(contents);
    std::string raw, why;
    bool http = false, mqtt = false;
    for (int line = 1; std::getline(in, raw); ++line) {
        const std::string text = raw.substr(0, raw.find('#'));
        if (text.find_first_not_of(" \t\r") == std::string::npos)
            continue;
        FeedEntry entry;
        if (feeds.size() >= static_cast<std::size_t>(kMaxFeeds))
            why = "more feeds than the 64 the logger serves";
        else if (text.find('\0') == std::string::npos && parse_feed_line(text, entry, why) &&
                 (entry.kind != FeedKind::Http || !http) && (entry.kind != FeedKind::Mqtt || !mqtt)) {
            http = http || entry.kind == FeedKind::Http;
            mqtt = mqtt || entry.kind == FeedKind::Mqtt;
            entry.line = line;
            feeds.push_back(entry);
            continue;
        }
        if (entry.kind == FeedKind::Http && http)
            why = "the endpoint is named on an earlier line";
        if (entry.kind == FeedKind::Mqtt && mqtt)
            why = "the uplink is named on an earlier line";
        std::fprintf(stderr, "vornacq4: %s:%d: %s; line ignored\n", file.c_str(), line, why.c_str());
    }
    return feeds;
}

} // namespace net
