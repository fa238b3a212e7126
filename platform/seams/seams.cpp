// Test seams of the user interface: the operator's actions as real Qt input
// events, and read-back of what the panels show.
#include "engine_seams.h"

#include "ui/led.h"
#include "ui/text_box.h"
#include "ui/ui_internal.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
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

int SeamCtrlValue(int panel, int control)
{
    int value = 0;
    return GetCtrlVal(panel, control, &value) == 0 ? value : -1;
}

std::string SeamCtrlText(int panel, int control)
{
    const Control *c = find_control(panel, control);
    if (c == nullptr || c->body == nullptr)
        return std::string();
    if (auto *t = qobject_cast<TextBox *>(c->body.data()))
        return t->text().toLatin1().toStdString();
    if (auto *b = qobject_cast<QAbstractButton *>(c->body.data()))
        return b->text().toStdString();
    if (auto *l = qobject_cast<QLabel *>(c->body.data()))
        return l->text().toStdString();
    if (auto *r = qobject_cast<QComboBox *>(c->body.data()))
        return r->currentText().toStdString();
    return std::string();
}

std::string SeamCtrlLabel(int panel, int control)
{
    const Control *c = find_control(panel, control);
    if (c == nullptr)
        return std::string();
    if (c->label != nullptr)
        return c->label->text().toLatin1().toStdString();
    switch (c->kind) {
    case Kind::Button:
    case Kind::Check:
        return static_cast<QAbstractButton *>(c->body.data())->text().toLatin1().toStdString();
    case Kind::Caption:
        return static_cast<QLabel *>(c->body.data())->text().toLatin1().toStdString();
    default:
        return std::string();
    }
}

int SeamCtrlAttribute(int panel, int control, int attribute)
{
    const Control *c = find_control(panel, control);
    if (c == nullptr)
        return -1;
    if (c->kind == Kind::Timer)
        return attribute == ATTR_TIMER_ENABLED ? (c->timer->isActive() ? 1 : 0) : -1;
    switch (attribute) {
    case ATTR_DIMMED: return c->body->isEnabled() ? 0 : 1;
    case ATTR_VISIBLE: return c->body->isHidden() ? 0 : 1;
    case ATTR_CTRL_MODE: return c->indicator ? MODE_INDICATOR : MODE_OPERABLE;
    case ATTR_TEXT_BGCOLOR: return c->kind == Kind::TextBox ? c->background : -1;
    case ATTR_ON_COLOR:
        return c->kind == Kind::Led ? static_cast<Led *>(c->body.data())->onColor() : -1;
    default: return -1;
    }
}

double SeamTimerInterval(int panel, int timer)
{
    const Control *c = find_control(panel, timer);
    return c != nullptr && c->timer != nullptr ? c->timer->interval() / 1000.0 : -1.0;
}

bool SeamPanelExists(int panel)
{
    return find_panel(panel) != nullptr;
}

bool SeamPanelVisible(int panel)
{
    const Panel *p = find_panel(panel);
    return p != nullptr && p->window != nullptr && p->window->isVisible();
}

bool SeamPanelModal(int panel)
{
    const Panel *p = find_panel(panel);
    return p != nullptr && p->window != nullptr && p->window->isModal();
}

std::vector<int> SeamControlIds(int panel)
{
    std::vector<int> ids;
    if (const Panel *p = find_panel(panel))
        for (const auto &entry : p->controls)
            ids.push_back(entry.first);
    return ids;
}

std::string SeamCtrlKind(int panel, int control)
{
    const Control *c = find_control(panel, control);
    if (c == nullptr)
        return std::string();
    switch (c->kind) {
    case Kind::Button: return "button";
    case Kind::Check: return "check";
    case Kind::Switch: return "switch";
    case Kind::Numeric: return "numeric";
    case Kind::Ring: return "ring";
    case Kind::TextBox: return "textbox";
    case Kind::Led: return "led";
    case Kind::Caption: return "caption";
    case Kind::Timer: return "timer";
    }
    return std::string();
}

std::string SeamCtrlCallbackName(int panel, int control)
{
    const Control *c = find_control(panel, control);
    return c != nullptr ? c->callbackName.toStdString() : std::string();
}

bool SeamGrabPanel(int panel, const char *pngPath)
{
    const Panel *p = find_panel(panel);
    return p != nullptr && p->window != nullptr && p->window->grab().save(QString::fromLocal8Bit(pngPath), "PNG");
}

int SeamLoadPanelFromText(int parent, const std::string &resourceText, int resource, const char *where)
{
    return load_panel(parent, QByteArray::fromStdString(resourceText), resource, QString::fromUtf8(where));
}

bool SeamAnswerOpenPopup(int answer)
{
    QMessageBox *box = open_popup();
    if (box == nullptr)
        return false;
    const auto role = answer != 0 ? QMessageBox::YesRole : QMessageBox::NoRole;
    for (QAbstractButton *button : box->buttons()) {
        const auto r = box->buttonRole(button);
        if (r == role || (answer != 0 && r == QMessageBox::AcceptRole)) {
            QTest::mouseClick(button, Qt::LeftButton);
            return true;
        }
    }
    return false;
}

bool SeamPopupOpen()
{
    return open_popup() != nullptr;
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
