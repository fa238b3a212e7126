// Building a control's widgets from its description in the panel resource.
#include "ui_internal.h"

#include "led.h"
#include "text_box.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFontDatabase>
#include <QPushButton>
#include <QSpinBox>

namespace ui {

namespace {

QWidget *make_button(const ControlLayout &s, int panel, QWidget *window)
{
    auto *b = new QPushButton(s.label, window);
    const int id = s.id;
    QObject::connect(b, &QPushButton::clicked, b, [=] { deliver(panel, id, EVENT_COMMIT); });
    return b;
}

QWidget *make_check(const ControlLayout &s, int panel, QWidget *window)
{
    auto *b = new QCheckBox(s.label, window);
    b->setChecked(s.value != 0);
    const int id = s.id;
    QObject::connect(b, &QCheckBox::clicked, b, [=] { deliver(panel, id, EVENT_COMMIT); });
    return b;
}

QWidget *make_switch(const ControlLayout &s, int panel, QWidget *window)
{
    auto *b = new QPushButton(window);
    b->setCheckable(true);
    b->setChecked(s.value != 0);
    b->setProperty("onText", s.onText);
    b->setProperty("offText", s.offText);
    const int id = s.id;
    QObject::connect(b, &QPushButton::clicked, b, [=] {
        if (Control *self = find_control(panel, id))
            set_switch_text(*self);
        deliver(panel, id, EVENT_COMMIT);
    });
    return b;
}

QWidget *make_numeric(const ControlLayout &s, int panel, QWidget *window)
{
    auto *n = new QSpinBox(window);
    n->setRange(s.minimum, s.maximum);
    n->setValue(s.value);
    // Typing commits once, on Enter or on leaving the box, not per digit.
    n->setKeyboardTracking(false);
    const int id = s.id;
    QObject::connect(n, qOverload<int>(&QSpinBox::valueChanged), n, [=] { deliver(panel, id, EVENT_COMMIT); });
    return n;
}

QWidget *make_ring(const ControlLayout &s, int panel, Control &c, QWidget *window)
{
    auto *r = new QComboBox(window);
    for (const RingItem &item : s.items) {
        r->addItem(item.label);
        c.ringValues.append(item.value);
    }
    const int index = c.ringValues.indexOf(s.value);
    r->setCurrentIndex(index >= 0 ? index : 0);
    const int id = s.id;
    QObject::connect(r, qOverload<int>(&QComboBox::activated), r, [=] { deliver(panel, id, EVENT_COMMIT); });
    return r;
}

QWidget *make_text_box(const ControlLayout &s, Control &c, QWidget *window)
{
    auto *t = new TextBox(window);
    t->reset(s.text.toLatin1().constData());
    if (s.color >= 0)
        t->setBackground(s.color);
    c.background = s.color;
    return t;
}

QWidget *make_led(const ControlLayout &s, QWidget *window)
{
    auto *l = new Led(window);
    l->setOnColor(s.onColor);
    l->setLit(s.value != 0);
    return l;
}

QWidget *make_caption(const ControlLayout &s, QWidget *window)
{
    auto *l = new QLabel(s.label, window);
    l->setWordWrap(true);
    return l;
}

QWidget *make_body(const ControlLayout &s, int panel, Control &c, QWidget *window)
{
    switch (s.kind) {
    case Kind::Button: return make_button(s, panel, window);
    case Kind::Check: return make_check(s, panel, window);
    case Kind::Switch: return make_switch(s, panel, window);
    case Kind::Numeric: return make_numeric(s, panel, window);
    case Kind::Ring: return make_ring(s, panel, c, window);
    case Kind::TextBox: return make_text_box(s, c, window);
    case Kind::Led: return make_led(s, window);
    case Kind::Caption: return make_caption(s, window);
    case Kind::Timer: return nullptr;
    }
    return nullptr;
}

bool has_side_label(Kind kind)
{
    switch (kind) {
    case Kind::Switch:
    case Kind::Numeric:
    case Kind::Ring:
    case Kind::TextBox:
    case Kind::Led:
        return true;
    case Kind::Button:
    case Kind::Check:
    case Kind::Caption:
    case Kind::Timer:
        return false;
    }
    return false;
}

void build_timer(const ControlLayout &s, Panel &panel, Control &c)
{
    auto *timer = new QTimer(panel.window);
    timer->setTimerType(Qt::PreciseTimer);
    timer->setInterval(static_cast<int>(s.interval * 1000.0 + 0.5));
    const int handle = panel.handle, id = s.id;
    QObject::connect(timer, &QTimer::timeout, timer, [=] { deliver(handle, id, EVENT_TIMER_TICK); });
    if (s.enabled)
        timer->start();
    c.timer = timer;
}

void set_font(const ControlLayout &s, QWidget *body)
{
    if (!s.monospace && s.fontSize <= 0)
        return;
    QFont font = s.monospace ? QFontDatabase::systemFont(QFontDatabase::FixedFont) : body->font();
    if (s.fontSize > 0)
        font.setPointSize(s.fontSize);
    body->setFont(font);
}

} // namespace

void place_label(Control &c)
{
    if (c.label == nullptr || c.body == nullptr)
        return;
    c.label->adjustSize();
    const QRect g = c.body->geometry();
    if (c.kind == Kind::Led)
        c.label->move(g.right() + 6, g.top() + (g.height() - c.label->height()) / 2);
    else
        c.label->move(g.left(), g.top() - c.label->height() - 1);
}

void set_switch_text(Control &c)
{
    auto *sw = static_cast<QPushButton *>(c.body.data());
    sw->setText(sw->isChecked() ? sw->property("onText").toString() : sw->property("offText").toString());
}

void build_control(const ControlLayout &s, CtrlCallbackPtr callback, Panel &panel)
{
    Control &c = panel.controls[s.id];
    c.id = s.id;
    c.kind = s.kind;
    c.name = s.name;
    c.callback = callback;
    c.callbackName = s.callback;
    if (s.kind == Kind::Timer) {
        build_timer(s, panel, c);
        return;
    }
    QWidget *window = panel.window;
    c.body = make_body(s, panel.handle, c, window);
    c.body->setGeometry(s.x, s.y, s.width, s.height);
    set_font(s, c.body);
    if (!s.tooltip.isEmpty())
        c.body->setToolTip(s.tooltip);
    if (s.kind == Kind::Switch)
        set_switch_text(c);
    if (has_side_label(s.kind)) {
        c.label = new QLabel(s.label, window);
        place_label(c);
    }
    watch_input(panel.handle, c);
    set_indicator(c, s.indicator);
    set_dimmed(c, s.dimmed);
    set_visible(c, s.visible);
}

} // namespace ui
