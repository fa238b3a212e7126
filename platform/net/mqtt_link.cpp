#include "mqtt_link.h"

#include <mosquitto.h>
#include <mqtt_protocol.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace mqtt_link {

namespace {

constexpr int kPorts = 18;
constexpr int kRingDays = 366; // D001 .. D366, then D001 again
constexpr long long kMaxPasswordBytes = 4096; // far beyond any password; a bigger file is not one

// A whole number from lo to hi in decimal digits alone.
bool number_in(const std::string &text, long long lo, long long hi, long long &value)
{
    if (text.empty() || text.size() > 12 || text.find_first_not_of("0123456789") != std::string::npos)
        return false;
    value = std::strtoll(text.c_str(), nullptr, 10);
    return value >= lo && value <= hi;
}

// "HOST", "HOST:PORT" or "[IPv6]:PORT".
bool parse_host(const std::string &text, Options &o)
{
    std::string host = text;
    long long port = 1883;
    const std::size_t colon = text.rfind(':');
    const bool bracketed = !text.empty() && text.front() == '[';
    if (colon != std::string::npos && (!bracketed || text[colon - 1] == ']')) {
        if (!bracketed && text.find(':') != colon)
            return false; // an IPv6 address goes in brackets
        host = text.substr(0, colon);
        if (!number_in(text.substr(colon + 1), 1, 65535, port))
            return false;
    }
    if (host.size() >= 2 && host.front() == '[' && host.back() == ']')
        host = host.substr(1, host.size() - 2);
    if (host.empty() || host.find_first_of(" /[]") != std::string::npos)
        return false;
    o.host = host;
    o.port = static_cast<int>(port);
    return true;
}

bool parse_option(const std::string &word, Options &o)
{
    const std::size_t eq = word.find('=');
    if (eq == std::string::npos || eq + 1 == word.size())
        return false;
    const std::string key = word.substr(0, eq), value = word.substr(eq + 1);
    long long n = 0;
    if (key == "station" && valid_station(value))
        o.station = value;
    else if (key == "ack" && (value == "on" || value == "off"))
        o.ack = value == "on";
    else if (key == "ca")
        o.ca = value;
    else if (key == "user")
        o.user = value;
    else if (key == "password-file")
        o.passwordFile = value;
    else if (key == "rate" && number_in(value, 1, 1LL << 40, n))
        o.rate = n;
    else if (key == "keepalive" && number_in(value, 5, 3600, n))
        o.keepalive = static_cast<int>(n);
    else if (key == "id" && value.size() <= 64 && value.find_first_of("/+#") == std::string::npos)
        o.clientId = value;
    else
        return false;
    return true;
}

// The password from its file: a regular file that neither its group nor
// others may read, its first line.
bool read_password(const std::string &path, std::string &password, std::string &why)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    struct stat st {};
    if (fd < 0 || ::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size > kMaxPasswordBytes) {
        why = "password file " + path + ": " + (fd < 0 ? std::strerror(errno) : "not a small regular file");
        if (fd >= 0)
            ::close(fd);
        return false;
    }
    char buffer[kMaxPasswordBytes];
    const ssize_t n = (st.st_mode & 077) != 0 ? -1 : ::read(fd, buffer, sizeof buffer);
    ::close(fd);
    if (n < 0) {
        why = "password file " + path + ": readable by others than its owner, or unreadable; not used";
        return false;
    }
    password.assign(buffer, static_cast<std::size_t>(n));
    password = password.substr(0, password.find_first_of("\r\n"));
    return true;
}

bool digits(const std::string &s, std::size_t at, std::size_t count)
{
    if (at + count > s.size())
        return false;
    for (std::size_t i = at; i < at + count; ++i)
        if (s[i] < '0' || s[i] > '9')
            return false;
    return true;
}

} // namespace

bool parse(const std::vector<std::string> &words, Options &options, std::string &why, bool needStation)
{
    options = Options{};
    if (words.empty() || !parse_host(words[0], options)) {
        why = "expected 'HOST[:PORT]' first, a port from 1 to 65535";
        return false;
    }
    for (std::size_t i = 1; i < words.size(); ++i)
        if (!parse_option(words[i], options)) {
            why = "'" + words[i] + "' is not station=NAME, ack=on|off, ca=FILE, user=NAME, password-file=FILE, "
                  "rate=BYTES_PER_S, keepalive=5..3600 or id=CLIENT";
            return false;
        }
    if (needStation && options.station.empty()) {
        why = "station=NAME is missing (1 to 64 of A-Z a-z 0-9 . _ -)";
        return false;
    }
    if (options.user.empty() != options.passwordFile.empty()) {
        why = "user= and password-file= go together";
        return false;
    }
    return true;
}

bool valid_station(const std::string &name)
{
    if (name.empty() || name.size() > 64 || name == "." || name == "..")
        return false;
    return name.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789._-") ==
           std::string::npos;
}

bool apply(mosquitto *client, const Options &o, std::string &why)
{
    mosquitto_int_option(client, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V5);
    if (!o.user.empty()) {
        std::string password;
        if (!read_password(o.passwordFile, password, why))
            return false;
        const int rc = mosquitto_username_pw_set(client, o.user.c_str(), password.c_str());
        std::fill(password.begin(), password.end(), '\0');
        if (rc != MOSQ_ERR_SUCCESS) {
            why = std::string("user and password: ") + mosquitto_strerror(rc);
            return false;
        }
    }
    if (!o.ca.empty()) {
        const int rc = mosquitto_tls_set(client, o.ca.c_str(), nullptr, nullptr, nullptr, nullptr);
        if (rc != MOSQ_ERR_SUCCESS) {
            why = "ca=" + o.ca + ": " + mosquitto_strerror(rc);
            return false;
        }
    }
    return true;
}

std::string data_topic(const std::string &station, int port)
{
    return "vornacq4/" + station + "/COM" + std::to_string(port);
}

std::string ack_topic(const std::string &station, int port)
{
    return data_topic(station, port) + "/ack";
}

std::string status_topic(const std::string &station)
{
    return "vornacq4/" + station + "/status";
}

int topic_port(const std::string &word)
{
    long long n = 0;
    if (word.size() < 4 || word.compare(0, 3, "COM") != 0 || word[3] == '0' || !number_in(word.substr(3), 1, kPorts, n))
        return 0;
    return static_cast<int>(n);
}

bool valid_file(const std::string &name, int &port)
{
    // D045/04538405.C05
    if (name.size() != 17 || name[0] != 'D' || !digits(name, 1, 3) || name[4] != '/' || !digits(name, 5, 8) ||
        name.compare(13, 2, ".C") != 0 || !digits(name, 15, 2))
        return false;
    port = std::atoi(name.c_str() + 15);
    return port >= 1 && port <= kPorts;
}

int days_on(int from, int to)
{
    return ((to - from) % kRingDays + kRingDays) % kRingDays;
}

// Days from a directory's day to its file's name's day: 0, or 1 for a set
// named just past midnight (negative for a name of an earlier day).
static int name_day_after(const std::string &file, int day)
{
    const int on = days_on(day, std::atoi(file.substr(5, 3).c_str()));
    return on < kRingDays / 2 ? on : on - kRingDays;
}

int file_order(const std::string &a, const std::string &b)
{
    if (a.size() < 8 || b.size() < 8)
        return a.compare(b); // "" (no file yet) first
    const int dayA = std::atoi(a.substr(1, 3).c_str()), dayB = std::atoi(b.substr(1, 3).c_str());
    if (dayA != dayB)
        return days_on(dayB, dayA) < kRingDays / 2 ? 1 : -1;
    const int afterA = name_day_after(a, dayA), afterB = name_day_after(b, dayB);
    if (afterA != afterB)
        return afterA < afterB ? -1 : 1;
    return a.compare(8, std::string::npos, b, 8, std::string::npos); // the seconds, then the port
}

std::string format_ack(const std::string &file, long long offset, bool resend)
{
    return file + " " + std::to_string(offset) + (resend ? " resend" : "");
}

bool parse_ack(const std::string &text, std::string &file, long long &offset, bool &resend)
{
    int port = 0;
    const std::size_t space = text.find(' ');
    if (space == std::string::npos || !valid_file(text.substr(0, space), port))
        return false;
    std::string rest = text.substr(space + 1);
    resend = rest.size() > 7 && rest.compare(rest.size() - 7, 7, " resend") == 0;
    if (resend)
        rest.resize(rest.size() - 7);
    if (!number_in(rest, 0, 1LL << 50, offset))
        return false;
    file = text.substr(0, space);
    return true;
}

std::string format_time(long long us)
{
    const std::time_t seconds = static_cast<std::time_t>(us / 1000000);
    std::tm t{};
    gmtime_r(&seconds, &t);
    char text[64];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%06lldZ", t.tm_year + 1900, t.tm_mon + 1,
                  t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec, us % 1000000);
    return text;
}

bool parse_time(const std::string &text, long long &us)
{
    std::tm t{};
    int fraction = 0;
    char z = 0;
    if (text.size() != 27 || std::sscanf(text.c_str(), "%4d-%2d-%2dT%2d:%2d:%2d.%6d%c", &t.tm_year, &t.tm_mon,
                                         &t.tm_mday, &t.tm_hour, &t.tm_min, &t.tm_sec, &fraction, &z) != 8 ||
        z != 'Z' || t.tm_year < 1970 || t.tm_year >= 2200)
        return false;
    t.tm_year -= 1900;
    t.tm_mon -= 1;
    us = static_cast<long long>(timegm(&t)) * 1000000 + fraction;
    return us >= 0;
}

bool user_property(const mqtt5__property *props, const char *name, std::string &value)
{
    bool found = false;
    char *key = nullptr, *text = nullptr;
    for (const mosquitto_property *p = mosquitto_property_read_string_pair(props, MQTT_PROP_USER_PROPERTY, &key, &text, false);
         p != nullptr && !found; p = mosquitto_property_read_string_pair(p, MQTT_PROP_USER_PROPERTY, &key, &text, true)) {
        found = std::strcmp(key, name) == 0;
        if (found)
            value = text;
        std::free(key);
        std::free(text);
        key = text = nullptr;
    }
    return found;
}

} // namespace mqtt_link
