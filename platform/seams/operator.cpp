// Test seams of the operator: clicks, typing and closing from the frame as
// real Qt input events on the controls' widgets, timer ticks, and the event
// loop run while a test waits.
#include "engine_seams.h"

#include "ui/ui_internal.h"

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QSpinBox>
#include <QTest>

using namespace ui;

namespace {

QWidget *body_of(int panel, int control)
{
    const Control *c = find_control(panel, control);
    return c != nullptr ? c->body.data() : nullptr;
}

// Whether a modal window (an installed popup panel, a message box) keeps the
// operator from the widget's window. Qt checks this for input from the window
// system only; the widget events sent here would pass it by.
bool blocked_by_modal(const QWidget *w)
{
    const QWidget *modal = QApplication::activeModalWidget();
    if (modal == nullptr)
        return false;
    for (const QWidget *window = w->window(); window != nullptr;
         window = window->parentWidget() != nullptr ? window->parentWidget()->window() : nullptr) {
        if (window == modal)
            return false;
    }
    return true;
}

bool type_number(QSpinBox *spin, int value)
{
    QLineEdit *edit = spin->findChild<QLineEdit *>();
    if (edit == nullptr)
        return false;
    QTest::mouseClick(edit, Qt::LeftButton);
    QTest::keyClick(edit, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClicks(edit, QString::number(value));
    QTest::keyClick(edit, Qt::Key_Return);
    return spin->value() == value;
}

bool choose_item(Control &c, QComboBox *ring, int value)
{
    const int target = c.ringValues.indexOf(value);
    if (target < 0)
        return false;
    ring->setFocus();
    for (int guard = 0; ring->currentIndex() != target && guard < 2 * ring->count(); ++guard)
        QTest::keyClick(ring, ring->currentIndex() < target ? Qt::Key_Down : Qt::Key_Up);
    return ring->currentIndex() == target;
}

} // namespace

bool SeamClick(int panel, int control)
{
    QWidget *w = body_of(panel, control);
    if (w == nullptr || !w->isVisible() || blocked_by_modal(w))
        return false;
    QTest::mouseClick(w, Qt::LeftButton);
    return true;
}

bool SeamEnterValue(int panel, int control, int value)
{
    Control *c = find_control(panel, control);
    if (c == nullptr || c->body == nullptr || !c->body->isVisible() || blocked_by_modal(c->body))
        return false;
    if (auto *spin = qobject_cast<QSpinBox *>(c->body.data()))
        return type_number(spin, value);
    if (auto *ring = qobject_cast<QComboBox *>(c->body.data()))
        return choose_item(*c, ring, value);
    if (auto *button = qobject_cast<QAbstractButton *>(c->body.data())) {
        if (!button->isCheckable())
            return false;
        if (button->isChecked() != (value != 0))
            QTest::mouseClick(button, Qt::LeftButton);
        return button->isChecked() == (value != 0);
    }
    return false;
}

bool SeamCloseFromFrame(int panel)
{
    const Panel *p = find_panel(panel);
    if (p == nullptr || p->window == nullptr || !p->window->isVisible() || blocked_by_modal(p->window))
        return false;
    p->window->close();
    return true;
}

bool SeamTick(int panel, int timer)
{
    const Control *c = find_control(panel, timer);
    if (c == nullptr || c->kind != Kind::Timer || !c->timer->isActive())
        return false;
    // The same way in as the timer's own ticks.
    deliver(panel, timer, EVENT_TIMER_TICK);
    return true;
}

bool SeamProcessEventsUntil(const std::function<bool()> &pred, int timeoutMs)
{
    QElapsedTimer clock;
    clock.start();
    while (!pred()) {
        if (clock.elapsed() >= timeoutMs)
            return false;
        QApplication::processEvents(QEventLoop::AllEvents, 10);
        QTest::qWait(1);
    }
    return true;
}

void SeamRunLater(int delayMs, const std::function<void()> &fn)
{
    QTimer::singleShot(delayMs, QApplication::instance(), fn);
}
