#include "uplink_files.h"

#include "files.h"
#include "logger_files.h"
#include "mqtt_link.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstdio>
#include <cstring>
#include <ctime>
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

} // namespace

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
    if (m_indexed) {
        m_reader.emplace(r);
        m_reader->follow();
    }
    return true;
}

// The index has grown since it was last read: its reader goes on from where
// it stopped (the index's length first, as open() takes it), or, when the
// index is not the one it was, the file is read again up to the position.
void Source::read_on(const std::string &dir, const Position &at)
{
    const long long length = file_size(m_recording->indexFd);
    const long long size = file_size(m_recording->dataFd);
    if (length < m_indexLength || size < 0 || !m_reader->resume(length, size)) {
        open(dir, at);
        return;
    }
    m_indexLength = length;
    m_recording->indexLength = length;
    m_recording->size = size;
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
    const long long want = std::min(end - at.offset, m_most);
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
    if (!undated(at, std::min(b.offset + b.count, at.offset + m_most), run, buffer))
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

bool Source::next(const std::string &dir, int port, Position &at, Run &run, unsigned char *buffer, long long most)
{
    m_most = std::max(1LL, std::min(most, kMaxRun));
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
            read_on(dir, at);
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
