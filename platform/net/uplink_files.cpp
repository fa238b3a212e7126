#include "uplink_files.h"

#include "base/clock.h"
#include "files.h"
#include "logger_files.h"
#include "mqtt_link.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace uplink {

namespace {

constexpr long long kLookEverySeconds = 1; // how often a finished-looking file is checked for a successor

long long monotonic_seconds()
{
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return static_cast<long long>(t.tv_sec);
}

long long file_size(int fd)
{
    struct stat st {};
    return fd >= 0 && ::fstat(fd, &st) == 0 ? static_cast<long long>(st.st_size) : -1;
}

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

void Source::close()
{
    m_reader.reset();
    m_recording.reset();
    m_file.clear();
    m_haveAhead = false;
    m_gapsSeen = 0;
}

// Opens at.file's data and index (the index's length first: every record
// within it is for bytes the data file held), and reads up to the position.
bool Source::open(const std::string &dir, const Position &at)
{
    close();
    m_recording.emplace();
    when::Recording &r = *m_recording;
    std::string error;
    r.path = dir + "/" + at.file;
    const std::string index = when::index_path(r.path);
    r.indexFd = index.empty() ? -1 : when::open_regular(index, r.indexLength, error);
    r.dataFd = when::open_regular(r.path, r.size, error);
    if (r.dataFd < 0) {
        m_recording.reset();
        return false;
    }
    m_file = at.file;
    m_indexed = r.indexFd >= 0;
    m_indexLength = r.indexLength;
    if (m_indexed)
        m_reader.emplace(r);
    return true;
}

// The file that follows `file`: the next one written after it, or else the
// one the logger writes now when that is another (the names and times tell
// nothing when the clock was set back); said once, as files made between
// may not have been sent. "" when none.
std::string Source::successor(const std::string &dir, int port, const std::string &file)
{
    std::string next = next_file(dir, port, file);
    const std::string current = net::logger_file(port);
    if (next.empty() && !current.empty() && current != file) {
        next = current;
        if (mqtt_link::file_order(current, file) <= 0 && m_reportedJump != file) {
            std::fprintf(stderr, "vornacq4: uplink: COM%d: no file was written after %s; going on with the file the "
                                 "logger writes now, %s (was the clock set back?); files made between may not have "
                                 "been sent\n", port, file.c_str(), current.c_str());
            m_reportedJump = file;
        }
    }
    m_from = file;
    m_to = next;
    return next;
}

// Whether the logger has gone on to another file of the port, so that this
// one takes no more bytes (its successor is then in m_to). While the logger
// writes it, no, without a look at the directories; else looked at once a
// second at most, and only once the file has not grown for a second (so
// that the index records of its last bytes are read before the file is
// left, rather than those bytes sent undated).
bool Source::finished(const std::string &dir, int port, const Position &at, long long size)
{
    if (net::logger_file(port) == at.file)
        return false;
    const long long now = monotonic_seconds();
    if (size != m_lastSize) { // a file still growing is the current one: no need to look
        m_lastSize = size;
        m_nextLookAt = now + kLookEverySeconds;
    }
    if (now < m_nextLookAt)
        return false;
    m_nextLookAt = now + kLookEverySeconds;
    return !successor(dir, port, at.file).empty();
}

// Bytes [at.offset, end) undated, as much of them as a run takes.
bool Source::undated(const Position &at, long long end, Run &run, unsigned char *buffer)
{
    const long long want = std::min(end - at.offset, kMaxRun);
    const long long got = when::read_at(m_recording->dataFd, at.offset, reinterpret_cast<char *>(buffer), want);
    if (got <= 0)
        return false;
    run = Run{at.file, at.offset, got, false, 0, false, 0, 0, {}};
    return true;
}

// The run the burst ahead gives at the position; false when it gives none
// and the next burst is to be read.
bool Source::take(Position &at, Run &run, unsigned char *buffer)
{
    const when::Burst &b = m_ahead;
    if (b.gap) {
        if (b.offset > at.offset)
            return undated(at, b.offset, run, buffer);
        if (b.offset < at.offset || m_gapsSeen < at.gapsSent) {
            m_gapsSeen += b.offset == at.offset ? 1 : 0;
            m_haveAhead = false;
            return false;
        }
        run = Run{at.file, at.offset, 0, true, b.count, true, b.first, b.last, {}};
        return true;
    }
    if (b.offset + b.count <= at.offset) {
        m_haveAhead = false;
        return false;
    }
    if (b.offset > at.offset)
        return undated(at, b.offset, run, buffer);
    if (!undated(at, std::min(b.offset + b.count, at.offset + kMaxRun), run, buffer))
        return false;
    run.dated = true;
    run.first = when::byte_time(b, at.offset);
    run.last = when::byte_time(b, at.offset + run.count - 1);
    return true;
}

// The file before this one and its length, on the first run of a file, so
// the shore can tell that it has all of that one.
void Source::name_previous(const std::string &dir, int port, Run &run)
{
    if (run.offset != 0)
        return;
    const std::string before = run.file == m_to && !m_from.empty() ? m_from : previous_file(dir, port, run.file);
    struct stat st {};
    if (!before.empty() && ::stat((dir + "/" + before).c_str(), &st) == 0)
        run.previous = mqtt_link::format_ack(before, st.st_size, false);
}

bool Source::next(const std::string &dir, int port, Position &at, Run &run, unsigned char *buffer)
{
    const bool found = next_run(dir, port, at, run, buffer);
    if (found)
        name_previous(dir, port, run);
    return found;
}

bool Source::next_run(const std::string &dir, int port, Position &at, Run &run, unsigned char *buffer)
{
    for (int files = 0; files < 64; ++files) { // a bounded walk over files already done
        if (at.file.empty())
            return false;
        if (m_file != at.file && !open(dir, at)) {
            if (m_reportedGone != at.file) {
                std::fprintf(stderr, "vornacq4: uplink: %s is gone from the start-up directory; its bytes that were not sent are not\n",
                             at.file.c_str());
                m_reportedGone = at.file;
            }
            const std::string later = successor(dir, port, at.file);
            if (later.empty())
                return false;
            at = Position{later, 0, 0, false};
            continue;
        }
        for (;;) {
            if (!m_haveAhead)
                m_haveAhead = m_reader && m_reader->next(m_ahead);
            if (!m_haveAhead)
                break;
            if (take(at, run, buffer))
                return true;
            if (m_haveAhead)
                return false; // a read refused: try again later
        }
        // Nothing more in the index as it was opened: has it grown since?
        if (m_indexed && file_size(m_recording->indexFd) > m_indexLength) {
            const Position here = at;
            open(dir, here);
            continue;
        }
        const long long size = file_size(m_recording->dataFd);
        const bool done = finished(dir, port, at, size);
        if (at.offset < size && (done || !m_indexed))
            return undated(at, size, run, buffer);
        if (done && size == 0 && !at.begun) { // so that the shore has the empty file too
            run = Run{at.file, 0, 0, false, 0, false, 0, 0, {}};
            return true;
        }
        if (!done)
            return false;
        at = Position{m_to, 0, 0, false};
        close();
    }
    return false;
}

void Source::advance(Position &at, const Run &run)
{
    at.begun = true;
    if (run.gap) {
        ++at.gapsSent;
        ++m_gapsSeen;
        m_haveAhead = false;
        return;
    }
    at.offset += run.count;
    at.gapsSent = 0;
    m_gapsSeen = 0;
    if (m_haveAhead && !m_ahead.gap && m_ahead.offset + m_ahead.count <= at.offset)
        m_haveAhead = false;
}

void read_state(const std::string &dir, Position positions[kPorts + 1])
{
    std::FILE *f = std::fopen((dir + "/uplink.state").c_str(), "re");
    if (f == nullptr)
        return;
    char line[256];
    while (std::fgets(line, sizeof line, f) != nullptr) {
        char com[16] = "", file[64] = "";
        long long offset = -1;
        int port = 0;
        if (std::sscanf(line, "%15s %63s %lld", com, file, &offset) != 3 || offset < 0)
            continue;
        const int topicPort = mqtt_link::topic_port(com);
        if (topicPort != 0 && mqtt_link::valid_file(file, port) && port == topicPort)
            positions[port] = Position{file, offset, 0, false};
    }
    std::fclose(f);
}

bool write_state(const std::string &dir, const Position positions[kPorts + 1])
{
    std::string text = "# vornacq4 uplink: the shore's position in each port's files\n";
    for (int port = 1; port <= kPorts; ++port)
        if (!positions[port].file.empty())
            text += "COM" + std::to_string(port) + " " + positions[port].file + " " +
                    std::to_string(positions[port].offset) + "\n";
    const std::string path = dir + "/uplink.state", temporary = path + ".new";
    const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0644);
    if (fd < 0)
        return false;
    const bool written = ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size()) && ::fsync(fd) == 0;
    ::close(fd);
    if (!written || ::rename(temporary.c_str(), path.c_str()) != 0)
        return false;
    const int d = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (d >= 0) {
        ::fsync(d);
        ::close(d);
    }
    return true;
}

} // namespace uplink
