// The engine as a process sees it: starting with or without a display, and
// the terminating signals that end the event loop cleanly. Each runs in a
// child forked before Qt exists, so Qt starts there as in the real program.
#include "child_process.h"
#include "ui_test.h"

#include <QCoreApplication>
#include <QGuiApplication>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <poll.h>
#include <unistd.h>

using namespace ui_test;
using testing_support::line_count;

namespace {

// Exit statuses of the children, so a failure says where it stopped.
enum {
    kOk = 0,
    kLoopEndedAbnormally = 3,
    kNoEngine = 4,
    kNoPanel = 5,
    kWrongPlatform = 6,
    kOptionKept = 7,
    kNoInput = 8,
    kNotRefused = 9,
};

#define SKIP_UNLESS_FORK_BEFORE_QT()                                                              \
    if (!can_fork_before_qt())                                                                    \
    GTEST_SKIP() << "Qt already runs in this process; run the test in a process of its own"

void without_display_settings()
{
    unsetenv("QT_QPA_PLATFORM");
    unsetenv("DISPLAY");
    unsetenv("WAYLAND_DISPLAY");
}

// In the child: the engine started with these arguments and the panel of
// every kind shown; the panel, or the exit status that says what failed.
int start_with_panel(char **argv)
{
    if (InitEngine(0, argv, 0) != 1)
        return -kNoEngine;
    register_callbacks();
    const int panel = SeamLoadPanelFromText(0, panel_text(1, all_kinds_controls()), 1);
    if (panel <= 0)
        return -kNoPanel;
    DisplayPanel(panel);
    return panel;
}

struct Signal {
    const char *what;
    int number;
};

PRINTED_AS_WHAT(Signal)

class SignalEndsTheLoop : public ::testing::TestWithParam<Signal> {};

} // namespace

TEST_P(SignalEndsTheLoop, WithExitStatusZero)
{
    SKIP_UNLESS_FORK_BEFORE_QT();
    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    bool wasReady = false;
    const ChildEnd end = run_child(
        [&] {
            close(ready[0]);
            static char arg0[] = "vornacq4-test";
            static char *argv[] = {arg0, nullptr};
            if (const int failed = -start_with_panel(argv); failed > 0)
                return failed;
            // Runs once the loop is running, with the handlers in place.
            SeamRunLater(0, [&] {
                const char byte = 1;
                if (write(ready[1], &byte, 1) != 1)
                    std::abort();
            });
            return RunUserInterface() == 0 ? static_cast<int>(kOk) : static_cast<int>(kLoopEndedAbnormally);
        },
        [&](pid_t pid) {
            close(ready[1]);
            pollfd p{ready[0], POLLIN, 0};
            char byte = 0;
            wasReady = poll(&p, 1, 10000) == 1 && read(ready[0], &byte, 1) == 1;
            close(ready[0]);
            kill(pid, wasReady ? GetParam().number : SIGKILL);
        },
        10000);
    EXPECT_TRUE(wasReady) << "the child's event loop never ran; its stderr:\n" << end.err;
    EXPECT_FALSE(end.timedOut) << "still running after the signal";
    EXPECT_TRUE(end.exited) << "ended by signal " << end.signal << "; stderr:\n" << end.err;
    EXPECT_EQ(end.status, kOk) << end.err;
}

INSTANTIATE_TEST_SUITE_P(Process, SignalEndsTheLoop,
                         ::testing::Values(Signal{"SIGTERM", SIGTERM}, Signal{"SIGINT", SIGINT},
                                           Signal{"SIGHUP", SIGHUP}),
                         [](const auto &info) { return std::string(info.param.what); });

TEST(Process, WithoutADisplayInitEngineSaysHowToRunOffscreen)
{
    SKIP_UNLESS_FORK_BEFORE_QT();
    const ChildEnd end = run_child(
        [] {
            without_display_settings();
            static char arg0[] = "vornacq4-test";
            static char *argv[] = {arg0, nullptr};
            if (InitEngine(0, argv, 0) != 0)
                return static_cast<int>(kNoEngine);
            // The program may go on calling the engine; it must refuse, not crash.
            if (freopen("/dev/null", "w", stderr) == nullptr)
                return static_cast<int>(kNotRefused);
            if (LoadPanel(0, "vornacq4.uir", 2) != UI_ERR_NOT_READY ||
                RunUserInterface() != UI_ERR_NOT_READY || SetCtrlVal(1, 1, 1) != UI_ERR_BAD_PANEL)
                return static_cast<int>(kNotRefused);
            return static_cast<int>(kOk);
        },
        nullptr, 10000);
    ASSERT_TRUE(end.exited) << "ended by signal " << end.signal << "; stderr:\n" << end.err;
    EXPECT_EQ(end.status, kOk) << "InitEngine did not return 0 (" << kNoEngine
                               << ") or a later call was not refused (" << kNotRefused << ")";
    EXPECT_EQ(line_count(end.err), 1) << end.err;
    EXPECT_NE(end.err.find("QT_QPA_PLATFORM=offscreen"), std::string::npos) << end.err;
}

TEST(Process, PlatformOptionOnTheCommandLineStartsWithoutADisplay)
{
    SKIP_UNLESS_FORK_BEFORE_QT();
    const ChildEnd end = run_child(
        [] {
            without_display_settings();
            static char arg0[] = "vornacq4-test";
            static char opt[] = "-platform";
            static char value[] = "offscreen";
            static char *argv[] = {arg0, opt, value, nullptr};
            const int panel = start_with_panel(argv);
            if (panel < 0)
                return -panel;
            if (QGuiApplication::platformName() != "offscreen")
                return static_cast<int>(kWrongPlatform);
            if (QCoreApplication::arguments().contains("-platform"))
                return static_cast<int>(kOptionKept);
            if (!SeamClick(panel, kButton) || count(kButton, EVENT_COMMIT) != 1)
                return static_cast<int>(kNoInput);
            return static_cast<int>(kOk);
        },
        nullptr, 10000);
    ASSERT_TRUE(end.exited) << "ended by signal " << end.signal << "; stderr:\n" << end.err;
    EXPECT_EQ(end.status, kOk) << end.err;
}
