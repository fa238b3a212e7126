// Test seams that read back what the panels show.
#include "engine_seams.h"

#include "ui/led.h"
#include "ui/text_box.h"
#include "ui/ui_internal.h"

#include <QAbstractButton>
#include <QComboBox>

using namespace ui;

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
