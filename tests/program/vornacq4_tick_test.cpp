// A run's ticks: bytes from pseudo-terminals into the displays and the data
// files, the rollovers under a substituted clock, pause and resume, and what
// the tick does when a file, a directory or a device lets it down.
#include "run_fixture.h"

#include <algorithm>
#include <functional>
#include <sys/stat.h>
#include <unistd.h>

using testing_support::file_exists;
using testing_support::list_dir;
using testing_support::read_file;

TEST_F(Acquisition, EveryByteReachesItsFileUnalteredWhileTheTextViewStopsAtAZero)
{
    start_run(at(10, 40, 5));
    const std::string line = "$GPGGA,1*4B\r\n", cut("A\0B", 3), all = byte_values(0, 255);
    send(2, line);
    send(5, all);
    tick();
    send(2, cut);
    tick();
    send(2, all);
    tick();
    EXPECT_EQ(text(1), "$GPGGA,1*4B\nA") << "the view stops at each read's first zero byte";
    EXPECT_EQ(file(data_file(at(10, 40, 5), 2)), line + cut + all);
    EXPECT_EQ(file(data_file(at(10, 40, 5), 5)), all);
}

TEST_F(Acquisition, HexadecimalLinesHoldSixteenBytesAcrossTicksAndAFullQueueFits)
{
    start_run(at(10, 40, 5));
    send(3, byte_values(0, 19));
    tick();
    EXPECT_EQ(text(2), "00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F \n10 11 12 13 ");
    EXPECT_EQ(have_cvted[3], 12);
    send(3, byte_values(20, 31));
    tick();
    EXPECT_EQ(text(2), "00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F \n"
                       "10 11 12 13 14 15 16 17 18 19 1A 1B 1C 1D 1E 1F \n");

    // A full queue in one tick: all of its text, the last line whole.
    send(3, testing_support::stream_bytes(0, COM_QUEUE_MAX));
    tick();
    EXPECT_EQ(std::string(hex_buf[3]).size(), 3u * COM_QUEUE_MAX + 2u * COM_QUEUE_MAX / 16);
    const std::string shown = text(2);
    EXPECT_EQ(shown.substr(shown.size() - 49), "6B 6C 6D 6E 6F 70 71 72 73 74 75 76 77 78 79 7A \n");
    EXPECT_EQ(file(data_file(at(10, 40, 5), 3)).size(), 32u + COM_QUEUE_MAX);
}

TEST_F(Acquisition, DisplayIsCutBackToTheLatestReadEveryFifteenTicksWithinAMinute)
{
    start_run(at(10, 40, 5), 5);
    for (int i = 1; i <= REFRESH_COUNT; ++i) {
        send(2, "line " + std::to_string(i) + "\r\n");
        tick();
        const std::string shown = text(1);
        if (i == REFRESH_COUNT - 1) {
            EXPECT_EQ(std::count(shown.begin(), shown.end(), '\n'), REFRESH_COUNT - 1);
        }
    }
    EXPECT_EQ(text(1), "line 15\n");
}

// Ticks every `step` seconds from `start` until `end`, each bringing its own
// bytes; a rollover is expected at each time in `rollovers`.
struct Cadence {
    const char *what;
    int minutes; // 0: hourly
    long start, end, step;
    std::vector<long> rollovers;
};

PRINTED_AS_WHAT(Cadence)

class Rollover : public Acquisition, public ::testing::WithParamInterface<Cadence> {};

TEST_P(Rollover, BeginsEachSetAtItsMomentAndTheFilesJoinToWhatWasSent)
{
    const Cadence &c = GetParam();
    start_run(c.start, c.minutes);
    std::map<std::string, std::string> expected{{data_file(c.start, 2), ""}};
    std::string current = data_file(c.start, 2), all;
    for (long when = c.start + c.step; when <= c.end; when += c.step) {
        const std::string bytes = "t" + std::to_string(when) + ";";
        set_clock(when);
        send(2, bytes);
        tick();
        // The bytes of a rollover's tick still belong to the period it ends.
        expected[current] += bytes;
        all += bytes;
        if (std::count(c.rollovers.begin(), c.rollovers.end(), when) != 0)
            expected[current = data_file(when, 2)] = "";
    }
    std::vector<std::string> names, logged;
    for (const auto &e : expected)
        names.push_back(e.first);
    for (const std::string &f : data_files())
        if (f.substr(f.size() - 3) == "C02")
            logged.push_back(f);
    EXPECT_EQ(logged, names);
    std::string joined;
    for (const auto &e : expected) {
        EXPECT_EQ(file(e.first), e.second) << e.first;
        joined += file(e.first);
    }
    EXPECT_EQ(joined, all);
}

INSTANTIATE_TEST_SUITE_P(
    Cadences, Rollover,
    ::testing::Values(
        Cadence{"EveryFiveMinutesFrom10_05_30", 5, at(10, 5, 30), at(10, 21, 0), 30,
                {at(10, 10, 0), at(10, 15, 0), at(10, 20, 0)}},
        Cadence{"EveryMinute", 1, at(10, 5, 30), at(10, 7, 30), 30, {at(10, 6, 0), at(10, 7, 0)}},
        Cadence{"HourlyFrom10_40", 0, at(10, 40, 0), at(12, 5, 0), 300, {at(11, 0, 0), at(12, 0, 0)}},
        Cadence{"HourlyAcrossMidnight", 0, at(23, 40, 0), at(24, 15, 0), 300, {at(24, 0, 0)}}),
    [](const auto &info) { return std::string(info.param.what); });

TEST_F(Acquisition, PauseShowsButStoresNothingAndTheMissedHourRollsOverOnResume)
{
    start_run(at(10, 57, 0));
    const std::string first = data_file(at(10, 57, 0), 2);
    send(2, "kept;");
    tick();

    set_clock(at(10, 58, 0));
    ASSERT_TRUE(SeamClick(panelHandle, pause_button));
    EXPECT_EQ(SeamCtrlLabel(panelHandle, pause_button), "Resume Logging");
    for (int slot : {1, 2})
        EXPECT_EQ(SeamCtrlAttribute(panelHandle, pl_idx[slot], ATTR_ON_COLOR), COLOR_RED);
    send(2, "shown;");
    set_clock(at(11, 1, 0));
    tick();
    EXPECT_EQ(text(1), "kept;shown;");
    EXPECT_EQ(data_files().size(), 3u) << "no rollover while paused";

    set_clock(at(11, 3, 0));
    ASSERT_TRUE(SeamClick(panelHandle, pause_button));
    EXPECT_EQ(SeamCtrlLabel(panelHandle, pause_button), "Pause Logging");
    for (int slot : {1, 2})
        EXPECT_EQ(SeamCtrlAttribute(panelHandle, pl_idx[slot], ATTR_ON_COLOR), COLOR_GREEN);
    for (int port : {2, 3, 5})
        EXPECT_EQ(file_stat[port], 1) << port;
    send(2, "after;");
    tick();
    EXPECT_EQ(file(first), "kept;after;");
    EXPECT_TRUE(file_exists(start_dir() + "/" + data_file(at(11, 3, 0), 2))) << "rolled over at resume";
}

TEST_F(Acquisition, FileRefusedAtARolloverIsOpenedAgainBeforeTheNextWrite)
{
    start_run(at(10, 5, 30), 1);
    const std::string next = start_dir() + "/" + data_file(at(10, 6, 0), 2);
    ASSERT_EQ(mkdir(next.c_str(), 0755), 0); // a directory where the file should go
    set_clock(at(10, 6, 0));
    tick();
    EXPECT_EQ(file_handle[2], -1);
    send(2, "refused;");
    tick();
    ASSERT_EQ(rmdir(next.c_str()), 0);
    send(2, "kept;");
    tick();
    EXPECT_EQ(read_file(next), "kept;");
    EXPECT_TRUE(SeamPopupsShown().empty());
}

// A port that the run could not open is opened by the engine about once a
// second, so a device plugged in late joins the run, with the run's settings
// (its one-second read time-out rather than the engine's ten); a departed
// device comes back the same way, with one descriptor.
TEST_F(Acquisition, PortThatCouldNotBeOpenedJoinsTheRunWhenItsDeviceAppears)
{
    // Port 2 reaches its device through a link that is gone when the run starts.
    const std::string link = start_dir() + "/gps";
    ASSERT_EQ(symlink(pty(2).path().c_str(), link.c_str()), 0);
    testing_support::write_file("comports.map", testing_support::port_map_text(
                                                    {{2, link}, {3, pty(3).path()}, {5, pty(5).path()}}));
    SeamReloadPortMap();
    start_logger();
    ASSERT_EQ(unlink(link.c_str()), 0);
    StderrCapture err(start_dir() + "/stderr.txt");
    ASSERT_TRUE(SeamClick(panelHandle, start_button));
    tick();
    EXPECT_EQ(GetInQLen(2), COM_ERR_NOT_OPEN);
    EXPECT_EQ(occurrences(err.text(), "FlushInQ"), 0) << "nothing flushed of a port that is not open";

    // Plugged in; it speaks at once, before the engine has opened it.
    ASSERT_EQ(symlink(pty(2).path().c_str(), link.c_str()), 0);
    pty(2).write("late;");
    const std::string name = data_file(at(10, 40, 5), 2);
    EXPECT_TRUE(SeamProcessEventsUntil([&] { return file(name) == "late;"; }, 5000)) << file(name);
    EXPECT_EQ(port_set_up[2], 1) << "the run's settings, its time-out among them, given once it opened";
    char byte = 0;
    EXPECT_EQ(ComRd(2, &byte, 1), 0) << "nothing more came: the read ends at its time-out";

    // The adapter is replugged and comes back under the same name while the
    // ticks go on: the engine reopens it, and the tick never tries to.
    // (The link goes first, as a by-id name does when the adapter is pulled:
    // a closed pseudo-terminal's name may be given to another program's.)
    testing_support::Pty replugged;
    ASSERT_EQ(unlink(link.c_str()), 0);
    pty(2).close();
    ASSERT_TRUE(testing_support::eventually([] { return GetInQLen(2) == COM_ERR_DEVICE_GONE; }));
    ASSERT_EQ(symlink(replugged.path().c_str(), link.c_str()), 0);
    replugged.write("back;"); // at once, before the engine has the device again
    EXPECT_TRUE(SeamProcessEventsUntil([&] { return file(name) == "late;back;"; }, 5000)) << file(name);
    EXPECT_EQ(descriptors_of(replugged.path()), 2) << "the test's own and the logger's, no other";
}

// The popup holds the ticks until the engine keeps four queues' worth of
// the port's bytes, more than its queue and the terminal could hold without
// the backlog; then the ticks drain it, a full queue each.
TEST_F(Acquisition, PortFedAt921600BaudLosesNothingWhileAPopupHoldsTheTicks)
{
    start_run(at(10, 40, 5));
    constexpr long kRate = 92160;
    constexpr std::uint64_t kTotal = 6 * kRate;
    constexpr long long kHeld = 4 * COM_QUEUE_MAX;
    testing_support::PacedWriter writer({pty(5).master()}, kRate, kTotal);
    SeamShowPopups();
    long long held = 0;
    int looks = 0;
    std::function<void()> answer_once_held = [&] {
        ComStatus status{};
        GetComStatus(5, &status);
        held = status.waiting;
        if (held >= kHeld || ++looks > 300) // 30 s at most, so that a fault cannot hang the test
            SeamAnswerOpenPopup(1);
        else
            SeamRunLater(100, answer_once_held);
    };
    SeamRunLater(0, [] { MessagePopup("Disk ERROR!", "The operator is away."); });
    SeamRunLater(100, answer_once_held);
    const std::string name = start_dir() + "/" + data_file(at(10, 40, 5), 5);
    EXPECT_TRUE(SeamProcessEventsUntil(
        [&] {
            struct stat st {};
            return ::stat(name.c_str(), &st) == 0 && static_cast<std::uint64_t>(st.st_size) >= kTotal;
        },
        60000));
    EXPECT_GE(held, kHeld) << "the engine kept what came while no tick ran";
    const std::string logged = read_file(name);
    EXPECT_EQ(logged.size(), kTotal);
    EXPECT_TRUE(testing_support::stream_intact(logged.data(), logged.size(), 0));
}

// Waits until the engine has received `total` bytes from the port since it
// was opened: its queue, and the backlog behind it, hold them.
static void wait_received(int port, std::size_t total)
{
    ComStatus status{};
    ASSERT_TRUE(testing_support::eventually(
        [&] { return GetComStatus(port, &status) == 0 && status.bytes == static_cast<long long>(total); }));
}

// A hold of 5 s across a rollover (a popup waiting for the operator: no tick
// meanwhile), from two seconds before to one second after it: the first
// tick after the hold rolls over, and every byte sent before the hold ended,
// five queues' worth waiting behind the first, goes to the file of the period
// that ends.
class HoldAcrossRollover : public Acquisition, public ::testing::WithParamInterface<std::pair<long, long>> {};

TEST_P(HoldAcrossRollover, EveryByteSentBeforeTheHoldEndedGoesToTheEndingPeriodsFile)
{
    const long before = GetParam().first, after = GetParam().second;
    start_run(before);
    send(2, "before;");
    const std::string held = testing_support::stream_bytes(0, 5 * COM_QUEUE_MAX + 123);
    SeamShowPopups();
    SeamRunLater(0, [] { MessagePopup("Disk ERROR!", "The operator is away."); });
    SeamRunLater(500, [&] { pty(5).write(held); });
    SeamRunLater(4500, [&] { set_clock(after); });
    SeamRunLater(5000, [] { SeamAnswerOpenPopup(1); });
    // The acquisition timer's own ticks, once the popup is answered.
    EXPECT_TRUE(SeamProcessEventsUntil([&] { return testing_support::file_exists(start_dir() + "/" + data_file(after, 5)); },
                                       10000));
    EXPECT_EQ(file(data_file(before, 2)), "before;");
    EXPECT_TRUE(file(data_file(before, 5)) == held) << file(data_file(before, 5)).size() << " bytes";
    EXPECT_EQ(file(data_file(after, 5)), "");
}

INSTANTIATE_TEST_SUITE_P(Hourly, HoldAcrossRollover,
                         ::testing::Values(std::make_pair(at(10, 59, 58), at(11, 0, 1)),
                                           std::make_pair(at(23, 59, 58), at(24, 0, 1))));

// Pause pressed as the first thing after a hold: what arrived while logging
// was on is stored, all of it; what arrives while paused is shown, and not
// stored after the resume either.
TEST_F(Acquisition, PauseAfterAHoldStoresWhatCameBeforeAndResumeNothingThatCameWhilePaused)
{
    start_run(at(10, 40, 5));
    const std::string held = testing_support::stream_bytes(0, 3 * COM_QUEUE_MAX + 7);
    pty(5).write(held);
    wait_received(5, held.size());
    ASSERT_TRUE(SeamClick(panelHandle, pause_button));
    EXPECT_TRUE(file(data_file(at(10, 40, 5), 5)) == held);

    send(2, "paused;");
    const std::string more = testing_support::stream_bytes(0, 2 * COM_QUEUE_MAX);
    pty(5).write(more);
    wait_received(5, held.size() + more.size());
    ASSERT_TRUE(SeamClick(panelHandle, pause_button));
    tick();
    send(2, "after;");
    tick();
    EXPECT_EQ(file(data_file(at(10, 40, 5), 2)), "after;");
    EXPECT_TRUE(file(data_file(at(10, 40, 5), 5)) == held);
    EXPECT_EQ(text(1), "paused;after;");
}

// As the program ends (quit, SIGTERM), what came since the last tick goes to
// the files: a backlog behind a full queue too.
TEST_F(Acquisition, WhatCameSinceTheLastTickIsWrittenAsTheProgramEnds)
{
    start_run(at(10, 40, 5));
    send(2, "ticked;");
    tick();
    send(2, "since;");
    const std::string more = testing_support::stream_bytes(0, COM_QUEUE_MAX + 5000);
    pty(5).write(more);
    ComStatus status{};
    ASSERT_TRUE(testing_support::eventually(
        [&] { return GetComStatus(5, &status) == 0 && status.bytes == static_cast<long long>(more.size()); }));
    take_last_bytes();
    EXPECT_EQ(file(data_file(at(10, 40, 5), 2)), "ticked;since;");
    EXPECT_TRUE(file(data_file(at(10, 40, 5), 5)) == more) << "a queue and more to write";
}

// After a failure that ended the program its files are closed: nothing more
// is written, and no file is made where it should not be.
TEST_F(Acquisition, NothingIsWrittenAsTheProgramEndsAfterADayDirectoryFailure)
{
    start_run(at(23, 59, 30));
    testing_support::write_file(start_dir() + "/D046", ""); // a file where the new day's directory goes
    set_clock(at(24, 0, 0));
    send(2, "before;");
    tick(); // writes, rolls over, fails to make D046: ends the program
    ASSERT_EQ(SeamPopupsShown().size(), 1u);
    send(2, "after;");
    const std::vector<std::string> files = data_files();
    take_last_bytes();
    EXPECT_EQ(data_files(), files);
    EXPECT_EQ(file(data_file(at(23, 59, 30), 2)), "before;");
    for (const std::string &name : list_dir(start_dir()))
        EXPECT_TRUE(name == "comports.map" || name == "coms.cfg" || name == "D046" ||
                    testing_support::is_directory(start_dir() + "/" + name))
            << name << " was written after the program was to end";
}

// Started from a directory deeper than 260 characters, a run still finds its
// way back there to make the next day's directory.
class DeepStart : public Acquisition {
protected:
    DeepStart() : Acquisition({2}) {}
};

TEST_F(DeepStart, RunCrossesMidnightBelowAPathLongerThan260Characters)
{
    const std::string map = read_file("comports.map");
    for (int level = 0; level < 6; ++level) {
        const std::string name(60, static_cast<char>('a' + level));
        ASSERT_EQ(mkdir(name.c_str(), 0755), 0);
        ASSERT_EQ(chdir(name.c_str()), 0);
    }
    testing_support::write_file("comports.map", map);
    testing_support::write_file("coms.cfg", read_file(start_dir() + "/coms.cfg"));
    SeamReloadPortMap();
    start_logger();
    ASSERT_GT(std::string(base_dir).size(), 360u);
    set_clock(at(23, 59, 50));
    ASSERT_TRUE(SeamClick(panelHandle, start_button));
    send(2, "before;");
    set_clock(at(24, 0, 5));
    tick();
    send(2, "after;");
    tick();
    EXPECT_TRUE(SeamPopupsShown().empty());
    EXPECT_EQ(read_file(std::string(base_dir) + "/" + data_file(at(23, 59, 50), 2)), "before;");
    EXPECT_EQ(read_file(std::string(base_dir) + "/" + data_file(at(24, 0, 5), 2)), "after;");
}
