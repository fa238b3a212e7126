// Input filtering: what the operator's mouse and keys may do to a control.
//
// A left mouse press is the control's left-click event, delivered before the
// press does anything else. A control refuses the operator in three ways:
// - dimmed: greyed out, and Qt delivers it no input at all (nor left clicks);
// - indicator: it looks as usual and shows its value, but the filter here
//   swallows every mouse and key event after the left click;
// - behind a modal window (a popup panel, a message box): Qt blocks it.
#include "ui_internal.h"

#include <QAbstractScrollArea>
#include <QLineEdit>
#include <QMouseEvent>
#include <QSpinBox>

namespace ui {

namespace {

// Sees every input event of one control's widgets.
class InputFilter : public QObject {
public:
    InputFilter(int panel, int control, QObject *parent)
        : QObject(parent), m_panel(panel), m_control(control) {}

protected:
    bool eventFilter(QObject *, QEvent *event) override
    {
        const Control *c = find_control(m_panel, m_control);
        if (c == nullptr || c->body == nullptr)
            return false;
        switch (event->type()) {
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonDblClick: // the second press of a double click
            return mouse_press(static_cast<QMouseEvent *>(event), c);
        case QEvent::MouseButtonRelease:
        case QEvent::KeyPress:
        case QEvent::KeyRelease:
        case QEvent::Wheel:
            return c->indicator;
        default:
            return false;
        }
    }

private:
    // Delivers the left click; returns whether the press goes no further.
    bool mouse_press(const QMouseEvent *mouse, const Control *c)
    {
        // A press that a child passes on to its parent widget is one click.
        if (mouse->button() == Qt::LeftButton && c->body->isEnabled() && mouse->timestamp() != m_lastPress) {
            m_lastPress = mouse->timestamp();
            deliver(m_panel, m_control, EVENT_LEFT_CLICK);
            // The callback may have discarded the panel: the press then goes
            // no further.
            c = find_control(m_panel, m_control);
            if (c == nullptr)
                return true;
        }
        return c->indicator;
    }

    int m_panel;
    int m_control;
    quint64 m_lastPress = ~quint64(0);
};

} // namespace

void watch_input(int panel, Control &c)
{
    auto *filter = new InputFilter(panel, c.id, c.body);
    c.body->installEventFilter(filter);
    // The widgets inside a spin box and a scroll area take the events first.
    if (auto *spin = qobject_cast<QSpinBox *>(c.body.data()))
        spin->findChild<QLineEdit *>()->installEventFilter(filter);
    if (auto *area = qobject_cast<QAbstractScrollArea *>(c.body.data()))
        area->viewport()->installEventFilter(filter);
}

void set_dimmed(Control &c, bool dimmed)
{
    c.body->setEnabled(!dimmed);
    if (c.label != nullptr)
        c.label->setEnabled(!dimmed);
}

void set_indicator(Control &c, bool indicator)
{
    c.indicator = indicator;
    // A numeric indicator also looks like one: no arrows, no editing.
    if (auto *spin = qobject_cast<QSpinBox *>(c.body.data()))
        spin->setReadOnly(indicator);
}

} // namespace ui
