// What the program sets repaints the control it changes, and nothing when it
// sets what the control already shows: a status that stays the same, a lamp
// lit again, a label given its own text.
#include "ui_test.h"

#include "ui/led.h"
#include "ui/text_box.h"

#include <QAbstractScrollArea>
#include <QApplication>
#include <QEvent>
#include <QLabel>

#include <functional>

using namespace ui_test;

namespace {

// Counts the paint events a widget gets.
class PaintCounter : public QObject {
public:
    explicit PaintCounter(QWidget *w) { w->installEventFilter(this); }
    int paints = 0;

protected:
    bool eventFilter(QObject *, QEvent *event) override
    {
        paints += event->type() == QEvent::Paint ? 1 : 0;
        return false;
    }
};

template <typename T>
T *only_widget()
{
    for (QWidget *w : QApplication::allWidgets())
        if (auto *found = qobject_cast<T *>(w))
            return found;
    return nullptr;
}

QLabel *label_of(const char *text)
{
    for (QWidget *w : QApplication::allWidgets())
        if (auto *l = qobject_cast<QLabel *>(w); l != nullptr && l->text() == text)
            return l;
    return nullptr;
}

// Handles what is pending until `witness` has been painted (a change made
// after the one under test, so painted in the same pass or later).
void paint_until(const PaintCounter &witness)
{
    for (int i = 0; i < 200 && witness.paints == 0; ++i)
        QApplication::processEvents(QEventLoop::AllEvents, 10);
}

struct Change {
    const char *what;
    std::function<void(int panel)> again; // sets what is shown already
    std::function<void(int panel)> other; // sets something else
    std::function<QWidget *()> widget;    // where the paint would land
};

PRINTED_AS_WHAT(Change)

class SameValue : public UiTest, public ::testing::WithParamInterface<Change> {};

} // namespace

TEST_P(SameValue, RepaintsNothingWhileAnotherValueRepaintsTheControl)
{
    const int panel = shown_all_kinds();
    const Change &c = GetParam();
    c.other(panel);
    c.again(panel);
    QWidget *target = c.widget();
    ASSERT_NE(target, nullptr);
    // Everything drawn once; then the same value again, beside a change of
    // the caption that proves a paint pass ran.
    PaintCounter first(target);
    paint_until(first);
    ASSERT_GT(first.paints, 0) << "the panel is painted at all";
    QLabel *caption = label_of("Caption");
    ASSERT_NE(caption, nullptr);
    PaintCounter counter(target), witness(caption);
    c.again(panel);
    SetCtrlAttribute(panel, kCaption, ATTR_LABEL_TEXT, "Caption, changed");
    paint_until(witness);
    ASSERT_GT(witness.paints, 0);
    EXPECT_EQ(counter.paints, 0);
    c.other(panel);
    paint_until(counter);
    EXPECT_GT(counter.paints, 0) << "a new value is shown";
}

INSTANTIATE_TEST_SUITE_P(
    Controls, SameValue,
    ::testing::Values(
        Change{"status_text",
               [](int p) { ResetTextBox(p, kTextBox, "COM1: 812 B, last byte 0 s ago\r\nCOM2: SILENT"); },
               [](int p) { ResetTextBox(p, kTextBox, "COM1: 4096 kB, last byte 0 s ago\r\nCOM2: SILENT"); },
               [] { return only_widget<ui::TextBox>()->viewport(); }},
        Change{"led_colour", [](int p) { SetCtrlAttribute(p, kLed, ATTR_ON_COLOR, COLOR_RED); },
               [](int p) { SetCtrlAttribute(p, kLed, ATTR_ON_COLOR, COLOR_GREEN); },
               [] { return static_cast<QWidget *>(only_widget<ui::Led>()); }},
        Change{"label", [](int p) { SetCtrlAttribute(p, kTextBox, ATTR_LABEL_TEXT, "Slot 1 COM4"); },
               [](int p) { SetCtrlAttribute(p, kTextBox, ATTR_LABEL_TEXT, "Slot 1 COM5"); },
               [] { return static_cast<QWidget *>(label_of("Slot 1 COM4")); }}),
    [](const auto &info) { return std::string(info.param.what); });
