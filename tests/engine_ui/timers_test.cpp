// Timers tick while enabled and their panel exists; a tick that falls due
// while a callback (or its popup) runs is dropped, so none run at once and no
// burst follows.
#include "ui_test.h"

#include <QCoreApplication>

using namespace ui_test;

namespace {

class Timers : public UiTest {};

int ticks()
{
    return count(kTimer, EVENT_TIMER_TICK);
}

// Runs the event loop for ms milliseconds; for checking that something does
// NOT happen, where there is nothing to wait for.
void idle(int ms)
{
    SeamProcessEventsUntil([] { return false; }, ms);
}

} // namespace

TEST_F(Timers, TicksWhileEnabledAndStopsWhenDisabled)
{
    const int panel = shown_all_kinds();
    idle(120);
    EXPECT_EQ(ticks(), 0) << "a timer loaded disabled ticked";

    ASSERT_EQ(SetCtrlAttribute(panel, kTimer, ATTR_TIMER_ENABLED, 1), 0);
    ASSERT_TRUE(SeamProcessEventsUntil([] { return ticks() >= 3; }, 2000));
    for (const Event &e : events())
        EXPECT_EQ(e.panel, panel);

    ASSERT_EQ(SetCtrlAttribute(panel, kTimer, ATTR_TIMER_ENABLED, 0), 0);
    const int stoppedAt = ticks();
    idle(200);
    EXPECT_EQ(ticks(), stoppedAt);
}

TEST_F(Timers, StopsWhenItsPanelIsDiscarded)
{
    const int panel = shown_all_kinds();
    SetCtrlAttribute(panel, kTimer, ATTR_TIMER_ENABLED, 1);
    ASSERT_TRUE(SeamProcessEventsUntil([] { return ticks() >= 1; }, 2000));
    ASSERT_EQ(DiscardPanel(panel), 0);
    const int discardedAt = ticks();
    idle(200);
    EXPECT_EQ(ticks(), discardedAt);
}

// A timer too slow to tick by itself during the test, and a stopped one.
const char *kSlowTimers = R"({"id": 1, "kind": "button", "x": 10, "y": 30, "width": 90, "height": 28, "label": "Go", "callback": "record"},
{"id": 9, "kind": "timer", "interval": 60, "enabled": true, "callback": "record"},
{"id": 10, "kind": "timer", "interval": 60, "enabled": false, "callback": "record"})";

TEST_F(Timers, SeamTickReachesOnlyAnEnabledTimer)
{
    const int panel = load(panel_text(1, kSlowTimers), 1);
    EXPECT_TRUE(SeamTick(panel, 9));
    EXPECT_EQ(ticks(), 1);
    EXPECT_FALSE(SeamTick(panel, 10));
    EXPECT_FALSE(SeamTick(panel, 1));
    EXPECT_EQ(events().size(), 1u);
    SetCtrlAttribute(panel, 9, ATTR_TIMER_ENABLED, 0);
    EXPECT_FALSE(SeamTick(panel, 9));
    EXPECT_EQ(ticks(), 1);
}

// The button's callback holds a real modal popup open for several timer
// intervals; the timer's callback must not run meanwhile, and after the
// popup closes the ticks go on at their pace, not as a burst of the missed ones.
TEST_F(Timers, NoTickRunsDuringACallbacksPopupAndNoBurstFollows)
{
    const int panel = shown_all_kinds();
    int popupResult = -1;
    int ticksWhileOpen = -1;
    reaction() = [&](int, int control, int event) {
        if (control == kButton && event == EVENT_COMMIT)
            popupResult = MessagePopup("Busy", "Holding the user interface");
    };
    SetCtrlAttribute(panel, kTimer, ATTR_TIMER_ENABLED, 1);
    ASSERT_TRUE(SeamProcessEventsUntil([] { return ticks() >= 1; }, 2000));

    const int before = ticks();
    // Six intervals of the timer pass with the popup open.
    SeamRunLater(300, [&] {
        ticksWhileOpen = ticks();
        EXPECT_TRUE(SeamAnswerOpenPopup(1));
    });
    ASSERT_TRUE(SeamClick(panel, kButton)); // returns when the popup is answered
    EXPECT_EQ(popupResult, 0);
    EXPECT_EQ(ticksWhileOpen, before);

    // Had the missed ticks been kept, they would all wait now, to come in
    // the next pass of the event loop; the one tick due may come with it.
    const int closedAt = ticks();
    QCoreApplication::processEvents();
    EXPECT_LE(ticks() - closedAt, 1) << "ticks missed during the popup were delivered afterwards";
    for (const Event &e : events())
        EXPECT_FALSE(e.popupOpen) << "event " << e.event << " of control " << e.control
                                  << " ran while the popup was open";
    // The timer is still alive and ticks on.
    EXPECT_TRUE(SeamProcessEventsUntil([&] { return ticks() >= closedAt + 3; }, 2000));
}

TEST_F(Timers, SeamTickIsDroppedWhileACallbackRuns)
{
    const int panel = load(panel_text(1, kSlowTimers), 1);
    DisplayPanel(panel);
    reaction() = [](int p, int control, int event) {
        if (control == 1 && event == EVENT_COMMIT)
            SeamTick(p, 9);
    };
    ASSERT_TRUE(SeamClick(panel, 1));
    ASSERT_EQ(count(1, EVENT_COMMIT), 1);
    EXPECT_EQ(ticks(), 0) << "a tick ran inside another callback";
    // The same tick outside a callback is delivered: the one above was dropped.
    ASSERT_TRUE(SeamTick(panel, 9));
    EXPECT_EQ(ticks(), 1);
}
