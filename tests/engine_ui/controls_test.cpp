// Controls as the program drives them: values and attributes go in and read
// back, wrong uses are refused with their codes, and nothing the program sets
// is mistaken for the operator.
#include "ui_test.h"

using namespace ui_test;

namespace {

class Controls : public UiTest {};

struct RoundTrip {
    const char *what;
    int control;
    std::vector<int> values; // set in this order, each read back
};

PRINTED_AS_WHAT(RoundTrip)

class ValueRoundTrip : public UiTest, public ::testing::WithParamInterface<RoundTrip> {};

} // namespace

TEST_P(ValueRoundTrip, EachValueSetReadsBack)
{
    const int panel = shown_all_kinds();
    for (int value : GetParam().values) {
        ASSERT_EQ(SetCtrlVal(panel, GetParam().control, value), 0) << value;
        int read = -12345;
        ASSERT_EQ(GetCtrlVal(panel, GetParam().control, &read), 0);
        EXPECT_EQ(read, value);
    }
}

INSTANTIATE_TEST_SUITE_P(Controls, ValueRoundTrip,
                         ::testing::Values(RoundTrip{"check", kCheck, {1, 0, 1}},
                                           RoundTrip{"switch", kSwitch, {1, 0, 1}},
                                           RoundTrip{"numeric", kNumeric, {0, 37, 100, 5}},
                                           RoundTrip{"ring", kRing, {9600, 110, 300}},
                                           RoundTrip{"led", kLed, {1, 0, 1}}),
                         [](const auto &info) { return std::string(info.param.what); });

TEST_F(Controls, RingRefusesAValueNotAmongItsItemsAndKeepsItsOwn)
{
    const int panel = shown_all_kinds();
    ASSERT_EQ(SetCtrlVal(panel, kRing, 9600), 0);
    EXPECT_EQ(SetCtrlVal(panel, kRing, 1200), UI_ERR_BAD_VALUE);
    EXPECT_EQ(SeamCtrlValue(panel, kRing), 9600);
    EXPECT_EQ(SeamCtrlText(panel, kRing), "9600");
}

TEST_F(Controls, SwitchShowsItsOnAndOffText)
{
    const int panel = load(panel_text(1, R"({"id": 3, "kind": "switch", "x": 10, "y": 30, "width": 90, "height": 28, "on_text": "Logging", "off_text": "Idle"})"), 1);
    EXPECT_EQ(SeamCtrlText(panel, 3), "Idle");
    SetCtrlVal(panel, 3, 1);
    EXPECT_EQ(SeamCtrlText(panel, 3), "Logging");
}

TEST_F(Controls, TextBoxStringIsAppendedAndResetReplaces)
{
    const int panel = shown_all_kinds();
    EXPECT_EQ(SetCtrlVal(panel, kTextBox, " one"), 0);
    EXPECT_EQ(SetCtrlVal(panel, kTextBox, "\ntwo"), 0);
    EXPECT_EQ(SeamCtrlText(panel, kTextBox), "start one\ntwo");
    EXPECT_EQ(ResetTextBox(panel, kTextBox, "fresh"), 0);
    EXPECT_EQ(SeamCtrlText(panel, kTextBox), "fresh");
    EXPECT_EQ(SetCtrlVal(panel, kTextBox, "!"), 0);
    EXPECT_EQ(SeamCtrlText(panel, kTextBox), "fresh!");
}

TEST_F(Controls, ValueOfTheWrongKindIsRefused)
{
    const int panel = shown_all_kinds();
    int value = 0;
    EXPECT_EQ(SetCtrlVal(panel, kTextBox, 1), UI_ERR_BAD_VALUE);
    EXPECT_EQ(SetCtrlVal(panel, kNumeric, "12"), UI_ERR_BAD_VALUE);
    EXPECT_EQ(ResetTextBox(panel, kNumeric, "12"), UI_ERR_BAD_VALUE);
    EXPECT_EQ(GetCtrlVal(panel, kTextBox, &value), UI_ERR_BAD_VALUE);
    EXPECT_EQ(SetCtrlVal(panel, kTimer, 1), UI_ERR_BAD_VALUE);
    EXPECT_EQ(SeamCtrlValue(panel, kNumeric), 5);
    EXPECT_EQ(SeamCtrlText(panel, kTextBox), "start");
}

TEST_F(Controls, AttributesSetReadBack)
{
    const int panel = shown_all_kinds();
    struct Setting {
        int control, attribute, value; // set, then read back, in this order
    };
    for (const Setting s : {Setting{kButton, ATTR_DIMMED, 1}, {kButton, ATTR_DIMMED, 0}, {kNumeric, ATTR_VISIBLE, 0},
                            {kNumeric, ATTR_VISIBLE, 1}, {kCheck, ATTR_CTRL_MODE, MODE_INDICATOR},
                            {kCheck, ATTR_CTRL_MODE, MODE_OPERABLE}, {kTextBox, ATTR_TEXT_BGCOLOR, COLOR_CYAN},
                            {kLed, ATTR_ON_COLOR, COLOR_RED}, {kTimer, ATTR_TIMER_ENABLED, 1},
                            {kTimer, ATTR_TIMER_ENABLED, 0}}) {
        EXPECT_EQ(SetCtrlAttribute(panel, s.control, s.attribute, s.value), 0) << s.control << " " << s.attribute;
        EXPECT_EQ(SeamCtrlAttribute(panel, s.control, s.attribute), s.value) << s.control << " " << s.attribute;
    }
    for (const auto &label : {std::make_pair(kLed, "Slot 1 COM4"), std::make_pair(kButton, "Stop"),
                              std::make_pair(kTextBox, "Port COM7")}) {
        EXPECT_EQ(SetCtrlAttribute(panel, label.first, ATTR_LABEL_TEXT, label.second), 0);
        EXPECT_EQ(SeamCtrlLabel(panel, label.first), label.second);
    }
}

TEST_F(Controls, AttributeNotOfTheControlsKindIsRefused)
{
    const int panel = shown_all_kinds();
    struct Case {
        int control, attribute;
    };
    for (const Case c : {Case{kNumeric, ATTR_TEXT_BGCOLOR}, Case{kTextBox, ATTR_ON_COLOR},
                         Case{kButton, ATTR_TIMER_ENABLED}, Case{kTimer, ATTR_DIMMED},
                         Case{kTimer, ATTR_VISIBLE}, Case{kTimer, ATTR_CTRL_MODE},
                         Case{kLed, 9999}}) {
        EXPECT_EQ(SetCtrlAttribute(panel, c.control, c.attribute, 1), UI_ERR_BAD_ATTRIBUTE)
            << "control " << c.control << ", attribute " << c.attribute;
    }
    EXPECT_EQ(SetCtrlAttribute(panel, kTimer, ATTR_LABEL_TEXT, "tick"), UI_ERR_BAD_ATTRIBUTE);
    EXPECT_EQ(SetCtrlAttribute(panel, kLed, 9999, "x"), UI_ERR_BAD_ATTRIBUTE);
    // The timer was not started by any of that.
    EXPECT_EQ(SeamCtrlAttribute(panel, kTimer, ATTR_TIMER_ENABLED), 0);
}

TEST_F(Controls, UnknownPanelOrControlIsRefused)
{
    const int panel = shown_all_kinds();
    int value = 0;
    const int noPanel = panel + 17;
    EXPECT_EQ(SetCtrlVal(noPanel, kCheck, 1), UI_ERR_BAD_PANEL);
    EXPECT_EQ(SetCtrlVal(noPanel, kTextBox, "x"), UI_ERR_BAD_PANEL);
    EXPECT_EQ(GetCtrlVal(noPanel, kCheck, &value), UI_ERR_BAD_PANEL);
    EXPECT_EQ(SetCtrlAttribute(noPanel, kCheck, ATTR_DIMMED, 1), UI_ERR_BAD_PANEL);
    EXPECT_EQ(SetCtrlAttribute(noPanel, kCheck, ATTR_LABEL_TEXT, "x"), UI_ERR_BAD_PANEL);
    EXPECT_EQ(ResetTextBox(noPanel, kTextBox, "x"), UI_ERR_BAD_PANEL);
    EXPECT_EQ(DisplayPanel(noPanel), UI_ERR_BAD_PANEL);
    EXPECT_EQ(InstallPopup(noPanel), UI_ERR_BAD_PANEL);
    EXPECT_EQ(DiscardPanel(noPanel), UI_ERR_BAD_PANEL);

    EXPECT_EQ(SetCtrlVal(panel, 99, 1), UI_ERR_BAD_CONTROL);
    EXPECT_EQ(SetCtrlVal(panel, 99, "x"), UI_ERR_BAD_CONTROL);
    EXPECT_EQ(GetCtrlVal(panel, 99, &value), UI_ERR_BAD_CONTROL);
    EXPECT_EQ(SetCtrlAttribute(panel, 99, ATTR_DIMMED, 1), UI_ERR_BAD_CONTROL);
    EXPECT_EQ(SetCtrlAttribute(panel, 99, ATTR_LABEL_TEXT, "x"), UI_ERR_BAD_CONTROL);
    EXPECT_EQ(ResetTextBox(panel, 99, "x"), UI_ERR_BAD_CONTROL);
}

TEST_F(Controls, DiscardedPanelHandleIsNoLongerAccepted)
{
    const int panel = shown_all_kinds();
    ASSERT_EQ(DiscardPanel(panel), 0);
    EXPECT_FALSE(SeamPanelExists(panel));
    EXPECT_EQ(SetCtrlVal(panel, kCheck, 1), UI_ERR_BAD_PANEL);
}

TEST_F(Controls, NothingTheProgramSetsRaisesAnEvent)
{
    const int panel = shown_all_kinds();
    // Some values arrive while a control has the keyboard focus, as when the
    // operator has just used it.
    ASSERT_TRUE(SeamEnterValue(panel, kNumeric, 7));
    events().clear();

    SetCtrlVal(panel, kCheck, 1);
    SetCtrlVal(panel, kCheck, 0);
    SetCtrlVal(panel, kSwitch, 1);
    SetCtrlVal(panel, kSwitch, 0);
    SetCtrlVal(panel, kNumeric, 9);
    SetCtrlVal(panel, kNumeric, 99);
    SetCtrlVal(panel, kRing, 9600);
    SetCtrlVal(panel, kRing, 110);
    SetCtrlVal(panel, kLed, 1);
    SetCtrlVal(panel, kTextBox, "more\r\n");
    ResetTextBox(panel, kTextBox, "again");
    for (int control : {kButton, kCheck, kSwitch, kNumeric, kRing, kTextBox, kLed, kCaption}) {
        SetCtrlAttribute(panel, control, ATTR_DIMMED, 1);
        SetCtrlAttribute(panel, control, ATTR_DIMMED, 0);
        SetCtrlAttribute(panel, control, ATTR_VISIBLE, 0);
        SetCtrlAttribute(panel, control, ATTR_VISIBLE, 1);
        SetCtrlAttribute(panel, control, ATTR_CTRL_MODE, MODE_INDICATOR);
        SetCtrlAttribute(panel, control, ATTR_CTRL_MODE, MODE_OPERABLE);
        SetCtrlAttribute(panel, control, ATTR_LABEL_TEXT, "relabelled");
    }
    SetCtrlAttribute(panel, kTextBox, ATTR_TEXT_BGCOLOR, COLOR_GREEN);
    SetCtrlAttribute(panel, kLed, ATTR_ON_COLOR, COLOR_RED);
    // Anything queued by those changes is handled before looking.
    SeamProcessEventsUntil([] { return false; }, 100);

    for (const Event &e : events())
        ADD_FAILURE() << "control " << e.control << " raised event " << e.event;
    EXPECT_EQ(SeamCtrlValue(panel, kNumeric), 99);
    EXPECT_EQ(SeamCtrlValue(panel, kRing), 110);
}
