// The real program's runs: the automatic start, and on simulated instruments
// every byte they send kept across midnight, a device that goes and comes
// back, SIGTERM and kill -9, the clock set back; what vornacq4-when reads
// back of them.
#include "index_records.h"
#include "instrument_sim.h"
#include "logger_station.h"
#include "pattern.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <regex>
#include <sstream>
#include <sys/inotify.h>
#include <unistd.h>

using testing_support::PacedWriter;
using testing_support::stream_bytes;
using testing_support::stream_intact;
using testing_support::eventually;
using testing_support::list_dir;
using testing_support::Pty;
using testing_support::read_file;
using testing_support::write_file;

using LoggerRun = Station;

namespace {

constexpr int kUnplugMs = 15000;
constexpr int kTickMs = 250; // the acquisition tick's interval

// Counts the opens of a file, as the kernel reports them. Its closes are
// watched too, so that no two events in a row are the same: the kernel
// would report those as one.
class OpenCounter {
public:
    explicit OpenCounter(const std::string &path) : m_fd(inotify_init1(IN_NONBLOCK | IN_CLOEXEC))
    {
        m_watching = m_fd >= 0 && inotify_add_watch(m_fd, path.c_str(), IN_OPEN | IN_CLOSE) >= 0;
    }
    ~OpenCounter() { ::close(m_fd); }
    OpenCounter(const OpenCounter &) = delete;
    OpenCounter &operator=(const OpenCounter &) = delete;

    bool watching() const { return m_watching; }
    int opens()
    {
        alignas(inotify_event) char buffer[4096];
        ssize_t n;
        while ((n = ::read(m_fd, buffer, sizeof buffer)) > 0)
            for (char *p = buffer; p < buffer + n; p += sizeof(inotify_event) + reinterpret_cast<inotify_event *>(p)->len)
                m_opens += (reinterpret_cast<inotify_event *>(p)->mask & IN_OPEN) != 0 ? 1 : 0;
        return m_opens;
    }

private:
    int m_fd;
    bool m_watching = false;
    int m_opens = 0;
};

// The arrival-time index beside a data file tells when every byte of it
// came, and no more.
void expect_index_covers(const std::string &data)
{
    const std::string size = std::to_string(read_file(data).size());
    const ToolRun check = run_when({"check", data});
    EXPECT_EQ(check.status, 0) << check.both();
    EXPECT_NE(check.out.find("covering " + size + " bytes"), std::string::npos) << check.both();
}

// Where a recording lies in its instrument's stream: the offsets [start, end).
struct Stretch {
    std::uint64_t start = 0, end = 0;
};

// Whether the recording is one unbroken stretch of the seeded stream, nothing
// lost, doubled or altered, that begins at an offset from `from` to `to`.
::testing::AssertionResult unbroken_stretch(const std::string &recording, std::uint64_t seed, std::uint64_t from,
                                            std::uint64_t to, Stretch &stretch)
{
    const auto *data = reinterpret_cast<const unsigned char *>(recording.data());
    if (recording.empty())
        return ::testing::AssertionFailure() << "nothing recorded";
    stretch.start = sim::pattern_locate(seed, data, recording.size(), from, to);
    if (stretch.start > to)
        return ::testing::AssertionFailure() << "it does not begin with the stream sent from offset " << from
                                             << " to " << to << " (after the line's last loss, before the run's first bytes)";
    const std::size_t good = sim::pattern_mismatch(seed, stretch.start, data, recording.size());
    if (good != recording.size())
        return ::testing::AssertionFailure() << "byte " << good << " of " << recording.size()
                                             << " is not the stream's byte at offset " << stretch.start + good;
    stretch.end = stretch.start + recording.size();
    return ::testing::AssertionSuccess();
}

} // namespace

TEST_F(LoggerRun, CountdownStartsTheRunWithOneFilePerLoggedPortInTheDayDirectory)
{
    // Ports 2 (slot 1), 5 and 9 logged; 6 present but not logged; port 11 is
    // logged in coms.cfg but has no device.
    map_ports({2, 5, 6, 9});
    set_table({{2, {9600, 1, 1, 0}}, {5, {19200, 1, 0, 0}}, {9, {115200, 1, 2, 1}}, {11, {9600, 1, 3, 0}}});
    const std::string table = read_file(in_start("coms.cfg"));

    LoggerProcess::Options o = options();
    o.fakeTime = "@2024-02-14 10:00:00"; // day 45; the clock runs on from there
    const auto spawned = std::chrono::steady_clock::now(); // the logger's clock starts after this
    LoggerProcess &logger = start_logger(o);
    // Sent while the countdown runs: not part of the recording.
    ASSERT_TRUE(eventually([&] { return !terminal_untouched(pty(2)); }, kStartupMs)) << logger.stderr_text();
    pty(2).write("$GPGGA,before the run*00\r\n");

    const std::string day = in_start("D045");
    ASSERT_TRUE(wait_for_run()) << logger.stderr_text();
    // The logger's clock cannot have run on further than the test's since it began.
    const long ranFor = static_cast<long>(
        std::chrono::duration<double>(std::chrono::steady_clock::now() - spawned).count()) + 1;
    const std::vector<std::string> files = list_dir(day);
    ASSERT_EQ(files.size(), 3u);
    const std::regex name("045(\\d{5})\\.C(\\d\\d)");
    std::vector<std::string> ports;
    for (const std::string &f : files) {
        std::smatch m;
        ASSERT_TRUE(std::regex_match(f, m, name)) << f;
        const int seconds = std::stoi(m[1]);
        EXPECT_GE(seconds, 10 * 3600 + 10) << f << ": after a countdown of about 12 s";
        EXPECT_LE(seconds, 10 * 3600 + ranFor) << f << ": named by the clock of its start";
        EXPECT_EQ(f.substr(0, 10), files[0].substr(0, 10)) << "one base for the whole set";
        ports.push_back(m[2]);
        EXPECT_EQ(read_file(day + "/" + f), "") << "nothing from before the start is logged";
    }
    EXPECT_EQ(ports, (std::vector<std::string>{"02", "05", "09"}));
    EXPECT_EQ(read_file(in_start("coms.cfg")), table) << "a table read whole is not rewritten";

    EXPECT_EQ(stop_logger(), 0) << logger.stderr_text();
}

// Six instruments from COM1 to COM18, at 4800 to 57600 baud, five of them
// shown in hexadecimal; the wall clock runs ten times fast from 23:57, so the
// run starts before midnight and crosses it. The logger gets SIGTERM while
// they talk, and the simulator stops at once after it: what the logger had
// not read stays on the lines and is counted undelivered.
TEST_F(LoggerRun, EveryByteSentAfterTheStartIsInItsPortsFilesAcrossMidnightAndAfterSigterm)
{
    const std::vector<int> ports = {1, 4, 7, 9, 13, 18};
    Simulator sim(start(), {"-s", "20", "-c", "COM1=pattern:4800", "COM4=pattern:57600", "COM7=pattern:9600",
                                 "COM9=pattern:19200", "COM13=pattern:38400", "COM18=pattern:9600"});
    ASSERT_TRUE(sim.ready()) << sim.stderr_text();
    LoggerProcess::Options o = options();
    o.fakeTime = "@2024-02-14 23:57:00 x10";
    LoggerProcess &logger = start_logger(o);

    // Every port's bytes reach its file before this snapshot: each file
    // begins before the offset the snapshot gives.
    const auto all_written = [&](const char *day) {
        const std::vector<std::string> files = list_dir(in_start(day));
        return files.size() == ports.size() &&
               std::all_of(files.begin(), files.end(),
                           [&](const std::string &f) { return file_size(in_start(day) + "/" + f) > 0; });
    };
    ASSERT_TRUE(eventually([&] { return all_written("D045"); }, kRunMs))
        << "no run before midnight\n" << logger.stderr_text();
    const std::map<int, SimReport> started = sim.snapshot();
    ASSERT_TRUE(eventually([&] { return all_written("D046"); }, kRunMs)) << logger.stderr_text();

    // Half a tick after one: the queues hold bytes that no tick has written.
    // The instruments are frozen just after the SIGTERM: a line nobody reads
    // any more would fill and refuse bytes, a loss that is not the logger's,
    // if they talked on for as long as a loaded machine takes from here.
    ::usleep(kTickMs * 1000 * 5 / 2);
    logger.signal(SIGTERM);
    sim.process().signal(SIGSTOP);
    EXPECT_EQ(logger.wait_exit(kExitMs), 0) << logger.stderr_text();
    sim.process().signal(SIGTERM);
    sim.process().signal(SIGCONT);
    ASSERT_EQ(sim.process().wait_exit(kExitMs), 0);

    const std::map<int, SimReport> ended = sim.report();
    for (int port : ports) {
        SCOPED_TRACE("COM" + std::to_string(port));
        for (const char *day : {"D045", "D046"}) {
            const std::vector<std::string> files = port_files(day, port);
            ASSERT_EQ(files.size(), 1u) << day << " holds the file of its period";
            expect_index_covers(files[0]);
        }
        const SimReport &r = ended.at(port);
        Stretch s;
        ASSERT_TRUE(unbroken_stretch(recording(port), r.seed, r.intactFrom, started.at(port).reached(), s));
        EXPECT_EQ(s.end, r.delivered_to()) << "what the logger had taken when SIGTERM came is all in its files";
    }
}

// COM2 reaches its instrument through a link, as a by-id name does: once the
// run has its bytes, the adapter is pulled (the link goes, the terminal hangs
// up) and a new one comes back under the same link; COM5 talks on until
// kill -9, which costs it nothing the logger had written.
TEST_F(LoggerRun, AnInstrumentUnpluggedAndBackResumesIntoItsFileAndKill9LosesNothingWritten)
{
    constexpr long kRate = 3840; // 38400 baud
    constexpr std::uint64_t kBurst = 2 * kRate;
    const std::string link = top() + "/usb-adapter";
    Pty first, second;
    ASSERT_EQ(symlink(first.path().c_str(), link.c_str()), 0);
    map_ports({5}, {}, {{2, link}});
    set_table({{2, {38400, 1, 0, 0}}, {5, {9600, 1, 0, 0}}});
    LoggerProcess::Options o = options();
    o.fakeTime = "@2024-02-14 10:00:00"; // no rollover in the minute this takes
    LoggerProcess &logger = start_logger(o);
    ASSERT_TRUE(wait_for_run()) << logger.stderr_text();
    PacedWriter com5({pty(5).master()}, 960, PacedWriter::kEndless);
    {
        PacedWriter com2({first.master()}, kRate, kBurst);
        ASSERT_TRUE(eventually([&] { return recording(2).size() >= kBurst; }, kUnplugMs)) << logger.stderr_text();
    }
    ASSERT_TRUE(recording(2) == stream_bytes(0, kBurst));

    // Pulled. While the device is gone the logger looks for it once a second,
    // no more: with a file that is no terminal under its name, each look is
    // an open of that file.
    ASSERT_EQ(unlink(link.c_str()), 0);
    first.close();
    write_file(link, "no terminal");
    const auto goneAt = std::chrono::steady_clock::now();
    OpenCounter looks(link);
    ASSERT_TRUE(looks.watching());
    ASSERT_TRUE(eventually([&] { return looks.opens() >= 2; }, kUnplugMs)) << "looked for while gone";
    ASSERT_EQ(unlink(link.c_str()), 0);
    const double goneFor = std::chrono::duration<double>(std::chrono::steady_clock::now() - goneAt).count();
    const int opens = looks.opens();
    EXPECT_LE(opens, static_cast<int>(goneFor) + 2) << opens << " looks in " << goneFor << " s";

    // Back under the same name: once the logger has it again (raw), the
    // stream goes on where it left off, into the same file.
    ASSERT_EQ(symlink(second.path().c_str(), link.c_str()), 0);
    ASSERT_TRUE(eventually([&] { return !terminal_untouched(second); }, kUnplugMs)) << logger.stderr_text();
    {
        PacedWriter com2({second.master()}, kRate, kBurst, kBurst);
        ASSERT_TRUE(eventually([&] { return recording(2).size() >= 2 * kBurst; }, kUnplugMs))
            << logger.stderr_text();
    }
    const long long com5Written = written(5);
    ASSERT_GT(com5Written, 0);
    logger.signal(SIGKILL);
    EXPECT_EQ(logger.wait_exit(kExitMs), -1);

    EXPECT_EQ(port_files("D045", 2).size(), 1u);
    EXPECT_TRUE(recording(2) == stream_bytes(0, 2 * kBurst)) << "nothing lost, doubled or altered across the unplug";
    EXPECT_EQ(port_files("D045", 5).size(), 1u);
    const std::string com5Recorded = recording(5);
    EXPECT_GE(static_cast<long long>(com5Recorded.size()), com5Written) << "kill -9 takes nothing written";
    EXPECT_TRUE(stream_intact(com5Recorded.data(), com5Recorded.size(), 0));
    for (int port : {2, 5}) {
        // Killed between a tick's data and its index, the index may lack that
        // tick's records; it never claims a byte the data file lacks.
        const ToolRun check = run_when({"check", port_files("D045", port).at(0)});
        EXPECT_EQ(check.status, 0) << "COM" << port << ": " << check.both();
    }
}

// A GPS receiver recorded by the real logger: vornacq4-when's lines are its
// sentences, one row each, dated as `when` dates the sentence's first byte.
TEST_F(LoggerRun, LinesOfARecordedGpsReceiverAreItsSentencesAtTheTimesOfTheirFirstBytes)
{
    Simulator sim(start(), {"-c", "COM3=nmea:4800"});
    ASSERT_TRUE(sim.ready()) << sim.stderr_text();
    LoggerProcess::Options o = options();
    o.fakeTime = "@2024-02-14 10:00:00";
    LoggerProcess &logger = start_logger(o);
    const auto recorded = [&] {
        return run_begun() && written(3) > 1500;
    };
    ASSERT_TRUE(eventually(recorded, kRunMs + 10000)) << logger.stderr_text();
    ASSERT_EQ(stop_logger(), 0) << logger.stderr_text();
    sim.process().signal(SIGTERM);
    sim.process().wait_exit(kExitMs);

    const std::string file = port_files("D045", 3).at(0), data = read_file(file);
    const ToolRun lines = run_when({"lines", "--utc", file});
    ASSERT_EQ(lines.status, 0) << lines.err;
    std::istringstream rows(lines.out);
    std::size_t at = 0, sentences = 0;
    for (std::string row; std::getline(rows, row); ++sentences) {
        ASSERT_LT(at, data.size()) << "more rows than lines: " << row;
        const std::size_t end = std::min(data.find("\r\n", at), data.size());
        const std::string dated = run_when({"when", "--utc", file, std::to_string(at)}).out;
        EXPECT_EQ(row, dated.substr(0, dated.size() - 1) + "\t" + data.substr(at, end - at));
        EXPECT_TRUE(sentences == 0 || data[at] == '$') << row;
        at = end + 2;
    }
    EXPECT_GE(at, data.size()) << "a line left out";
    EXPECT_GE(sentences, 4u);
}

// The real program's clock set back an hour and forward again during a run
// (libfaketime, reading its setting from a file at every clock reading): each
// burst is dated as the clock said when it was read, and
// every index stays whole, with no record that ends before it begins.
TEST_F(LoggerRun, IndexStaysWholeWhenTheClockIsSetBackAnHourAndForwardAgain)
{
    map_ports({2});
    set_table({{2, {9600, 1, 0, 0}}});
    const std::string clock = top() + "/faketime.rc"; // an offset from the real time
    write_file(clock, "+0");
    LoggerProcess::Options o = options();
    o.env = {{"LD_PRELOAD", FAKETIME_LIB},
             {"FAKETIME_TIMESTAMP_FILE", clock},
             {"FAKETIME_NO_CACHE", "1"},
             {"FAKETIME_DONT_FAKE_MONOTONIC", "1"}};
    LoggerProcess &logger = start_logger(o);
    // The run has begun once the port is open (raw) and flushed, just after.
    ASSERT_TRUE(eventually([&] { return !data_files(2).empty() && !terminal_untouched(pty(2)); }, kRunMs))
        << logger.stderr_text();

    // Each burst once the one before is in its file, so each is read and
    // dated in a tick of its own, and the clock set (back an hour, forward
    // again) only then; when each was sent and seen in its file bounds when
    // it was read.
    struct Burst {
        std::string bytes;
        long long shift; // the clock's offset while it is read, in microseconds
        long long sent = 0, seen = 0;
    };
    const long long hour = 3600000000LL;
    std::vector<Burst> bursts = {{"a;", 0}, {"bb;", -hour}, {"ccc;", -hour}, {"dddd;", 0}};
    // The port's queue is emptied as it opens: a byte now and then until one lands.
    long long wrote = 0;
    ASSERT_TRUE(eventually(
        [&] {
            if (testing_support::wall_us() - wrote > 300000)
                pty(2).write("w"), wrote = testing_support::wall_us();
            return !recording(2).empty();
        },
        kRunMs));
    for (std::size_t i = 0; i < bursts.size(); ++i) { // (each clock setting is also a rollover)
        Burst &b = bursts[i];
        b.sent = testing_support::wall_us();
        pty(2).write(b.bytes);
        ASSERT_TRUE(eventually([&] { return recording(2).find(b.bytes) != std::string::npos; }, kRunMs))
            << recording(2);
        b.seen = testing_support::wall_us();
        if (i + 1 < bursts.size() && bursts[i + 1].shift != b.shift) {
            write_file(clock + ".new", bursts[i + 1].shift == 0 ? "+0" : "-1h");
            ASSERT_EQ(std::rename((clock + ".new").c_str(), clock.c_str()), 0); // never read half written
        }
    }
    ASSERT_EQ(stop_logger(), 0) << logger.stderr_text();

    std::map<std::string, long long> first; // each burst's bytes -> when it arrived
    for (const std::string &data : data_files(2))
        for (const testing_support::Record &r : testing_support::consistent_records(data))
            first[read_file(data).substr(static_cast<std::size_t>(r.offset), static_cast<std::size_t>(r.bytes))] = r.first;
    for (const Burst &b : bursts)
        ASSERT_EQ(first.count(b.bytes), 1u) << "one record a burst: " << b.bytes;
    for (std::size_t i = 1; i < bursts.size(); ++i) {
        const Burst &a = bursts[i - 1], &b = bursts[i];
        const long long step = first[b.bytes] - first[a.bytes] - (b.shift - a.shift);
        EXPECT_GE(step, b.sent - a.seen - 1000) << a.bytes << " -> " << b.bytes; // a millisecond for the clocks' grain
        EXPECT_LE(step, b.seen - a.sent + 1000) << a.bytes << " -> " << b.bytes;
    }
}
