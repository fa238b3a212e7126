// uplink_files.h - the uplink's cursor over a port's data files and their
// indexes: what to publish next from a position, which file follows which,
// how much lies past a position, and the positions kept in uplink.state.
//
// A port's files are followed in the order the logger made them: a file's
// successors are the files written after it was (so last year's files in
// the same day directories are left alone, and one of last year's names
// that the logger opened again and appended to this year is taken), in the
// order of the day directories round the year (D365 or D366, then D001),
// then of the names within a day; only the days from the file's to today's
// are looked at. When the clock was set back, so that no file is written
// after the last one, the file the logger writes now (logger_files.h) is
// taken, and that is said on stderr. A run is the bytes of one index record from the
// position on (at most kMaxRun), dated by the record; a gap record is a run
// of its own. Bytes no record covers (a data file whose index is missing, or
// the tail of a file the logger was killed before indexing) go undated,
// once the file is finished or when it has no index at all. Only the uplink
// thread calls these.
#pragma once

#include "index.h"

#include <optional>
#include <string>

namespace uplink {

constexpr int kPorts = 18;
constexpr long long kMaxRun = 64 * 1024; // the largest payload a message carries

// Where a port's publishing stands: a file ("Dddd/dddsssss.Cnn", "" before
// the first) and the offset of its next byte; gapsSent counts the gap
// records at that offset already published.
struct Position {
    std::string file;
    long long offset = 0;
    int gapsSent = 0;
    bool begun = false; // a run of this file has been published (an empty file is announced once)
};

// What to publish next.
struct Run {
    std::string file;
    long long offset = 0;
    long long count = 0;      // bytes in the buffer (0 for a gap)
    bool gap = false;
    long long missing = 0;    // a gap's size
    bool dated = false;       // first and last hold the arrival times
    long long first = 0, last = 0;
    std::string previous;     // at offset 0: "FILE LENGTH" of the port's file before, "" when none
};

// One port's open data file and index, read forward as far as it goes.
class Source {
public:
    // The next run at `at` of port's files into run and buffer (kMaxRun
    // bytes), of at most `most` bytes (1..kMaxRun: what a rate allows);
    // false when there is nothing yet. May move `at` on to the next file when
    // its file is finished or gone (reported on stderr once).
    bool next(const std::string &dir, int port, Position &at, Run &run, unsigned char *buffer,
              long long most = kMaxRun);
    // `at` moves past `run` once it is published.
    void advance(Position &at, const Run &run);
    // Forgets what was read (the position went back, or the file changed).
    void close();

private:
    bool next_run(const std::string &dir, int port, Position &at, Run &run, unsigned char *buffer);
    void name_previous(const std::string &dir, int port, Run &run);
    bool open(const std::string &dir, const Position &at);
    void read_on(const std::string &dir, const Position &at);
    bool finished(const std::string &dir, int port, const Position &at, long long size);
    std::string successor(const std::string &dir, int port, const std::string &file);
    bool take(Position &at, Run &run, unsigned char *buffer);
    bool undated(const Position &at, long long end, Run &run, unsigned char *buffer);

    std::optional<when::Recording> m_recording;
    std::optional<when::IndexReader> m_reader;
    std::string m_file;          // "" when nothing is open
    bool m_indexed = false;      // the data file has an index
    long long m_indexLength = 0; // when it was opened
    when::Burst m_ahead{};
    bool m_haveAhead = false;
    int m_gapsSeen = 0;          // gap records at the position read so far
    long long m_nextLookAt = 0;  // seconds (monotonic) when to look for a later file again
    long long m_lastSize = -1;   // the data file's size when last seen
    std::string m_reportedGone;
    std::string m_from, m_to;    // the latest step from one file to the next: the file before m_to
    std::string m_reportedJump;
    long long m_most = kMaxRun;  // the largest run the caller takes now
};

// The file of port after `after` (a file, or a run's start key) in the
// order above, or "".
std::string next_file(const std::string &dir, int port, const std::string &after);

// The file of port before `file` in that order (written before it, within
// a week of days before), or "".
std::string previous_file(const std::string &dir, int port, const std::string &file);

// The first file of the logger's run begun at the local time `startUs`:
// what next_file gives for the returned key.
std::string start_key(long long startUs);

// Bytes of port's files past `at`, in that order (last year's are not).
long long bytes_behind(const std::string &dir, int port, const Position &at);

// uplink.state in dir: a line per port, "COMn FILE OFFSET". read_state
// leaves the ports it does not name as they are; write_state replaces the
// file whole (written beside it, synced, renamed), false when it cannot.
void read_state(const std::string &dir, Position positions[kPorts + 1]);
bool write_state(const std::string &dir, const Position positions[kPorts + 1]);

} // namespace uplink
