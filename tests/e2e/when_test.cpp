// vornacq4-when, the real binary, on recordings whose indexes the tests
// encode themselves (every version of segment), so that every case of the
// format can be had: clock steps, damage, torn records, hostile files.
#include "instrument_sim.h"
#include "logger_process.h"
#include "test_support.h"
#include "when_recordings.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <functional>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <termios.h>
#include <unistd.h>

using testing_support::Pty;
using testing_support::read_file;
using testing_support::TempDir;
using testing_support::write_file;

namespace {

// Three bursts; the third after the clock was set back an hour.
const std::vector<Rec> kStepped = {{10, k1403, k1403 + 9000}, {10, k1403 + 60 * kSecond, k1403 + 60 * kSecond},
                                   {10, k1403 - 3600 * kSecond, k1403 - 3600 * kSecond + 4500}};

TEST(WhenIndex, VersionsOneTwoAndThreeReadAlikeAClockSetBackIsKeptAndAnUnsynchronisedStartIsReported)
{
    TempDir dir;
    const std::string data(30, 'x');
    const std::string v1 = recording(dir, "04550400.C01", data, segment(1, 0, kStepped));
    const std::string v2 = recording(dir, "04550400.C02", data, segment(2, 0, kStepped, 0));
    const std::string v3 = recording(dir, "04550400.C03", data, segment(3, 0, kStepped, 0));
    const ToolRun records = run_when({"records", "--utc", v1});
    EXPECT_EQ(records.status, 0);
    EXPECT_EQ(records.out, "0\t10\t2024-02-14T14:03:00.000000Z\t2024-02-14T14:03:00.009000Z\tdata\n"
                            "10\t10\t2024-02-14T14:04:00.000000Z\t2024-02-14T14:04:00.000000Z\tdata\n"
                            "20\t10\t2024-02-14T13:03:00.000000Z\t2024-02-14T13:03:00.004500Z\tdata\n");
    EXPECT_EQ(run_when({"records", "--utc", v2}).out, records.out);
    EXPECT_EQ(run_when({"records", "--utc", v3}).out, records.out);
    EXPECT_EQ(run_when({"when", "--utc", v2, "22"}).out, "2024-02-14T13:03:00.001000Z\n");
    EXPECT_EQ(run_when({"when", "--utc", v3, "22"}).out, "2024-02-14T13:03:00.001000Z\n");

    const ToolRun checkV1 = run_when({"check", v1}), checkV2 = run_when({"check", v2});
    EXPECT_EQ(checkV1.status, 0) << checkV1.both();
    EXPECT_EQ(checkV2.status, 0) << checkV2.both();
    EXPECT_TRUE(has(checkV2.both(), "covering 30 bytes") && has(checkV2.both(), "agrees")) << checkV2.both();
    EXPECT_TRUE(has(checkV2.both(), "1 of 1 segments began on an unsynchronised clock")) << checkV2.both();
    EXPECT_FALSE(has(checkV1.both(), "unsynchronised")) << "a version-1 segment says nothing of its clock";
}

struct CheckCase {
    const char *name;
    std::string index;
    std::size_t dataLength;
    int status;
    const char *says;
};

TEST(WhenCheck, DamagedIndexesNeverAgreeAndTornOrShortOnesDo)
{
    const std::string sound = segment(2, 0, {{10, k1403, k1403 + 100}, {10, k1403 + kSecond, k1403 + kSecond}});
    std::string empty;
    for (int i = 0; i < 20000; ++i)
        empty += segment(2, 0, {});
    const std::uint64_t huge = ~0ull - (1ull << 40) + 1;
    const CheckCase cases[] = {
        {"records beyond the data", sound, 15, 1, "claim bytes the data file does not hold"},
        {"huge offset and count", segment(1, 0, {}).substr(0, 5) + varint(huge) + varint((1ull << 40) + 10), 20, 1,
         "longer than 10 bytes or 63 bits"},
        {"count beyond the data", segment(2, 0, {{(1LL << 40) + 10, k1403, k1403}}), 20, 1, "claim bytes"},
        {"overlong varint", segment(2, 0, {}) + std::string(12, '\x85') + "\x01\x01", 20, 1, "longer than 10 bytes"},
        {"a time in 2300", segment(2, 0, {{5, k1403 * 5, k1403 * 5}}), 20, 1, "outside 1970..2200"},
        {"a mark then noise", segment(1, 0, {}) + "\x7F\xFF\xFF\x7F\x13\x88\x99\x01\x02\x03\x7F\x7F", 20, 1, "damaged"},
        {"a torn tail", sound.substr(0, sound.size() - 1), 20, 0, "1 records cut short"},
        {"a tail not indexed (kill -9)", sound, 25, 0, "the last 5 bytes are not indexed"},
        {"20,000 empty segments", empty, 0, 0, "(20000 segments) agrees"},
    };
    TempDir dir;
    for (const CheckCase &c : cases) {
        SCOPED_TRACE(c.name);
        const ToolRun out = run_when({"check", recording(dir, "04550400.C01", std::string(c.dataLength, 'x'), c.index)});
        EXPECT_EQ(out.status, c.status) << out.both();
        EXPECT_TRUE(has(out.both(), c.says)) << out.both();
        EXPECT_EQ(has(out.both(), "agrees"), c.status == 0) << out.both();
    }
}

// Bytes the logger could not keep: a gap record where they would have been,
// between two records whose bytes lie side by side in the file, in a file
// whose index holds a version-2 segment before it.
TEST(WhenIndex, AGapIsListedByCheckAndCoverageAndSaidBySliceAndLinesAndDatesNoByte)
{
    TempDir dir;
    const std::string index = segment(2, 0, {{4, k1403, k1403}}) +
                              segment(3, 4, {{4, k1403 + kSecond, k1403 + kSecond},
                                             {5000, k1403 + 2 * kSecond, k1403 + 90 * kSecond, true},
                                             {4, k1403 + 91 * kSecond, k1403 + 91 * kSecond}});
    const std::string f = recording(dir, "04550400.C01", "one\ntwo\nsix\n", index);
    const std::string said = "5000 bytes missing at byte 8, from 2024-02-14T14:03:02.000000Z to "
                             "2024-02-14T14:04:30.000000Z: the logger could not keep them";

    const ToolRun check = run_when({"check", "--utc", f});
    EXPECT_EQ(check.status, 0) << check.both();
    EXPECT_TRUE(has(check.out, "3 records covering 12 bytes")) << check.both();
    EXPECT_TRUE(has(check.out, "1 gaps: 5000 bytes arrived that the logger could not keep\ngap: " + said)) << check.both();
    const ToolRun coverage = run_when({"coverage", "--utc", f});
    EXPECT_TRUE(has(coverage.out, "12 bytes, 12 of them dated, 5000 missing in 1 gaps\n  gap: " + said)) << coverage.both();
    EXPECT_FALSE(has(coverage.both(), "silent")) << "the instrument sent all along";
    EXPECT_TRUE(has(run_when({"records", "--utc", f}).out, "8\t5000\t2024-02-14T14:03:02.000000Z\t2024-02-14T14:04:30.000000Z\tgap\n"));
    EXPECT_EQ(run_when({"when", "--utc", f, "8"}).out, "2024-02-14T14:04:31.000000Z\n") << "a gap dates no byte";

    const ToolRun slice = run_when({"slice", f, "@1707919381", "@1707919472"});
    EXPECT_EQ(slice.status, 0);
    EXPECT_EQ(slice.out, "two\nsix\n");
    EXPECT_TRUE(has(slice.err, "vornacq4-when: " + f + ": 5000 bytes missing at byte 8")) << slice.err;
    EXPECT_FALSE(has(run_when({"slice", f, "@1707919380", "@1707919382"}).err, "missing")) << "before the gap";
    const ToolRun lines = run_when({"lines", "--utc", f});
    EXPECT_TRUE(has(lines.out, "2024-02-14T14:04:31.000000Z\tsix\n") && has(lines.both(), said)) << lines.both();
}

TEST(WhenCheck, AnIndexThatIsAPipeADeviceOrADirectoryIsRefusedAtOnce)
{
    TempDir dir;
    const std::string data = recording(dir, "04550400.C01", "x", "");
    const std::string index = dir.file("T045/04550400.C01");
    const std::function<void()> makers[] = {[&] { mkfifo(index.c_str(), 0644); },
                                            [&] { symlink("/dev/zero", index.c_str()); },
                                            [&] { mkdir(index.c_str(), 0755); }};
    for (const auto &make : makers) {
        unlink(index.c_str());
        rmdir(index.c_str());
        make();
        const std::vector<std::string> commands[] = {{"check", data}, {"when", data, "0"}, {"slice", data, "@0", "@9"}};
        for (const std::vector<std::string> &command : commands) {
            const ToolRun out = run_when(command);
            EXPECT_EQ(out.status, 1) << command[0] << ": " << out.both() << (out.timedOut ? "(it hung)" : "");
            EXPECT_TRUE(has(out.err, "is not a regular file")) << out.both();
        }
    }
}

TEST(WhenTimes, OffsetsAndLocalTimeUnderBerlinSliceTheSameBytesAsUtc)
{
    TempDir dir;
    const std::string f = recording(dir, "04550400.C01", "aaaabbbbcccc",
                                    segment(2, 0, {{4, k1403, k1403}, {4, k1403 + 30 * kSecond, k1403 + 30 * kSecond},
                                                   {4, k1403 + 70 * kSecond, k1403 + 70 * kSecond}}));
    const std::string out = dir.file("out");
    const auto slice = [&](const std::string &from, const std::string &to, const char *tz) {
        unlink(out.c_str());
        const ToolRun o = run_when({"slice", f, from, to, "-o", out}, tz);
        return std::to_string(o.status) + ":" + (o.status == 0 ? read_file(out) : o.both());
    };
    const std::string expected = "0:aaaabbbb";
    EXPECT_EQ(slice("2024-02-14T14:03:00Z", "2024-02-14T14:04:00Z", "Europe/Berlin"), expected);
    EXPECT_EQ(slice("2024-02-14T15:03:00+01:00", "2024-02-14T15:04:00+01:00", "Europe/Berlin"), expected);
    EXPECT_EQ(slice("2024-02-14T15:03:00", "2024-02-14 15:04", "Europe/Berlin"), expected);
    EXPECT_EQ(slice("2024-02-14T14:03:00", "2024-02-14T14:04:00", "UTC"), expected);
    EXPECT_EQ(slice("2024-02-14T09:03:30-05:00", "@1707919460", "UTC"), "0:bbbbcccc");
    const std::string nothing = slice("2024-02-14T14:03:00", "2024-02-14T14:04:00", "Europe/Berlin");
    EXPECT_TRUE(has(nothing, "1:vornacq4-when: nothing in")) << nothing;
    EXPECT_EQ(run_when({"slice", f, "2024-02-30T25:00:00Z", "@1"}).status, 2);
    // A day past its month's end, and a local time the clocks skipped, are no times.
    EXPECT_TRUE(has(run_when({"slice", f, "2023-02-29T10:00:00Z", "@1"}).err, "2023-02-29T10:00:00Z is no time"));
    EXPECT_TRUE(has(run_when({"slice", f, "2024-03-31T02:30:00", "@1"}, "Europe/Berlin").err, "is no time"));
    EXPECT_EQ(run_when({"slice", f, "2024-02-29T10:00:00Z", "@1"}).status, 1) << "a leap day is a day";

    EXPECT_EQ(run_when({"when", f, "5"}, "Europe/Berlin").out, "2024-02-14T15:03:30.000000+01:00\n");
    EXPECT_EQ(run_when({"when", f, "5", "--utc"}, "Europe/Berlin").out, "2024-02-14T14:03:30.000000Z\n");
    EXPECT_EQ(run_when({"when", f, "5"}, "UTC").out, "2024-02-14T14:03:30.000000+00:00\n");
}

// The recording the Windows tests slice as well (tests/fixtures/when): the
// window, given in UTC, takes bytes of four bursts on both sides of a clock
// set back, every byte value among them, the same to stdout as to a file.
TEST(WhenSlice, TheSharedRecordingGivesTheBytesThatArrivedInTheWindowAndNoOther)
{
    const std::string fixture = WHEN_FIXTURE_DIR;
    const std::string expected = read_file(fixture + "/slice.bin");
    ASSERT_EQ(expected.size(), 768u) << "the fixture is missing or cut short";
    const std::vector<std::string> args = {"slice", fixture + "/D045/04550400.C01", "2024-02-14T14:03:02.35Z",
                                           "2024-02-14T14:03:04.6Z"};
    TempDir dir;
    std::vector<std::string> toOut = args;
    toOut.insert(toOut.end(), {"-o", dir.file("out")});
    const ToolRun toStdout = run_when(args, "Europe/Berlin");
    const ToolRun toFile = run_when(toOut, "Europe/Berlin");
    EXPECT_EQ(toStdout.status, 0);
    EXPECT_TRUE(toStdout.out == expected) << "stdout gave " << toStdout.out.size() << " bytes, not those of slice.bin";
    EXPECT_EQ(toFile.status, 0) << toFile.both();
    EXPECT_TRUE(read_file(dir.file("out")) == expected) << "-o OUT holds other bytes than slice.bin";
}

// Two consecutive files of a GPS receiver: the second sentence is split
// across three bursts and the two files, its CR LF too.
TEST(WhenLines, EachLineAcrossFilesHasTheTimeOfItsFirstByte)
{
    TempDir dir;
    const std::string one = "$GPGGA,1*00\r\n$GPRMC,\"q\"*11\r", two = "\n$GPVTG\rlast";
    const std::string f1 = recording(dir, "04550400.C01", one,
                                     segment(2, 0, {{13, k1403, k1403 + 1000}, {5, k1403 + kSecond, k1403 + kSecond},
                                                    {9, k1403 + 2 * kSecond, k1403 + 2 * kSecond + 4000}}));
    const std::string f2 = recording(dir, "04554000.C01", two,
                                     segment(2, 0, {{1, k1403 + 3 * kSecond, k1403 + 3 * kSecond},
                                                    {7, k1403 + 4 * kSecond, k1403 + 4 * kSecond + 9000}}));
    const ToolRun lines = run_when({"lines", "--utc", f1, f2});
    EXPECT_EQ(lines.status, 0);
    EXPECT_EQ(lines.out, run_when({"when", "--utc", f1, "0"}).out.substr(0, 27) + "\t$GPGGA,1*00\n" +
                             run_when({"when", "--utc", f1, "13"}).out.substr(0, 27) + "\t$GPRMC,\"q\"*11\n" +
                             run_when({"when", "--utc", f2, "1"}).out.substr(0, 27) + "\t$GPVTG\n" +
                             "\tlast\n");
    const ToolRun csv = run_when({"lines", "--csv", "--utc", f1});
    EXPECT_EQ(csv.out, "time,line\r\n2024-02-14T14:03:00.000000Z,\"$GPGGA,1*00\"\r\n"
                        "2024-02-14T14:03:01.000000Z,\"$GPRMC,\"\"q\"\"*11\"\r\n");
}

TEST(WhenCoverage, NamesEachFilesSpanAndSilencesAndSkipsIndexesSetAside)
{
    TempDir dir;
    recording(dir, "04550400.C01", "0123456789",
              segment(2, 0, {{5, k1403, k1403 + 1000}, {5, k1403 + 200 * kSecond, k1403 + 200 * kSecond}}));
    write_file(dir.file("T045/04550400.C01.stale-1"), "\x7F\x7F\x7F garbage");
    const ToolRun out = run_when({"coverage", "--utc", "--gap", "100", dir.file("D045")});
    EXPECT_EQ(out.status, 0) << out.both();
    EXPECT_EQ(out.out, dir.file("D045/04550400.C01") +
                            ": 2024-02-14T14:03:00.000000Z to 2024-02-14T14:06:20.000000Z, 10 bytes, 10 of them dated\n"
                            "  silent 2024-02-14T14:03:00.001000Z to 2024-02-14T14:06:20.000000Z (200 s)\n");
    EXPECT_EQ(run_when({"check", dir.file("D045/04550400.C01")}).status, 0);
    EXPECT_FALSE(has(run_when({"coverage", "--gap", "300", dir.file("D045")}).out, "silent"));
}

TEST(WhenReplay, RefusesAnythingButATerminalWithoutWritingAByte)
{
    TempDir dir;
    const std::string f = recording(dir, "04550400.C01", "abc", segment(2, 0, {{3, k1403, k1403}}));
    write_file(dir.file("victim"), "keep me");
    for (const std::string &target : {dir.file("victim"), std::string("/dev/null"), dir.file("D045")}) {
        const ToolRun out = run_when({"replay", f, "--to", target});
        EXPECT_EQ(out.status, 1) << target;
        EXPECT_TRUE(has(out.err, "is not a terminal device")) << out.both();
    }
    EXPECT_EQ(read_file(dir.file("victim")), "keep me");
    Pty pty;
    EXPECT_EQ(run_when({"replay", f, "--to", pty.path(), "--baud", "12345"}).status, 1);
}

// A recording with the clock set back an hour, then forward two: the step
// back is no wait, the step forward waits no longer than --max-gap.
TEST(WhenReplay, OntoATerminalRawAtItsRateThroughClockSteps)
{
    TempDir dir;
    const std::string f = recording(dir, "04550400.C01", "0123456789abcdefghij0123456789",
                                    segment(2, 0, {kStepped[0], kStepped[2], {10, k1403 + 3600 * kSecond, k1403 + 3600 * kSecond}}));
    Pty pty;
    fcntl(pty.master(), F_SETFL, fcntl(pty.master(), F_GETFL) | O_NONBLOCK);
    const ToolRun out = run_when({"replay", f, "--to", pty.path(), "--baud", "9600", "--max-gap", "0.2"});
    EXPECT_EQ(out.status, 0) << out.both();
    EXPECT_EQ(read_device(pty.master(), 30, 5000), "0123456789abcdefghij0123456789");
    termios tio{};
    ASSERT_EQ(tcgetattr(pty.slave(), &tio), 0);
    EXPECT_EQ(cfgetospeed(&tio), static_cast<speed_t>(B9600));
    EXPECT_EQ(tio.c_lflag & (ICANON | ECHO), 0u) << "raw";
}


TEST(WhenOptions, GetoptRulesAnUnknownOptionIsRefusedAndDashDashEndsThem)
{
    TempDir dir;
    const std::string f = recording(dir, "04550400.C01", std::string(30, 'x'), segment(2, 0, kStepped));
    const std::string records = run_when({"records", f}).out;
    const struct {
        std::vector<std::string> args;
        int status;
        std::string says;
    } cases[] = {
        {{"records", f, "--bogus"}, 2, "unrecognized option '--bogus'"},
        {{"records", "--bogus", f}, 2, "usage:"},
        {{"coverage", f, "--gap"}, 2, "requires an argument"},
        {{"records", "--", f}, 0, records},
        {{"when", f, "--", "22"}, 0, "2024-02-14T13:03:00.001000+00:00\n"},
    };
    for (const auto &c : cases) {
        const ToolRun out = run_when(c.args);
        EXPECT_EQ(out.status, c.status) << ::testing::PrintToString(c.args) << "\n" << out.both();
        EXPECT_TRUE(has(out.both(), c.says)) << ::testing::PrintToString(c.args) << "\n" << out.both();
    }
}

} // namespace
