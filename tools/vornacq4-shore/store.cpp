#include "store.h"

#include "index.h"
#include "index_encoder.h"
#include "mqtt_link.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace shore {

namespace {

constexpr int kPorts = 18; // COM1 to COM18

std::string failed(const std::string &what)
{
    return what + ": " + std::strerror(errno);
}

bool make_dir(const std::string &path)
{
    return ::mkdir(path.c_str(), 0755) == 0 || errno == EEXIST;
}

bool write_all_at(int fd, const unsigned char *bytes, long long count, long long at)
{
    while (count > 0) {
        const ssize_t n = ::pwrite(fd, bytes, static_cast<std::size_t>(count), at);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        bytes += n, count -= n, at += n;
    }
    return true;
}

// Replaces path with text: written beside it, synced, renamed.
bool replace_file(const std::string &path, const std::string &text, bool durable)
{
    const std::string temporary = path + ".new";
    const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0644);
    if (fd < 0)
        return false;
    bool ok = write_all_at(fd, reinterpret_cast<const unsigned char *>(text.data()), static_cast<long long>(text.size()), 0);
    ok = ok && (!durable || ::fsync(fd) == 0);
    ::close(fd);
    ok = ok && ::rename(temporary.c_str(), path.c_str()) == 0;
    const std::string dir = path.substr(0, path.rfind('/'));
    const int d = durable && ok ? ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC) : -1;
    if (d >= 0) {
        ok = ::fsync(d) == 0;
        ::close(d);
    }
    return ok;
}

long long file_length(int fd)
{
    struct stat st {};
    return ::fstat(fd, &st) == 0 ? static_cast<long long>(st.st_size) : -1;
}

std::string gap_text(long long offset, long long missing, long long first, long long last)
{
    return std::to_string(offset) + " " + std::to_string(missing) + " " + std::to_string(first) + " " +
           std::to_string(last);
}

// Opens (making it when new, and its directory's entry durable) one file of a copy.
int open_part(const std::string &dir, const std::string &path)
{
    int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC | O_NOFOLLOW);
    if (fd >= 0 || errno != ENOENT)
        return fd;
    fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0644);
    const int d = fd >= 0 ? ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC) : -1;
    if (d >= 0) {
        ::fsync(d);
        ::close(d);
    }
    return fd;
}

// The port's copy written last under a station's directory, "" when none:
// the shore's own clock says which, whatever the station's names say.
std::string latest_copy(const std::string &top, int port)
{
    std::string latest;
    timespec latestAt{};
    DIR *days = ::opendir(top.c_str());
    while (const dirent *day = days != nullptr ? ::readdir(days) : nullptr) {
        if (day->d_name[0] != 'D')
            continue;
        DIR *d = ::opendir((top + "/" + day->d_name).c_str());
        while (const dirent *e = d != nullptr ? ::readdir(d) : nullptr) {
            const std::string file = std::string(day->d_name) + "/" + e->d_name;
            struct stat st {};
            int filePort = 0;
            if (!mqtt_link::valid_file(file, filePort) || filePort != port || ::stat((top + "/" + file).c_str(), &st) != 0)
                continue;
            const timespec at = st.st_mtim;
            if (latest.empty() || at.tv_sec > latestAt.tv_sec ||
                (at.tv_sec == latestAt.tv_sec && at.tv_nsec > latestAt.tv_nsec))
                latest = file, latestAt = at;
        }
        if (d != nullptr)
            ::closedir(d);
    }
    if (days != nullptr)
        ::closedir(days);
    return latest;
}

// The file shore.state names for each port ("" where it names none).
void state_files(const std::string &top, std::string files[kPorts + 1])
{
    std::FILE *f = std::fopen((top + "/shore.state").c_str(), "re");
    char line[256];
    while (f != nullptr && std::fgets(line, sizeof line, f) != nullptr) {
        char com[16] = "", file[64] = "";
        int port = 0;
        if (std::sscanf(line, "%15s %63s", com, file) == 2 && mqtt_link::valid_file(file, port) &&
            port == mqtt_link::topic_port(com))
            files[port] = file;
    }
    if (f != nullptr)
        std::fclose(f);
}

long long monotonic_seconds()
{
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return t.tv_sec;
}

} // namespace

Store::~Store()
{
    for (auto &entry : m_copies)
        close_copy(entry.second);
}

void Store::close_copy(Copy &c)
{
    if (c.data >= 0)
        ::close(c.data);
    if (c.index >= 0)
        ::close(c.index);
    c = Copy{};
}

// Opens the copy of `file` as it is, nothing of it cut: it goes on where its
// own index says its bytes end (bytes written past that, when the shore was
// stopped between writing them and dating them, are written again, the same
// bytes at the same offsets, as the station sends them again from there),
// and its index goes on at its end with a new segment.
bool Store::open_copy(const Key &key, Copy &c, const std::string &file, std::string &why)
{
    close_copy(c);
    const std::string top = m_dir + "/" + key.first, day = file.substr(0, 4), name = file.substr(5);
    const std::string indexDir = top + "/T" + day.substr(1);
    if (!make_dir(top) || !make_dir(top + "/" + day) || !make_dir(indexDir)) {
        why = failed(top);
        return false;
    }
    c.index = open_part(indexDir, indexDir + "/" + name);
    c.data = open_part(top + "/" + day, top + "/" + file);
    const long long indexLength = c.index >= 0 ? file_length(c.index) : -1;
    const long long size = c.data >= 0 ? file_length(c.data) : -1;
    if (indexLength < 0 || size < 0) {
        why = failed(top + "/" + file);
        close_copy(c);
        return false;
    }
    c.file = file;
    c.indexLength = indexLength;
    when::IndexReader reader(c.index, indexLength, size);
    for (when::Burst b{}; reader.next(b);) {
        if (!b.gap)
            c.end = b.offset + b.count, c.lastGap.clear();
        else if (b.offset == c.end)
            c.lastGap = gap_text(b.offset, b.count, b.first, b.last);
    }
    return begin_segment(c, why);
}

// A new segment of the index where the copy ends: its first record is dated
// from the copy's end, whatever came before it undated.
bool Store::begin_segment(Copy &c, std::string &why)
{
    c.previousFirst = 0;
    c.indexedEnd = c.end;
    return append_index(c, segment_mark(c.end), why);
}

bool Store::append_index(Copy &c, const std::string &bytes, std::string &why)
{
    if (!write_all_at(c.index, reinterpret_cast<const unsigned char *>(bytes.data()), static_cast<long long>(bytes.size()),
                      c.indexLength)) {
        why = failed("the index of " + c.file);
        return false;
    }
    c.indexLength += static_cast<long long>(bytes.size());
    c.dirty = true;
    return true;
}

bool Store::note_gap(Copy &c, const Message &m, std::string &why)
{
    const std::string line = gap_text(m.offset, m.missing, m.first, m.last);
    if (line == c.lastGap)
        return true; // delivered again
    if ((c.indexedEnd != c.end && !begin_segment(c, why)) ||
        !append_index(c, gap_record(m.missing, m.first, m.last, c.previousFirst), why))
        return false;
    c.previousFirst = m.first;
    c.lastGap = line;
    std::fprintf(stderr, "vornacq4-shore: %s COM%d: %lld bytes lost at the station, at %lld in %s\n",
                 m.station.c_str(), m.port, m.missing, m.offset, m.file.c_str());
    return true;
}

bool Store::apply(const Message &m, std::string &why)
{
    const Key key{m.station, m.port};
    Copy &c = m_copies[key];
    if (c.file != m.file) {
        // The station names the file before a file's first bytes: one that
        // follows the copy's comes next whatever its name (the station's
        // clock may have been set back); any other is placed by its name.
        const bool follows = m.offset == 0 && !c.file.empty() && m.previous.compare(0, c.file.size() + 1, c.file + " ") == 0;
        const bool later = c.file.empty() || follows || mqtt_link::file_order(m.file, c.file) > 0;
        if (!later)
            return true; // an earlier file's bytes again: the copy has gone past them
        if (m.offset != 0 || (!m.previous.empty() && !c.file.empty() && m.previous != mqtt_link::format_ack(c.file, c.end, false))) {
            c.hole = true; // the start of this file, or the end of the last, did not come
            if (c.file.empty())
                c.holeFile = m.file; // a port not yet copied asks for this file from its start
            return true;
        }
        if (!open_copy(key, c, m.file, why))
            return false; // a copy of it begun before goes on from its end
    }
    if (m.gap) {
        if (m.offset == c.end && !note_gap(c, m, why))
            return false;
        c.hole = c.hole || m.offset > c.end;
        return true;
    }
    if (m.offset + m.count <= c.end)
        return true; // delivered again
    if (m.offset > c.end) {
        c.hole = true;
        return true;
    }
    const long long skip = c.end - m.offset, count = m.count - skip;
    if (!write_all_at(c.data, m.bytes + skip, count, c.end)) {
        why = failed(m.file);
        return false;
    }
    if (m.dated) {
        const long long first = m.count > 1 ? m.first + (m.last - m.first) * skip / (m.count - 1) : m.first;
        if ((c.indexedEnd != c.end && !begin_segment(c, why)) ||
            !append_index(c, data_record(count, first, m.last, c.previousFirst), why))
            return false;
        c.previousFirst = first;
        c.indexedEnd = c.end + count;
    }
    c.end += count;
    c.dirty = true;
    return true;
}

bool Store::write_state(const std::string &station, std::string &why)
{
    std::string text = "# vornacq4-shore: the copy of each port, its index, and the last gap written to it\n";
    for (const auto &entry : m_copies) {
        const Copy &c = entry.second;
        if (entry.first.first != station || c.file.empty())
            continue;
        const std::string com = "COM" + std::to_string(entry.first.second);
        text += com + " " + c.file + " " + std::to_string(c.end) + " " + std::to_string(c.indexLength) + "\n";
        if (!c.lastGap.empty())
            text += "gap " + com + " " + c.file + " " + c.lastGap + "\n";
    }
    if (replace_file(m_dir + "/" + station + "/shore.state", text, true))
        return true;
    why = failed(m_dir + "/" + station + "/shore.state");
    return false;
}

bool Store::sync(std::vector<Ack> &acks, std::string &why)
{
    std::vector<std::string> stations;
    for (auto &entry : m_copies) {
        Copy &c = entry.second;
        if (!c.dirty)
            continue;
        if (::fdatasync(c.data) != 0 || ::fdatasync(c.index) != 0) {
            why = failed(c.file);
            return false;
        }
        if (stations.empty() || stations.back() != entry.first.first)
            stations.push_back(entry.first.first);
    }
    for (const std::string &station : stations)
        if (!write_state(station, why))
            return false;
    const long long now = monotonic_seconds();
    for (auto &entry : m_copies) {
        Copy &c = entry.second;
        const bool ask = c.hole && now > c.askedAt;
        const std::string &file = c.file.empty() ? c.holeFile : c.file;
        if ((c.dirty || ask) && !file.empty())
            acks.push_back(Ack{entry.first.first, entry.first.second, mqtt_link::format_ack(file, c.end, ask)});
        if (ask)
            c.askedAt = now, c.hole = false;
        c.dirty = false;
    }
    return true;
}

void Store::resend_all(std::vector<Ack> &acks) const
{
    for (const auto &entry : m_copies)
        if (!entry.second.file.empty())
            acks.push_back(Ack{entry.first.first, entry.first.second,
                               mqtt_link::format_ack(entry.second.file, entry.second.end, true)});
}

void Store::status(const std::string &station, const std::string &text)
{
    if (make_dir(m_dir + "/" + station))
        replace_file(m_dir + "/" + station + "/status.json", text, false);
}

// Each station's ports go on from their current copies, as those and their
// indexes stand: the one shore.state names, or without it the one written
// last, so a shore that lost shore.state loses nothing.
void Store::restore()
{
    DIR *d = ::opendir(m_dir.c_str());
    std::vector<std::string> stations;
    while (const dirent *e = d != nullptr ? ::readdir(d) : nullptr)
        if (mqtt_link::valid_station(e->d_name))
            stations.push_back(e->d_name);
    if (d != nullptr)
        ::closedir(d);
    for (const std::string &station : stations) {
        std::string named[kPorts + 1];
        state_files(m_dir + "/" + station, named);
        for (int port = 1; port <= kPorts; ++port) {
            struct stat st {};
            const bool kept = !named[port].empty() && ::stat((m_dir + "/" + station + "/" + named[port]).c_str(), &st) == 0;
            const std::string file = kept ? named[port] : latest_copy(m_dir + "/" + station, port);
            std::string why;
            if (!file.empty() && !open_copy(Key{station, port}, m_copies[Key{station, port}], file, why))
                std::fprintf(stderr, "vornacq4-shore: %s: %s\n", station.c_str(), why.c_str());
        }
    }
}

} // namespace shore
