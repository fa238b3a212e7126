// The main panel: start-up state, the cadence switches, the countdown, and
// the start of a run, driven by real clicks and timer ticks.
#include "logger_fixture.h"

#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

using testing_support::file_exists;
using testing_support::is_directory;
using testing_support::list_dir;
using testing_support::write_file;

class MainPanel : public LoggerTest {
protected:
    void SetUp() override
    {
        LoggerTest::SetUp();
        start_logger();
    }

    // Ticks of the countdown timer, as many as it gives while it runs.
    void tick_countdown(int ticks)
    {
        for (int i = 0; i < ticks; ++i)
            SeamTick(panelHandle, countdown_timer);
    }

    bool countdown_cancelled() const
    {
        return !ticking(countdown_timer) && !visible(countdown_box) && !visible(countdown_label);
    }
};

TEST_F(MainPanel, StartsWithACyanCountdownAndLoggingNotYetPossible)
{
    EXPECT_TRUE(SeamPanelVisible(panelHandle));
    EXPECT_TRUE(ticking(countdown_timer));
    EXPECT_DOUBLE_EQ(SeamTimerInterval(panelHandle, countdown_timer), 1.0);
    EXPECT_TRUE(visible(countdown_box));
    EXPECT_TRUE(visible(countdown_label));
    EXPECT_EQ(SeamCtrlAttribute(panelHandle, countdown_box, ATTR_TEXT_BGCOLOR), COLOR_CYAN);
    EXPECT_TRUE(dimmed(pause_button));
    EXPECT_FALSE(dimmed(start_button));
    EXPECT_FALSE(ticking(acq_timer));
    EXPECT_DOUBLE_EQ(SeamTimerInterval(panelHandle, acq_timer), 0.25);
    EXPECT_EQ(SeamCtrlValue(panelHandle, hour_check), 1);
    EXPECT_EQ(SeamCtrlValue(panelHandle, minute_check), 0);
    EXPECT_FALSE(visible(minute_count));
}

TEST_F(MainPanel, SlotTablesNameTheControlsOfEachSlot)
{
    for (int slot = 1; slot <= MAX_SLOT; ++slot) {
        EXPECT_EQ(SeamCtrlKind(panelHandle, pc_idx[slot]), "textbox") << slot;
        EXPECT_EQ(SeamCtrlKind(panelHandle, pl_idx[slot]), "led") << slot;
        EXPECT_EQ(SeamCtrlKind(panelHandle, pf_idx[slot]), "textbox") << slot;
    }
    EXPECT_EQ(SeamCtrlCallbackName(panelHandle, quit_button), "Shutdown");
    EXPECT_EQ(SeamCtrlCallbackName(panelHandle, manual_start_button), "stop_click");
    EXPECT_EQ(SeamCtrlCallbackName(panelHandle, countdown_box), "");
    EXPECT_EQ(SeamCtrlCallbackName(panelHandle, countdown_label), "");
}

TEST_F(MainPanel, TickingHourlyFilesCancelsTheCountdownAndHidesTheMinutes)
{
    ASSERT_TRUE(SeamClick(panelHandle, minute_check));
    EXPECT_EQ(SeamCtrlValue(panelHandle, hour_check), 0);
    EXPECT_TRUE(visible(minute_count));
    EXPECT_TRUE(countdown_cancelled());

    ASSERT_TRUE(SeamClick(panelHandle, hour_check));
    EXPECT_EQ(SeamCtrlValue(panelHandle, hour_check), 1);
    EXPECT_EQ(SeamCtrlValue(panelHandle, minute_check), 0);
    EXPECT_FALSE(visible(minute_count));
}

TEST_F(MainPanel, UntickingHourlyFilesLeavesBothClearAndMinutesHidden)
{
    ASSERT_TRUE(SeamClick(panelHandle, hour_check));
    EXPECT_EQ(SeamCtrlValue(panelHandle, hour_check), 0);
    EXPECT_EQ(SeamCtrlValue(panelHandle, minute_check), 0);
    EXPECT_FALSE(visible(minute_count));
    EXPECT_TRUE(countdown_cancelled());
}

TEST_F(MainPanel, ManualStartButtonCancelsTheCountdownForGood)
{
    ASSERT_TRUE(SeamClick(panelHandle, manual_start_button));
    EXPECT_TRUE(countdown_cancelled());
    tick_countdown(12);
    EXPECT_FALSE(run_started());
    EXPECT_TRUE(SeamPanelVisible(panelHandle));
}

TEST_F(MainPanel, CountdownShowsTenToZeroAndThenStartsTheRun)
{
    for (int shown = 10; shown >= 0; --shown) {
        tick_countdown(1);
        EXPECT_EQ(SeamCtrlText(panelHandle, countdown_box), std::to_string(shown));
        EXPECT_FALSE(run_started());
    }
    tick_countdown(1);
    EXPECT_TRUE(run_started());
    EXPECT_FALSE(ticking(countdown_timer));
    EXPECT_TRUE(visible(countdown_box)) << "the box stays, showing 0";
    EXPECT_EQ(SeamCtrlText(panelHandle, countdown_box), "0");
    EXPECT_TRUE(dimmed(start_button));
    EXPECT_EQ(SeamCtrlAttribute(panelHandle, start_button, ATTR_CTRL_MODE), MODE_INDICATOR);
    EXPECT_TRUE(dimmed(config_button));
    EXPECT_FALSE(dimmed(pause_button));
    EXPECT_TRUE(is_directory(start_dir() + "/D045"));
}

TEST_F(MainPanel, StartPressedDuringTheCountdownStartsAtOnceAndOnlyOnce)
{
    tick_countdown(7);
    EXPECT_EQ(SeamCtrlText(panelHandle, countdown_box), "4");
    ASSERT_TRUE(SeamClick(panelHandle, start_button));
    EXPECT_TRUE(run_started());
    EXPECT_TRUE(countdown_cancelled());
    EXPECT_EQ(hourly_mode, 1);
    // Neither the countdown nor another press starts a second run (which
    // would make a day directory inside the day directory).
    SeamSetClock(2024, 2, 15, 10, 41, 0);
    tick_countdown(12);
    SeamClick(panelHandle, start_button);
    EXPECT_TRUE(list_dir(start_dir() + "/D045").empty());
    EXPECT_FALSE(is_directory(start_dir() + "/D046"));
}

TEST_F(MainPanel, MinutesOutOfRangeStartNothingUntilCorrected)
{
    ASSERT_TRUE(SeamClick(panelHandle, minute_check));
    ASSERT_TRUE(SeamEnterValue(panelHandle, minute_count, 0));
    ASSERT_TRUE(SeamClick(panelHandle, start_button));
    EXPECT_FALSE(run_started());
    EXPECT_TRUE(dimmed(config_button));
    EXPECT_FALSE(dimmed(start_button));
    EXPECT_FALSE(is_directory(start_dir() + "/D045"));
    EXPECT_TRUE(SeamPopupsShown().empty());
    ASSERT_TRUE(SeamEnterValue(panelHandle, minute_count, 5));
    ASSERT_TRUE(SeamClick(panelHandle, start_button));
    EXPECT_TRUE(run_started());
    EXPECT_EQ(hourly_mode, 0);
    EXPECT_EQ(file_minutes, 5);
    EXPECT_EQ(minutes_left, 5);
}

TEST_F(MainPanel, CountdownEndingWithMinutesOutOfRangeLeavesStartWorking)
{
    // A panel whose cadence reads "every 0 minutes" from the start (set by
    // the program, so the countdown is not cancelled).
    SetCtrlVal(panelHandle, hour_check, 0);
    SetCtrlVal(panelHandle, minute_count, 0);
    tick_countdown(12);
    EXPECT_FALSE(run_started());
    EXPECT_FALSE(ticking(countdown_timer));
    EXPECT_TRUE(visible(countdown_box));
    EXPECT_EQ(SeamCtrlText(panelHandle, countdown_box), "0");
    EXPECT_TRUE(SeamPopupsShown().empty());
    EXPECT_FALSE(dimmed(start_button));
    SetCtrlVal(panelHandle, minute_count, 1);
    ASSERT_TRUE(SeamClick(panelHandle, start_button));
    EXPECT_TRUE(run_started());
}

TEST_F(MainPanel, HourlyFilesIgnoreTheMinutes)
{
    ASSERT_TRUE(SeamClick(panelHandle, minute_check));
    ASSERT_TRUE(SeamEnterValue(panelHandle, minute_count, 0));
    ASSERT_TRUE(SeamClick(panelHandle, hour_check));
    ASSERT_TRUE(SeamClick(panelHandle, start_button));
    EXPECT_TRUE(run_started());
    EXPECT_EQ(hourly_mode, 1);
}

TEST_F(MainPanel, QuitEndsTheEventLoopWithoutTouchingComsCfg)
{
    const std::string before = testing_support::read_file(start_dir() + "/coms.cfg");
    SeamRunLater(0, [] { SeamClick(panelHandle, quit_button); });
    SeamRunLater(3000, [] { QuitUserInterface(99); });
    EXPECT_EQ(RunUserInterface(), 0);
    EXPECT_EQ(testing_support::read_file(start_dir() + "/coms.cfg"), before);
}

// A run with ports 3 and 9 logged (3 in slot 1), port 5 present but not logged.
class RunStart : public LoggerTest {
protected:
    RunStart() : LoggerTest({3, 5, 9}) {}

    void SetUp() override
    {
        LoggerTest::SetUp();
        write_config_file(testing_support::port_table({{3, {19200, 1, 1, 0}}, {9, {9600, 1, 0, 0}}}));
        start_logger();
    }

    std::string day_dir() const { return start_dir() + "/D045"; }
};

TEST_F(RunStart, OpensOneAppendedFilePerLoggedPortInTheDayDirectory)
{
    SeamSetClock(2024, 2, 14, 10, 40, 5);
    ASSERT_TRUE(SeamClick(panelHandle, start_button));
    ASSERT_TRUE(run_started());
    EXPECT_EQ(list_dir(day_dir()), (std::vector<std::string>{"04538405.C03", "04538405.C09"}));
    EXPECT_EQ(logging_active, 1);
    EXPECT_EQ(file_stat[3], 1);
    EXPECT_EQ(file_stat[9], 1);
    EXPECT_EQ(file_stat[5], 0);
    EXPECT_EQ(file_hour, 10);
    EXPECT_EQ(last_min, 40);
    EXPECT_EQ(SeamCtrlLabel(panelHandle, pc_idx[1]), "COMM3 @ 19200 Baud");
    EXPECT_EQ(SeamCtrlText(panelHandle, pf_idx[1]), "04538405.C03");
}

TEST_F(RunStart, BytesSentBeforeTheStartAreDiscardedAndLaterOnesQueued)
{
    pty(3).write("before the run\r\n");
    pty(9).write("before the run\r\n");
    ASSERT_TRUE(SeamClick(panelHandle, start_button));
    ASSERT_TRUE(run_started());
    EXPECT_EQ(GetInQLen(3), 0);
    EXPECT_EQ(GetInQLen(9), 0);
    EXPECT_EQ(GetInQLen(5), COM_ERR_NOT_OPEN) << "a port that is not logged stays closed";
    pty(3).write("$GPGGA\r\n");
    EXPECT_TRUE(SeamProcessEventsUntil([] { return GetInQLen(3) == 8; }, 5000));
}

TEST_F(RunStart, PortsAreOpenedRawAtTheirRate)
{
    ASSERT_TRUE(SeamClick(panelHandle, start_button));
    // The terminal's settings as the logger left them: raw, no flow control.
    termios tio{};
    ASSERT_EQ(tcgetattr(pty(3).slave(), &tio), 0);
    EXPECT_EQ(cfgetispeed(&tio), static_cast<speed_t>(B19200));
    EXPECT_EQ(tio.c_lflag & (ICANON | ECHO | ISIG), 0u);
    EXPECT_EQ(tio.c_iflag & (IXON | IXOFF | ICRNL | ISTRIP), 0u);
    EXPECT_EQ(tio.c_cflag & (CRTSCTS | PARENB | CSTOPB), 0u);
    EXPECT_EQ(tio.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
}

TEST_F(RunStart, DataFileThatCannotBeCreatedCanBeLeftOut)
{
    ASSERT_EQ(mkdir(day_dir().c_str(), 0755), 0);
    ASSERT_EQ(mkdir((day_dir() + "/04538405.C03").c_str(), 0755), 0);
    SeamAnswerPopups(1);
    const std::string slotLabel = SeamCtrlLabel(panelHandle, pc_idx[1]);
    ASSERT_TRUE(SeamClick(panelHandle, start_button));
    ASSERT_EQ(SeamPopupsShown().size(), 1u);
    EXPECT_EQ(SeamPopupsShown()[0].title, "FILE 3 ERROR");
    EXPECT_TRUE(run_started());
    EXPECT_EQ(file_stat[3], 0);
    EXPECT_EQ(file_stat[9], 1);
    EXPECT_TRUE(file_exists(day_dir() + "/04538405.C09"));
    // Port 3 still has its display slot, so it is opened to be shown.
    EXPECT_GE(GetInQLen(3), 0);
    EXPECT_EQ(SeamCtrlLabel(panelHandle, pc_idx[1]), slotLabel) << "its slot keeps its labels";
}

TEST_F(RunStart, DecliningToGoOnWithoutAPortEndsTheProgram)
{
    ASSERT_EQ(mkdir(day_dir().c_str(), 0755), 0);
    ASSERT_EQ(mkdir((day_dir() + "/04538405.C03").c_str(), 0755), 0);
    SeamAnswerPopups(0);
    ASSERT_TRUE(SeamClick(panelHandle, start_button));
    EXPECT_FALSE(run_started());
    EXPECT_FALSE(file_exists(day_dir() + "/04538405.C09")) << "ports after the declined one are not visited";
    EXPECT_EQ(GetInQLen(3), COM_ERR_NOT_OPEN);
    EXPECT_TRUE(program_ended());
}

TEST_F(RunStart, DayDirectoryThatCannotBeMadeEndsTheProgramAfterThePopup)
{
    write_file(day_dir(), "a plain file named like the day directory");
    ASSERT_TRUE(SeamClick(panelHandle, start_button));
    ASSERT_EQ(SeamPopupsShown().size(), 1u);
    EXPECT_EQ(SeamPopupsShown()[0].title, "Disk ERROR!");
    EXPECT_EQ(SeamPopupsShown()[0].message, "A Data Subdirectory Error has occured, Quiting!");
    EXPECT_FALSE(run_started());
    EXPECT_EQ(GetInQLen(3), COM_ERR_NOT_OPEN);
    EXPECT_TRUE(program_ended());
}

TEST_F(RunStart, NoLoggedPortStillMakesTheDayDirectoryButOpensNothing)
{
    for (int port = 1; port <= MAX_PORT; ++port)
        RS232Sel[port] = 0;
    ASSERT_TRUE(SeamClick(panelHandle, start_button));
    EXPECT_TRUE(run_started());
    EXPECT_EQ(logging_active, 0);
    EXPECT_TRUE(list_dir(day_dir()).empty());
    EXPECT_EQ(GetInQLen(3), COM_ERR_NOT_OPEN);
}

// systemd asks for a pet at least every 8 s: the countdown's ticks and then
// the run's pet a quarter of that apart on the held clock (every 2 s here),
// the first at once, and a tick that comes sooner pets no more.
class Watchdog : public LoggerTest {};

TEST_F(Watchdog, TicksPetItAQuarterOfItsIntervalApartOnTheClockTheyAreGiven)
{
    testing_support::NotifySocket manager(start_dir() + "/notify");
    setenv("NOTIFY_SOCKET", manager.path().c_str(), 1);
    setenv("WATCHDOG_USEC", "8000000", 1);
    unsetenv("WATCHDOG_PID");
    start_logger();
    const auto tick_twice_a_second = [&](int timer, int from, int seconds) {
        for (int second = from; second < from + seconds; ++second) {
            SeamSetClock(2024, 2, 14, 10, 40, second);
            ASSERT_TRUE(SeamTick(panelHandle, timer) && SeamTick(panelHandle, timer));
        }
    };
    tick_twice_a_second(countdown_timer, 5, 5); // 10:40:05 to :09, pets at :05, :07, :09
    EXPECT_EQ(manager.words(), (std::vector<std::string>{"READY=1", "WATCHDOG=1", "WATCHDOG=1", "WATCHDOG=1"}));
    ASSERT_TRUE(SeamClick(panelHandle, start_button));
    tick_twice_a_second(acq_timer, 10, 8); // :10 to :17, pets at :11, :13, :15, :17
    EXPECT_EQ(manager.words().size(), 8u) << "ready once, seven pets";
    EXPECT_EQ(manager.words().back(), "WATCHDOG=1");
}
