// The event loop: RunUserInterface ends on QuitUserInterface (also from
// inside a popup, and when asked before it started) and when a top-level
// panel is closed from its frame, but not when a popup panel is.
#include "ui_test.h"

#include "ui/ui_internal.h"

#include <QCoreApplication>
#include <QTimer>

using namespace ui_test;

namespace {

class EventLoop : public UiTest {};

constexpr int kStuck = -99;

// RunUserInterface, ended by force (and failing the test) when it has not
// returned within a few seconds, so a fault does not hang the suite.
int run_guarded()
{
    QTimer guard;
    guard.setSingleShot(true);
    QObject::connect(&guard, &QTimer::timeout, [] {
        ADD_FAILURE() << "RunUserInterface did not return";
        QCoreApplication::exit(kStuck);
    });
    guard.start(5000);
    return RunUserInterface();
}

void close_from_frame(int panel)
{
    ui::Panel *p = ui::find_panel(panel);
    ASSERT_NE(p, nullptr);
    p->window->close();
}

} // namespace

TEST_F(EventLoop, QuitFromACallbackEndsItWithTheCode)
{
    const int panel = shown_all_kinds();
    reaction() = [](int, int control, int event) {
        if (control == kButton && event == EVENT_COMMIT)
            QuitUserInterface(7);
    };
    SeamRunLater(10, [panel] { SeamClick(panel, kButton); });
    EXPECT_EQ(run_guarded(), 7);
    EXPECT_EQ(count(kButton, EVENT_COMMIT), 1);
}

TEST_F(EventLoop, TimersTickWhileItRuns)
{
    const int panel = shown_all_kinds();
    SetCtrlAttribute(panel, kTimer, ATTR_TIMER_ENABLED, 1);
    reaction() = [](int, int control, int event) {
        if (control == kTimer && event == EVENT_TIMER_TICK && count(kTimer, EVENT_TIMER_TICK) == 3)
            QuitUserInterface(2);
    };
    EXPECT_EQ(run_guarded(), 2);
    EXPECT_EQ(count(kTimer, EVENT_TIMER_TICK), 3);
}

struct PopupKind {
    const char *what;
    int (*show)(const char *, const char *);
};

PRINTED_AS_WHAT(PopupKind)

class QuitInsidePopup : public UiTest, public ::testing::WithParamInterface<PopupKind> {};

// The quit comes while a callback waits in a popup: the popup ends (a
// confirmation counting as no), a popup shown after it returns 0 without
// showing, and the loop ends once the callback returns.
TEST_P(QuitInsidePopup, EndsThePopupAndTheLoop)
{
    const int panel = shown_all_kinds();
    bool openAtQuit = false;
    int popupResult = -1, laterResult = -1;
    reaction() = [&](int, int control, int event) {
        if (control != kButton || event != EVENT_COMMIT)
            return;
        SeamRunLater(50, [&] {
            openAtQuit = SeamPopupOpen();
            QuitUserInterface(4);
        });
        popupResult = GetParam().show("Working", "Wait");
        // Should this popup appear after all, answering yes shows it.
        SeamRunLater(500, [] { SeamAnswerOpenPopup(1); });
        laterResult = ConfirmPopup("After quit", "CONTINUE");
    };
    SeamRunLater(10, [panel] { SeamClick(panel, kButton); });
    EXPECT_EQ(run_guarded(), 4);
    EXPECT_TRUE(openAtQuit);
    EXPECT_EQ(popupResult, 0);
    EXPECT_EQ(laterResult, 0);
    EXPECT_FALSE(SeamPopupOpen());
}

INSTANTIATE_TEST_SUITE_P(EventLoop, QuitInsidePopup,
                         ::testing::Values(PopupKind{"message", MessagePopup},
                                           PopupKind{"confirm", ConfirmPopup}),
                         [](const auto &info) { return std::string(info.param.what); });

TEST_F(EventLoop, QuitBeforeItRunsMakesItReturnAtOnce)
{
    ASSERT_EQ(QuitUserInterface(5), 0);
    // A popup in between returns at once as well.
    SeamRunLater(500, [] { SeamAnswerOpenPopup(1); });
    EXPECT_EQ(ConfirmPopup("Start", "CONTINUE"), 0);
    EXPECT_EQ(run_guarded(), 5);

    // That quit is used up: the next run waits for its own.
    bool ranLoop = false;
    SeamRunLater(10, [&] {
        ranLoop = true;
        QuitUserInterface(6);
    });
    EXPECT_EQ(run_guarded(), 6);
    EXPECT_TRUE(ranLoop);
}

// As when the logger is stopped while it asks its first question, before
// its event loop runs.
TEST_F(EventLoop, QuitDuringAPopupBeforeItRunsEndsThePopupAndThenIt)
{
    bool openAtQuit = false;
    SeamRunLater(20, [&] {
        openAtQuit = SeamPopupOpen();
        QuitUserInterface(8);
    });
    EXPECT_EQ(ConfirmPopup("Start", "CONTINUE"), 0);
    EXPECT_TRUE(openAtQuit);
    EXPECT_FALSE(SeamPopupOpen());
    EXPECT_EQ(run_guarded(), 8);
}

TEST_F(EventLoop, ClosingATopLevelPanelFromItsFrameEndsIt)
{
    const int panel = shown_all_kinds();
    SeamRunLater(10, [panel] { close_from_frame(panel); });
    EXPECT_EQ(run_guarded(), 0);
    // The program decides what becomes of the panel.
    EXPECT_TRUE(SeamPanelExists(panel));
}

TEST_F(EventLoop, ClosingAPopupPanelFromItsFrameDoesNotEndIt)
{
    const int parent = shown_all_kinds();
    const int popup = load(panel_text(2, R"({"id": 1, "kind": "button", "x": 10, "y": 30, "width": 90, "height": 28, "label": "OK"})", 200, 100), 2, parent);
    InstallPopup(popup);
    SeamRunLater(10, [popup] { close_from_frame(popup); });
    SeamRunLater(150, [] { QuitUserInterface(3); });
    EXPECT_EQ(run_guarded(), 3);
    EXPECT_TRUE(SeamPanelVisible(popup));
}
