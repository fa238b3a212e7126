// The program's interface to controls: their values and attributes.
#include "engine.h"

#include "led.h"
#include "text_box.h"
#include "ui_internal.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QSignalBlocker>
#include <QSpinBox>

namespace ui {

namespace {

// The control, or the UiError that explains why there is none.
int lookup(int panel, int control, Control *&c)
{
    if (find_panel(panel) == nullptr)
        return UI_ERR_BAD_PANEL;
    c = find_control(panel, control);
    return c != nullptr ? 0 : UI_ERR_BAD_CONTROL;
}

// Whether the control holds a number that the program sets and reads.
bool holds_number(Kind kind)
{
    switch (kind) {
    case Kind::Check:
    case Kind::Switch:
    case Kind::Numeric:
    case Kind::Ring:
    case Kind::Led:
        return true;
    case Kind::Button:
    case Kind::TextBox:
    case Kind::Caption:
    case Kind::Timer:
        return false;
    }
    return false;
}

// The control holding a number, or the UiError that explains why there is none.
int lookup_number(int panel, int control, Control *&c)
{
    const int found = lookup(panel, control, c);
    if (found != 0)
        return found;
    return holds_number(c->kind) ? 0 : UI_ERR_BAD_VALUE;
}

// The text box, or the UiError that explains why the control is none.
int lookup_text_box(int panel, int control, TextBox *&box)
{
    Control *c = nullptr;
    const int found = lookup(panel, control, c);
    if (found != 0)
        return found;
    if (c->kind != Kind::TextBox)
        return UI_ERR_BAD_VALUE;
    box = static_cast<TextBox *>(c->body.data());
    return 0;
}

int set_label(Control &c, const char *text)
{
    const QString label = QString::fromLatin1(text);
    switch (c.kind) {
    case Kind::Button:
    case Kind::Check:
        static_cast<QAbstractButton *>(c.body.data())->setText(label);
        return 0;
    case Kind::Caption:
        static_cast<QLabel *>(c.body.data())->setText(label);
        return 0;
    case Kind::Switch:
    case Kind::Numeric:
    case Kind::Ring:
    case Kind::TextBox:
    case Kind::Led:
        c.label->setText(label);
        place_label(c);
        return 0;
    case Kind::Timer:
        return UI_ERR_BAD_ATTRIBUTE;
    }
    return UI_ERR_BAD_ATTRIBUTE;
}

int set_timer_enabled(Control &c, int value)
{
    if (value != 0)
        c.timer->start();
    else
        c.timer->stop();
    return 0;
}

} // namespace

void set_visible(Control &c, bool visible)
{
    c.body->setVisible(visible);
    if (c.label != nullptr)
        c.label->setVisible(visible);
}

} // namespace ui

using namespace ui;

int SetCtrlAttribute(int panel, int control, int attribute, int value)
{
    Control *c = nullptr;
    const int found = lookup(panel, control, c);
    if (found != 0)
        return found;
    const bool isTimer = c->kind == Kind::Timer;
    switch (attribute) {
    case ATTR_DIMMED:
        if (isTimer)
            return UI_ERR_BAD_ATTRIBUTE;
        set_dimmed(*c, value != 0);
        return 0;
    case ATTR_VISIBLE:
        if (isTimer)
            return UI_ERR_BAD_ATTRIBUTE;
        set_visible(*c, value != 0);
        return 0;
    case ATTR_CTRL_MODE:
        if (isTimer || (value != MODE_INDICATOR && value != MODE_OPERABLE))
            return isTimer ? UI_ERR_BAD_ATTRIBUTE : UI_ERR_BAD_VALUE;
        set_indicator(*c, value == MODE_INDICATOR);
        return 0;
    case ATTR_TEXT_BGCOLOR:
        if (c->kind != Kind::TextBox)
            return UI_ERR_BAD_ATTRIBUTE;
        static_cast<TextBox *>(c->body.data())->setBackground(value);
        c->background = value;
        return 0;
    case ATTR_ON_COLOR:
        if (c->kind != Kind::Led)
            return UI_ERR_BAD_ATTRIBUTE;
        static_cast<Led *>(c->body.data())->setOnColor(value);
        return 0;
    case ATTR_TIMER_ENABLED:
        return isTimer ? set_timer_enabled(*c, value) : UI_ERR_BAD_ATTRIBUTE;
    case ATTR_LABEL_TEXT: // takes a string
        return isTimer ? UI_ERR_BAD_ATTRIBUTE : UI_ERR_BAD_VALUE;
    }
    return UI_ERR_BAD_ATTRIBUTE;
}

int SetCtrlAttribute(int panel, int control, int attribute, const char *value)
{
    Control *c = nullptr;
    const int found = lookup(panel, control, c);
    if (found != 0)
        return found;
    switch (attribute) {
    case ATTR_LABEL_TEXT:
        return set_label(*c, value != nullptr ? value : "");
    case ATTR_DIMMED:
    case ATTR_VISIBLE:
    case ATTR_CTRL_MODE:
    case ATTR_TEXT_BGCOLOR:
    case ATTR_ON_COLOR:
    case ATTR_TIMER_ENABLED:
        return UI_ERR_BAD_VALUE; // attributes that take a number
    }
    return UI_ERR_BAD_ATTRIBUTE;
}

int SetCtrlVal(int panel, int control, int value)
{
    Control *c = nullptr;
    const int found = lookup_number(panel, control, c);
    if (found != 0)
        return found;
    // A value set by the program raises no event.
    const QSignalBlocker blocker(c->body.data());
    if (c->kind == Kind::Numeric) {
        static_cast<QSpinBox *>(c->body.data())->setValue(value);
    } else if (c->kind == Kind::Ring) {
        const int index = c->ringValues.indexOf(value);
        if (index < 0)
            return UI_ERR_BAD_VALUE;
        static_cast<QComboBox *>(c->body.data())->setCurrentIndex(index);
    } else if (c->kind == Kind::Led) {
        static_cast<Led *>(c->body.data())->setLit(value != 0);
    } else { // a check box or a switch
        static_cast<QAbstractButton *>(c->body.data())->setChecked(value != 0);
        if (c->kind == Kind::Switch)
            set_switch_text(*c);
    }
    return 0;
}

int SetCtrlVal(int panel, int control, const char *text)
{
    TextBox *box = nullptr;
    const int found = lookup_text_box(panel, control, box);
    if (found != 0)
        return found;
    box->append(text != nullptr ? text : "");
    return 0;
}

int GetCtrlVal(int panel, int control, int *value)
{
    Control *c = nullptr;
    const int found = lookup_number(panel, control, c);
    if (found != 0)
        return found;
    if (c->kind == Kind::Numeric) {
        *value = static_cast<QSpinBox *>(c->body.data())->value();
    } else if (c->kind == Kind::Ring) {
        const int index = static_cast<QComboBox *>(c->body.data())->currentIndex();
        *value = index >= 0 && index < c->ringValues.size() ? c->ringValues[index] : 0;
    } else if (c->kind == Kind::Led) {
        *value = static_cast<Led *>(c->body.data())->lit() ? 1 : 0;
    } else { // a check box or a switch
        *value = static_cast<QAbstractButton *>(c->body.data())->isChecked() ? 1 : 0;
    }
    return 0;
}

int ResetTextBox(int panel, int control, const char *text)
{
    TextBox *box = nullptr;
    const int found = lookup_text_box(panel, control, box);
    if (found != 0)
        return found;
    box->reset(text != nullptr ? text : "");
    return 0;
}
