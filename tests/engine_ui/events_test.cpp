// Events from the operator: real mouse and key events on the widgets reach
// the callbacks as left click and commit, in that order; a dimmed control and
// an indicator take no input.
#include "ui_test.h"

#include <QApplication>
#include <QMouseEvent>
#include <QPushButton>
#include <QTest>

using namespace ui_test;

namespace {

class Events : public UiTest {};

std::vector<int> events_of(int control)
{
    std::vector<int> list;
    for (const Event &e : events())
        if (e.control == control)
            list.push_back(e.event);
    return list;
}

const std::vector<int> kClickThenCommit = {EVENT_LEFT_CLICK, EVENT_COMMIT};

// The operator clicks the button and the check box, turns the switch on,
// enters 42 and picks 9600; input or not is the panel's to decide.
void operate_every_control(int panel)
{
    SeamClick(panel, kButton);
    SeamClick(panel, kCheck);
    SeamEnterValue(panel, kSwitch, 1);
    SeamEnterValue(panel, kNumeric, 42);
    SeamEnterValue(panel, kRing, 9600);
}

} // namespace

TEST_F(Events, ButtonClickIsLeftClickThenCommit)
{
    const int panel = shown_all_kinds();
    ASSERT_TRUE(SeamClick(panel, kButton));
    EXPECT_EQ(events_of(kButton), kClickThenCommit);
    ASSERT_EQ(events().size(), 2u);
    EXPECT_EQ(events()[0].panel, panel);
}

TEST_F(Events, EveryCommitOfADoubleClickFollowsALeftClick)
{
    // A double click as the window system delivers it: the second press
    // comes as a double-click event.
    const int panel = shown_all_kinds();
    QPushButton *button = nullptr;
    for (QWidget *w : QApplication::allWidgets()) {
        auto *b = qobject_cast<QPushButton *>(w);
        if (b != nullptr && b->text().toStdString() == SeamCtrlText(panel, kButton))
            button = b;
    }
    ASSERT_NE(button, nullptr);
    const QPoint centre = button->rect().center();
    QTest::mousePress(button, Qt::LeftButton, {}, centre);
    QTest::mouseRelease(button, Qt::LeftButton, {}, centre);
    QMouseEvent second(QEvent::MouseButtonDblClick, centre, button->mapToGlobal(centre), Qt::LeftButton,
                       Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(button, &second);
    QTest::mouseRelease(button, Qt::LeftButton, {}, centre);
    EXPECT_EQ(events_of(kButton), (std::vector<int>{EVENT_LEFT_CLICK, EVENT_COMMIT, EVENT_LEFT_CLICK, EVENT_COMMIT}));
}

TEST_F(Events, EachClickOnACheckBoxTogglesItAndCommits)
{
    const int panel = shown_all_kinds();
    ASSERT_TRUE(SeamClick(panel, kCheck));
    EXPECT_EQ(events_of(kCheck), kClickThenCommit);
    EXPECT_EQ(SeamCtrlValue(panel, kCheck), 1);
    ASSERT_TRUE(SeamClick(panel, kCheck));
    EXPECT_EQ(events_of(kCheck), (std::vector<int>{EVENT_LEFT_CLICK, EVENT_COMMIT, EVENT_LEFT_CLICK, EVENT_COMMIT}));
    EXPECT_EQ(SeamCtrlValue(panel, kCheck), 0);
}

TEST_F(Events, SwitchClickTogglesItAndCommits)
{
    const int panel = shown_all_kinds();
    ASSERT_TRUE(SeamEnterValue(panel, kSwitch, 1));
    EXPECT_EQ(events_of(kSwitch), kClickThenCommit);
    EXPECT_EQ(SeamCtrlText(panel, kSwitch), "On");
}

TEST_F(Events, TypedNumberCommitsOnceWithItsValue)
{
    const int panel = shown_all_kinds();
    int valueAtCommit = -1;
    reaction() = [&](int p, int c, int e) {
        if (e == EVENT_COMMIT)
            GetCtrlVal(p, c, &valueAtCommit);
    };
    ASSERT_TRUE(SeamEnterValue(panel, kNumeric, 42));
    EXPECT_EQ(count(kNumeric, EVENT_COMMIT), 1);
    EXPECT_EQ(valueAtCommit, 42);
    // Leaving the box afterwards commits nothing more.
    ASSERT_TRUE(SeamClick(panel, kButton));
    EXPECT_EQ(count(kNumeric, EVENT_COMMIT), 1);
}

TEST_F(Events, RingArrowKeysCommitEachStep)
{
    const int panel = shown_all_kinds();
    ASSERT_TRUE(SeamEnterValue(panel, kRing, 9600)); // 300 -> 9600: one step down
    EXPECT_EQ(count(kRing, EVENT_COMMIT), 1);
    EXPECT_EQ(SeamCtrlValue(panel, kRing), 9600);
    ASSERT_TRUE(SeamEnterValue(panel, kRing, 110)); // two steps up
    EXPECT_EQ(count(kRing, EVENT_COMMIT), 3);
    EXPECT_EQ(SeamCtrlValue(panel, kRing), 110);
}

TEST_F(Events, LeftClickIsReportedOnATextBox)
{
    const int panel = shown_all_kinds();
    ASSERT_TRUE(SeamClick(panel, kTextBox));
    EXPECT_EQ(events_of(kTextBox), std::vector<int>{EVENT_LEFT_CLICK});
}

TEST_F(Events, DimmedControlGivesNoEventAndKeepsItsValue)
{
    const int panel = shown_all_kinds();
    for (int control : {kButton, kCheck, kSwitch, kNumeric, kRing, kTextBox})
        ASSERT_EQ(SetCtrlAttribute(panel, control, ATTR_DIMMED, 1), 0);
    operate_every_control(panel);
    SeamClick(panel, kTextBox);
    for (const Event &e : events())
        ADD_FAILURE() << "dimmed control " << e.control << " raised event " << e.event;
    EXPECT_EQ(SeamCtrlValue(panel, kCheck), 0);
    EXPECT_EQ(SeamCtrlValue(panel, kSwitch), 0);
    EXPECT_EQ(SeamCtrlValue(panel, kNumeric), 5);
    EXPECT_EQ(SeamCtrlValue(panel, kRing), 300);

    // Undimmed, the same action works again.
    SetCtrlAttribute(panel, kButton, ATTR_DIMMED, 0);
    ASSERT_TRUE(SeamClick(panel, kButton));
    EXPECT_EQ(events_of(kButton), kClickThenCommit);
}

// An indicator reports the operator's left click (the engine hands every
// press on an enabled control to the program) but takes no input: its value
// stays and nothing is committed.
TEST_F(Events, IndicatorReportsLeftClickButNeverCommitsOrChanges)
{
    const int panel = shown_all_kinds();
    for (int control : {kButton, kCheck, kSwitch, kNumeric, kRing})
        ASSERT_EQ(SetCtrlAttribute(panel, control, ATTR_CTRL_MODE, MODE_INDICATOR), 0);
    operate_every_control(panel);

    for (int control : {kButton, kCheck, kSwitch, kNumeric, kRing})
        EXPECT_EQ(count(control, EVENT_COMMIT), 0) << "control " << control;
    EXPECT_EQ(count(kButton, EVENT_LEFT_CLICK), 1);
    EXPECT_EQ(count(kCheck, EVENT_LEFT_CLICK), 1);
    EXPECT_EQ(SeamCtrlValue(panel, kCheck), 0);
    EXPECT_EQ(SeamCtrlValue(panel, kSwitch), 0);
    EXPECT_EQ(SeamCtrlValue(panel, kNumeric), 5);
    EXPECT_EQ(SeamCtrlValue(panel, kRing), 300);

    // Operable again, it takes input as before.
    SetCtrlAttribute(panel, kCheck, ATTR_CTRL_MODE, MODE_OPERABLE);
    events().clear();
    ASSERT_TRUE(SeamClick(panel, kCheck));
    EXPECT_EQ(events_of(kCheck), kClickThenCommit);
    EXPECT_EQ(SeamCtrlValue(panel, kCheck), 1);
}

TEST_F(Events, IndicatorFromTheResourceTakesNoInput)
{
    const int panel = load(panel_text(1, R"({"id": 4, "kind": "numeric", "x": 10, "y": 30, "width": 90, "height": 28, "value": 5, "max": 99, "mode": "indicator", "callback": "record"})"), 1);
    DisplayPanel(panel);
    EXPECT_FALSE(SeamEnterValue(panel, 4, 42));
    EXPECT_EQ(SeamCtrlValue(panel, 4), 5);
    EXPECT_EQ(count(4, EVENT_COMMIT), 0);
}

TEST_F(Events, ControlWithoutCallbackIsSilentAndOthersStillReport)
{
    const int panel = load(panel_text(1, R"({"id": 1, "kind": "button", "x": 10, "y": 30, "width": 90, "height": 28, "label": "Mute"},
{"id": 2, "kind": "button", "x": 110, "y": 30, "width": 90, "height": 28, "label": "Loud", "callback": "record"})"), 1);
    DisplayPanel(panel);
    ASSERT_TRUE(SeamClick(panel, 1));
    EXPECT_TRUE(events().empty());
    ASSERT_TRUE(SeamClick(panel, 2));
    EXPECT_EQ(events_of(2), kClickThenCommit);
}

TEST_F(Events, CallbackMayDiscardThePanelOfTheControlThatCalledIt)
{
    const int panel = shown_all_kinds();
    reaction() = [](int p, int, int e) {
        if (e == EVENT_LEFT_CLICK)
            DiscardPanel(p);
    };
    SeamClick(panel, kCheck);
    SeamProcessEventsUntil([] { return false; }, 50);
    EXPECT_FALSE(SeamPanelExists(panel));
    // The press went on to a control that is gone: it commits nothing.
    EXPECT_EQ(events_of(kCheck), std::vector<int>{EVENT_LEFT_CLICK});
}
