// The arrival-time index beside the data files, as a run writes it and as
// vornacq4-when reads it back: burst times, slices, rollover and pause, a
// replay logged again, steps of the clock, a stale index, a full disk.
#include "index_records.h"
#include "logger_process.h"
#include "run_fixture.h"

#include <cstdio>
#include <cstring>
#include <csignal>
#include <ctime>
#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>

using testing_support::is_directory;
using testing_support::consistent_records;
using testing_support::index_path;
using testing_support::read_segments;
using testing_support::Record;
using testing_support::Segment;
using testing_support::wall_us;

namespace {

std::string at_us(long long us)
{
    char text[32];
    std::snprintf(text, sizeof text, "@%lld.%06lld", us / 1000000, us % 1000000);
    return text;
}

long long parse_iso(const std::string &text)
{
    std::tm t{};
    double seconds = 0;
    std::sscanf(text.c_str(), "%d-%d-%dT%d:%d:%lfZ", &t.tm_year, &t.tm_mon, &t.tm_mday, &t.tm_hour, &t.tm_min,
                &seconds);
    t.tm_year -= 1900;
    t.tm_mon -= 1;
    return static_cast<long long>(timegm(&t)) * 1000000 + static_cast<long long>(seconds * 1e6 + 0.5);
}

} // namespace

class ArrivalIndex : public Acquisition {
protected:
    // Sends the bursts 300 ms apart into port 2 and ticks once; notes when
    // each was sent and when the queue held it: it arrived in between.
    void send_bursts(const std::vector<std::string> &bursts)
    {
        for (const std::string &b : bursts) {
            sent_at.push_back(wall_us());
            send(2, b);
            queued_at.push_back(wall_us());
            ::usleep(300 * 1000);
        }
        tick();
    }

    std::string path(long when, int port = 2) const { return start_dir() + "/" + data_file(when, port); }
    std::vector<long long> sent_at, queued_at;
};

TEST_F(ArrivalIndex, TellsWhenEachBurstArrivedAndSlicesByTime)
{
    start_run(at(10, 40, 5));
    const std::vector<std::string> bursts = {"$GPGGA,first*00\r\n", std::string("\0\x01\xff binary", 10),
                                             "$GPRMC,third*00\r\n"};
    send_bursts(bursts);
    const std::string data = path(at(10, 40, 5));
    long long offset = 0;
    for (std::size_t i = 0; i < bursts.size(); ++i) {
        const long long when = parse_iso(run_when({"when", "--utc", data, std::to_string(offset)}).out);
        EXPECT_TRUE(when >= sent_at[i] && when <= queued_at[i]) << "burst " << i << ": " << when - sent_at[i];
        offset += static_cast<long long>(bursts[i].size());
    }
    const std::string slice = start_dir() + "/slice";
    EXPECT_EQ(run_when({"slice", data, at_us(sent_at[1] - 100000), at_us(sent_at[1] + 100000), "-o", slice}).status, 0);
    EXPECT_EQ(read_file(slice), bursts[1]);
    EXPECT_EQ(run_when({"when", data, std::to_string(offset)}).status, 1) << "past the end";
}

TEST_F(ArrivalIndex, FollowsRolloverAndPauseAndNeverClaimsMoreThanTheData)
{
    start_run(at(10, 5, 30), 1);
    send(2, "before;");
    tick();
    ASSERT_TRUE(SeamClick(panelHandle, pause_button));
    send(2, "paused;");
    tick();
    ASSERT_TRUE(SeamClick(panelHandle, pause_button));
    set_clock(at(10, 6, 0));
    send(2, "rolled;");
    tick();
    send(2, "after;");
    tick();
    // The period before the rollover: two bursts, none while paused; after it, one.
    for (const auto &file : {std::make_pair(at(10, 5, 30), "before;rolled;"), std::make_pair(at(10, 6, 0), "after;")}) {
        const ToolRun check = run_when({"check", path(file.first)});
        const std::string &summary = check.out;
        EXPECT_EQ(check.status, 0) << check.both();
        EXPECT_EQ(read_file(path(file.first)), file.second);
        const std::string size = std::to_string(std::strlen(file.second));
        const std::string records = file.first == at(10, 6, 0) ? "1" : "2";
        EXPECT_NE(summary.find(size + " bytes, " + records + " records covering " + size + " bytes"),
                  std::string::npos)
            << summary;
    }
}

TEST_F(ArrivalIndex, DiskThatRefusesPartOfAWriteLosesOnlyThatAndTheIndexStaysTrue)
{
    start_run(at(10, 40, 5));
    // The disk takes 100 bytes, then none, then takes again.
    ::signal(SIGXFSZ, SIG_IGN);
    rlimit limit{100, RLIM_INFINITY};
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limit), 0);
    const std::string first = testing_support::stream_bytes(0, 150);
    send(2, first);
    tick();
    send(2, "refused;");
    tick();
    limit.rlim_cur = RLIM_INFINITY;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limit), 0);
    const long long tailFrom = wall_us();
    send(2, "tail;");
    const long long tailTo = wall_us();
    tick();
    EXPECT_EQ(read_file(path(at(10, 40, 5))), first.substr(0, 100) + "tail;");
    const ToolRun check = run_when({"check", path(at(10, 40, 5))});
    EXPECT_EQ(check.status, 0) << check.both();
    EXPECT_NE(check.out.find("105 bytes, 2 records covering 105 bytes"), std::string::npos) << check.out;
    const long long tailAt = parse_iso(run_when({"when", "--utc", path(at(10, 40, 5)), "100"}).out);
    EXPECT_TRUE(tailAt >= tailFrom && tailAt <= tailTo) << "dated as it arrived: " << tailAt - tailFrom;
}

TEST_F(ArrivalIndex, CanBeTurnedOffWithoutChangingTheData)
{
    index_enabled = 0;
    start_run(at(10, 40, 5));
    send(2, "no index;");
    tick();
    EXPECT_EQ(read_file(path(at(10, 40, 5))), "no index;");
    EXPECT_FALSE(is_directory(start_dir() + "/T045"));
}

// The replay waits half a second, then sends each burst as far after the
// first as the index says it came: no byte of a burst reaches the port
// before its time (a busy machine can only make it later).
TEST_F(ArrivalIndex, ReplayKeepsTheBytesAndTheirSpacing)
{
    start_run(at(10, 40, 5));
    send_bursts({"one;", "two;", "three;"});
    const std::vector<Record> recorded = consistent_records(start_dir() + "/" + data_file(at(10, 40, 5), 2));
    ASSERT_EQ(recorded.size(), 3u);
    // Replayed onto a new pseudo-terminal, which port 4 then logs again.
    LoggerProcess::Options o;
    o.binary = VORNACQ4_WHEN_BINARY;
    o.args = {"replay", "--delay", "0.5", path(at(10, 40, 5))};
    o.startDir = start_dir();
    o.stdoutPath = start_dir() + "/replay.out";
    o.stderrPath = start_dir() + "/replay.err";
    const long long launched = wall_us();
    LoggerProcess replay(o);
    std::string device; // its first line
    const auto named = [&] { return !(device = read_file(o.stdoutPath)).empty() && device.back() == '\n'; };
    ASSERT_TRUE(testing_support::eventually(named, kToolMs));
    device.pop_back();
    ASSERT_EQ(OpenComConfig(4, device.c_str(), 9600, 0, 8, 1, 0, 0), 0);
    std::string again;
    std::vector<ComArrival> marks;
    ASSERT_TRUE(testing_support::eventually(
        [&] {
            const int n = GetInQLen(4);
            char buffer[64];
            ComArrival arrived[8];
            if (n > 0 && ComRd(4, buffer, n) == n) {
                again.append(buffer, static_cast<std::size_t>(n));
                const int count = ComRdArrivals(4, arrived, 8);
                marks.insert(marks.end(), arrived, arrived + count);
            }
            return again.size() >= 14;
        },
        kToolMs));
    EXPECT_EQ(replay.wait_exit(kToolMs), 0) << read_file(o.stderrPath);
    EXPECT_EQ(again, "one;two;three;");
    // The mark that holds a burst's first byte ends after the burst was due,
    // and begins after it when the burst begins the mark.
    long long offset = 0;
    std::size_t burst = 0;
    for (const ComArrival &mark : marks) {
        for (; burst < recorded.size() && recorded[burst].offset < offset + mark.count; ++burst)
            EXPECT_GE(recorded[burst].offset == offset ? mark.first : mark.last,
                      launched + 500000 + recorded[burst].first - recorded[0].first)
                << "burst " << burst << " came early";
        offset += mark.count;
    }
}

// The system clock stepped back an hour and forward again, between ticks and
// between the reads of one tick: each read that goes back or jumps ahead
// begins a record of its own, dated as the clock said, and no record ends
// before it begins.
TEST_F(ArrivalIndex, StaysConsistentAcrossStepsOfTheClockWithinATickAndBetweenTicks)
{
    constexpr long long kHour = 3600LL * 1000000;
    start_run(at(10, 40, 5));
    const std::vector<std::pair<long long, std::string>> steps = {
        {0, "a;"}, {-kHour, "b;"}, {kHour, "c;"}, {0, "tick"}, {kHour, "d;"}, {0, "tick"}, {-kHour, "e;"}, {0, "tick"}};
    std::vector<long long> sent, queued; // as the stepped clock tells it
    std::string all;
    long long stepped = 0;
    for (const auto &step : steps) {
        SeamStepWallClock(step.first);
        stepped += step.first;
        if (step.second == "tick") {
            tick();
            continue;
        }
        sent.push_back(wall_us() + stepped);
        send(2, step.second);
        queued.push_back(wall_us() + stepped);
        all += step.second;
    }
    const std::string data = data_file(at(10, 40, 5), 2);
    EXPECT_EQ(file(data), all);
    const std::vector<Record> records = consistent_records(start_dir() + "/" + data);
    ASSERT_EQ(records.size(), 5u) << "one record a read: none joins a read across a step";
    for (std::size_t i = 0; i < records.size(); ++i)
        EXPECT_TRUE(records[i].first >= sent[i] && records[i].first <= queued[i])
            << "record " << i << " dated " << records[i].first - sent[i] << " us after it was sent";
    const Segment first = read_segments(read_file(index_path(start_dir() + "/" + data)))[0];
    EXPECT_EQ(first.flags, static_cast<unsigned long long>(ClockSynchronised()));
}

// Reads joined into one mark across a step back (more reads than the engine
// keeps marks for) end before they begin: the record ends where it begins.
TEST_F(ArrivalIndex, ReadsJoinedAcrossAStepBackNeverEndBeforeTheyBegin)
{
    start_run(at(10, 40, 5));
    const ComArrival marks[] = {{3, 5000000, 4000000}, {2, 1000000, 1000000}};
    ASSERT_EQ(RT_WriteFile(file_handle[2], "abcde", 5), 5);
    index_bytes(2, marks, 2, 5);
    const std::vector<Record> records = consistent_records(start_dir() + "/" + data_file(at(10, 40, 5), 2));
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0].last, 5000000);
    EXPECT_EQ(records[1].first, 1000000);
}

// A data file archived away while its index stayed: the data file made anew
// gets a fresh index, the old one is set aside under the first free name,
// and a data file that is appended to keeps its index.
TEST_F(ArrivalIndex, StaleIndexOfADataFileMadeAnewIsSetAside)
{
    const std::string data = data_file(at(10, 40, 5), 2), index = index_path(start_dir() + "/" + data);
    const std::string kept = data_file(at(10, 40, 5), 3), kept_index = index_path(start_dir() + "/" + kept);
    ASSERT_EQ(mkdir((start_dir() + "/T045").c_str(), 0755), 0);
    ASSERT_EQ(mkdir((start_dir() + "/D045").c_str(), 0755), 0);
    testing_support::write_file(index, "last year's index");
    testing_support::write_file(index + ".stale-1", "set aside before");
    testing_support::write_file(start_dir() + "/" + kept, "old;");
    const std::string old_index("\0VTI2\0\0\x04\x01\x01", 10); // "old;" at 1970-01-01
    testing_support::write_file(kept_index, old_index);
    start_run(at(10, 40, 5));
    send(2, "new;");
    send(3, "more;");
    tick();
    EXPECT_EQ(read_file(index + ".stale-2"), "last year's index");
    EXPECT_EQ(read_file(index + ".stale-1"), "set aside before");
    EXPECT_EQ(consistent_records(start_dir() + "/" + data).size(), 1u);
    EXPECT_EQ(read_file(kept_index).substr(0, old_index.size()), old_index) << "appended to";
    EXPECT_EQ(consistent_records(start_dir() + "/" + kept).size(), 2u);
    EXPECT_FALSE(testing_support::file_exists(kept_index + ".stale-1"));
}

// The day directories on a file system of 256 KiB: a tmpfs in a mount
// namespace of the test's own when it runs as root, else the process's
// files limited to that size. make_room() lets the disk take writes again.
class FullDisk : public ArrivalIndex {
protected:
    void SetUp() override
    {
        ArrivalIndex::SetUp();
        if (geteuid() != 0) {
            ::signal(SIGXFSZ, SIG_IGN);
            rlimit limit{256 * 1024, RLIM_INFINITY};
            ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limit), 0);
            return;
        }
        m_fs = start_dir() + "/fs";
        ASSERT_EQ(unshare(CLONE_NEWNS), 0);
        ASSERT_EQ(mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr), 0);
        ASSERT_EQ(mkdir(m_fs.c_str(), 0755), 0);
        ASSERT_EQ(mount("tmpfs", m_fs.c_str(), "tmpfs", 0, "size=256k"), 0);
        for (const char *dir : {"D045", "T045"}) {
            ASSERT_EQ(mkdir((m_fs + "/" + dir).c_str(), 0755), 0);
            ASSERT_EQ(symlink((m_fs + "/" + dir).c_str(), (start_dir() + "/" + dir).c_str()), 0);
        }
    }
    void make_room()
    {
        if (m_fs.empty()) {
            rlimit limit{RLIM_INFINITY, RLIM_INFINITY};
            ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limit), 0);
            return;
        }
        ASSERT_EQ(mount("tmpfs", m_fs.c_str(), "tmpfs", MS_REMOUNT, "size=4m"), 0);
    }
    std::string m_fs;
};

TEST_F(FullDisk, IsReportedOnceAsItBeginsAndOnceAsItEndsWithTheBytesLost)
{
    start_run(at(10, 40, 5));
    StderrCapture err(start_dir() + "/stderr.txt");
    const std::string sent = testing_support::stream_bytes(0, 12 * COM_QUEUE_MAX);
    ComStatus status{};
    for (std::size_t at_byte = 0; at_byte < sent.size(); at_byte += COM_QUEUE_MAX) {
        pty(5).write(sent.substr(at_byte, COM_QUEUE_MAX));
        ASSERT_TRUE(testing_support::eventually([&] {
            return GetComStatus(5, &status) == 0 && status.bytes == static_cast<long long>(at_byte + COM_QUEUE_MAX);
        }));
        tick();
    }
    set_clock(at(10, 40, 20));
    make_room();
    send(5, "tail;");
    tick();
    const std::string text = err.text();
    const std::string name = data_file(at(10, 40, 5), 5);
    const std::string data = file(name);
    ASSERT_GT(data.size(), 5u);
    const std::size_t kept = data.size() - 5;
    EXPECT_TRUE(sent.compare(0, kept, data, 0, kept) == 0 && data.compare(kept, 5, "tail;") == 0);
    ASSERT_LT(kept, sent.size()) << "the disk refused nothing";
    EXPECT_EQ(occurrences(text, "COM5: " + name + " refuses writes ("), 1) << text;
    EXPECT_EQ(occurrences(text, "COM5: " + name + " takes writes again after 15 s: " +
                                   std::to_string(sent.size() - kept) + " bytes lost"),
              1)
        << text;
    const std::string index = "T" + name.substr(1);
    EXPECT_LE(occurrences(text, index + " refuses writes"), 1) << text;
    EXPECT_EQ(occurrences(text, index + " refuses writes"), occurrences(text, index + " takes writes again"));
    EXPECT_EQ(occurrences(text, "WriteFile"), 0) << "no line of the engine's at each failure: " << text;
    consistent_records(start_dir() + "/" + name);
}

// An index that cannot be opened (a directory holds its name) is tried again
// at every tick, not at the next rollover: from the tick it opens, it covers
// the data file from where it then ended. Reported once each way.
TEST_F(ArrivalIndex, RefusedIndexIsOpenedAgainAtTheNextTick)
{
    const std::string data = data_file(at(10, 40, 5), 2), index = index_path(start_dir() + "/" + data);
    ASSERT_EQ(mkdir((start_dir() + "/T045").c_str(), 0755), 0);
    ASSERT_EQ(mkdir(index.c_str(), 0755), 0);
    StderrCapture err(start_dir() + "/stderr.txt");
    start_run(at(10, 40, 5));
    send(2, "unindexed;");
    tick();
    tick();
    ASSERT_EQ(rmdir(index.c_str()), 0);
    set_clock(at(10, 40, 9));
    send(2, "indexed;");
    tick();
    const std::string text = err.text();
    EXPECT_EQ(occurrences(text, "COM2: T045/04538405.C02 refuses writes (Is a directory)"), 1) << text;
    EXPECT_EQ(occurrences(text, "COM2: T045/04538405.C02 takes writes again after 4 s: the arrival times of 10 bytes lost"),
              1)
        << text;
    const std::vector<Segment> segments = read_segments(read_file(index));
    ASSERT_EQ(segments.size(), 1u);
    EXPECT_EQ(segments[0].offset, 10);
    ASSERT_EQ(segments[0].records.size(), 1u);
    EXPECT_EQ(segments[0].records[0].bytes, 8);
}
