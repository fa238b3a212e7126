// The order of a port's files: which file follows which, which came
// before, how much lies past a position, and where a run begins.
#include "uplink_files.h"

#include "base/clock.h"
#include "logger_files.h"
#include "mqtt_link.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <dirent.h>
#include <sys/stat.h>
#include <vector>

namespace uplink {

namespace {

constexpr int kRingDays = 366;          // D001 .. D366, then D001 again
constexpr int kBackDays = 7;            // how far back the file before a file is looked for
constexpr long long kNs = 1000000000LL;
constexpr long long kHalfYearNs = 183LL * 86400 * kNs;
constexpr long long kNameSlackNs = 86400LL * kNs; // a name's time against a file's: time zones, summer time, midnight

// A file's modification time (ns) and size; ok false when it is not there.
struct Stamp {
    bool ok = false;
    long long ns = 0;
    long long size = 0;
};

Stamp stamp(const std::string &dir, const std::string &file)
{
    struct stat st {};
    Stamp s;
    if (::stat((dir + "/" + file).c_str(), &st) != 0 || !S_ISREG(st.st_mode))
        return s;
    s.ok = true;
    s.ns = static_cast<long long>(st.st_mtim.tv_sec) * kNs + st.st_mtim.tv_nsec;
    s.size = static_cast<long long>(st.st_size);
    return s;
}

int day_of(const std::string &file)
{
    return std::atoi(file.substr(1, 3).c_str());
}

// Day `day` moved on by `by` days round the ring.
int ring_day(int day, int by)
{
    return (day - 1 + by % kRingDays + kRingDays) % kRingDays + 1;
}

std::string day_name(int day)
{
    char name[8];
    std::snprintf(name, sizeof name, "D%03d", day);
    return name;
}

// The local time now, its day of the year filled in; seconds since 1970 in `now`.
std::tm local_now(std::time_t &now)
{
    std::tm t = local_time();
    now = std::mktime(&t);
    return t;
}

int today()
{
    std::time_t now = 0;
    return local_now(now).tm_yday + 1;
}

// The latest moment (ns) a name "Dddd/dddsssss..." can stand for: its day of
// the year and second of the day, this year or, when that is still to
// come, last year. For a file that cannot be looked at (gone, or a run's
// start key).
long long name_time_ns(const std::string &file)
{
    std::time_t now = 0;
    const std::tm t = local_now(now);
    for (int year = t.tm_year;; --year) {
        std::tm at{};
        at.tm_year = year;
        at.tm_mday = std::atoi(file.substr(5, 3).c_str());
        at.tm_sec = std::atoi(file.substr(8, 5).c_str());
        at.tm_isdst = -1;
        const long long ns = static_cast<long long>(std::mktime(&at)) * kNs;
        if (ns <= static_cast<long long>(now) * kNs + kNameSlackNs || year < t.tm_year)
            return ns;
    }
}

// What a successor of `file` must have been written at or after: its own
// modification time, or for a name without a file the time the name tells
// (less a day, for what it cannot tell).
long long written_since(const std::string &dir, const std::string &file)
{
    const Stamp s = stamp(dir, file);
    return s.ok ? s.ns : name_time_ns(file) - kNameSlackNs;
}

// The names of the port's data files in one day directory ("Dddd/name"), in
// the order they were made; told by their names alone.
std::vector<std::string> port_files(const std::string &dir, const std::string &day, int port)
{
    std::vector<std::string> files;
    DIR *d = ::opendir((dir + "/" + day).c_str());
    if (d == nullptr)
        return files;
    int filePort = 0;
    while (const dirent *e = ::readdir(d)) {
        const std::string file = day + "/" + e->d_name;
        if (mqtt_link::valid_file(file, filePort) && filePort == port)
            files.push_back(file);
    }
    ::closedir(d);
    std::sort(files.begin(), files.end(),
              [](const std::string &a, const std::string &b) { return mqtt_link::file_order(a, b) < 0; });
    return files;
}

// The days after `first` a successor can lie in: up to today, or to the day
// of the logger's current file when that is further on; none when today
// lies more than half a year on (the clock went back a day or more).
int days_ahead(int first, int port)
{
    int ahead = mqtt_link::days_on(first, today());
    const std::string current = net::logger_file(port);
    if (!current.empty())
        ahead = std::max(ahead, mqtt_link::days_on(first, day_of(current)));
    return ahead < kRingDays / 2 ? ahead : 0;
}

// Calls take(file, stamp) for each file of the port after `after`, in
// order, that was written since `after` was; until take says enough.
template <typename Take>
void for_each_after(const std::string &dir, int port, const std::string &after, Take take)
{
    const long long since = written_since(dir, after);
    const int first = day_of(after), ahead = days_ahead(first, port);
    for (int on = 0; on <= ahead; ++on)
        for (const std::string &file : port_files(dir, day_name(ring_day(first, on)), port)) {
            if (on == 0 && mqtt_link::file_order(file, after) <= 0)
                continue;
            const Stamp s = stamp(dir, file);
            if (s.ok && s.ns >= since && !take(file, s))
                return;
        }
}

} // namespace

std::string next_file(const std::string &dir, int port, const std::string &after)
{
    std::string next;
    if (after.size() >= 13)
        for_each_after(dir, port, after, [&next](const std::string &file, const Stamp &) {
            next = file;
            return false;
        });
    return next;
}

std::string previous_file(const std::string &dir, int port, const std::string &file)
{
    const long long until = written_since(dir, file);
    for (int back = 0; back <= kBackDays; ++back) {
        std::vector<std::string> files = port_files(dir, day_name(ring_day(day_of(file), -back)), port);
        for (auto f = files.rbegin(); f != files.rend(); ++f) {
            if (back == 0 && mqtt_link::file_order(*f, file) >= 0)
                continue;
            const Stamp s = stamp(dir, *f);
            if (s.ok && s.ns <= until && s.ns >= until - kHalfYearNs)
                return *f;
        }
    }
    return std::string();
}

std::string start_key(long long startUs)
{
    const std::time_t seconds = static_cast<std::time_t>(startUs / 1000000);
    std::tm t{};
    localtime_r(&seconds, &t);
    char key[32];
    std::snprintf(key, sizeof key, "D%03d/%03d%05d", t.tm_yday + 1, t.tm_yday + 1,
                  t.tm_hour * 3600 + t.tm_min * 60 + t.tm_sec);
    return key;
}

long long bytes_behind(const std::string &dir, int port, const Position &at)
{
    if (at.file.size() < 13)
        return 0;
    const Stamp here = stamp(dir, at.file);
    long long behind = here.ok && here.size > at.offset ? here.size - at.offset : 0;
    for_each_after(dir, port, at.file, [&behind](const std::string &, const Stamp &s) {
        behind += s.size;
        return true;
    });
    return behind;
}

} // namespace uplink
