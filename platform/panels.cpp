// Panels and controls: built from the panel resource, operated by the
// program through the flat functions of engine.h.
#include "engine.h"

#include "led.h"
#include "text_box.h"
#include "ui_internal.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QFileInfo>
#include <QFontDatabase>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSpinBox>

#include <cstdio>

namespace ui {

namespace {

// A logger has its main panel and one popup at a time; the rest is headroom.
constexpr int kMaxPanels = 32;

std::map<int, std::unique_ptr<Panel>> g_panels;

// Sees every input event of a control's widgets: a left mouse press is the
// control's left-click event, delivered before the press does anything else;
// an indicator takes no input.
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
        case QEvent::MouseButtonDblClick: { // the second press of a double click
            auto *mouse = static_cast<QMouseEvent *>(event);
            // A press that a child passes on to its parent widget is one click.
            if (mouse->button() == Qt::LeftButton && c->body->isEnabled() &&
                mouse->timestamp() != m_lastPress) {
                m_lastPress = mouse->timestamp();
                deliver(m_panel, m_control, EVENT_LEFT_CLICK);
                // The callback may have discarded the panel: the press then
                // goes no further.
                c = find_control(m_panel, m_control);
                if (c == nullptr)
                    return true;
            }
            return c->indicator;
        }
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
    int m_panel;
    int m_control;
    quint64 m_lastPress = ~quint64(0);
};

CtrlCallbackPtr find_callback(const QString &name)
{
    for (const CallbackBinding *b = callback_table; b->name != nullptr; ++b)
        if (name == QLatin1String(b->name))
            return b->callback;
    return nullptr;
}

int free_handle()
{
    for (int h = 1; h <= kMaxPanels; ++h)
        if (g_panels.find(h) == g_panels.end())
            return h;
    return UI_ERR_TOO_MANY_PANELS;
}

void report(const QString &message)
{
    std::fprintf(stderr, "vornacq4: %s\n", message.toLocal8Bit().constData());
}

QString control_context(const QString &where, int resource, const ControlLayout &c)
{
    QString s = where + QString(": panel %1, control %2").arg(resource).arg(c.id);
    if (!c.name.isEmpty())
        s += " (" + c.name + ")";
    return s;
}

// Places a label above the body, or to its right for an LED.
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

QWidget *make_body(const ControlLayout &s, Panel &panel, Control &c, QWidget *window)
{
    const int handle = panel.handle, id = s.id;
    switch (s.kind) {
    case Kind::Button: {
        auto *b = new QPushButton(s.label, window);
        QObject::connect(b, &QPushButton::clicked, b, [=] { deliver(handle, id, EVENT_COMMIT); });
        return b;
    }
    case Kind::Check: {
        auto *b = new QCheckBox(s.label, window);
        b->setChecked(s.value != 0);
        QObject::connect(b, &QCheckBox::clicked, b, [=] { deliver(handle, id, EVENT_COMMIT); });
        return b;
    }
    case Kind::Switch: {
        auto *b = new QPushButton(window);
        b->setCheckable(true);
        b->setChecked(s.value != 0);
        b->setProperty("onText", s.onText);
        b->setProperty("offText", s.offText);
        QObject::connect(b, &QPushButton::clicked, b, [=] {
            if (Control *self = find_control(handle, id))
                set_switch_text(*self);
            deliver(handle, id, EVENT_COMMIT);
        });
        return b;
    }
    case Kind::Numeric: {
        auto *n = new QSpinBox(window);
        n->setRange(s.minimum, s.maximum);
        n->setValue(s.value);
        // Typing commits once, on Enter or on leaving the box, not per digit.
        n->setKeyboardTracking(false);
        QObject::connect(n, qOverload<int>(&QSpinBox::valueChanged), n,
                         [=] { deliver(handle, id, EVENT_COMMIT); });
        return n;
    }
    case Kind::Ring: {
        auto *r = new QComboBox(window);
        for (const RingItem &item : s.items) {
            r->addItem(item.label);
            c.ringValues.append(item.value);
        }
        const int index = c.ringValues.indexOf(s.value);
        r->setCurrentIndex(index >= 0 ? index : 0);
        QObject::connect(r, qOverload<int>(&QComboBox::activated), r,
                         [=] { deliver(handle, id, EVENT_COMMIT); });
        return r;
    }
    case Kind::TextBox: {
        auto *t = new TextBox(window);
        t->reset(s.text.toLatin1().constData());
        if (s.color >= 0)
            t->setBackground(s.color);
        c.background = s.color;
        return t;
    }
    case Kind::Led: {
        auto *l = new Led(window);
        l->setOnColor(s.onColor);
        l->setLit(s.value != 0);
        return l;
    }
    case Kind::Caption: {
        auto *l = new QLabel(s.label, window);
        l->setWordWrap(true);
        return l;
    }
    case Kind::Timer:
        return nullptr;
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

void build_control(const ControlLayout &s, CtrlCallbackPtr callback, Panel &panel)
{
    Control &c = panel.controls[s.id];
    c.id = s.id;
    c.kind = s.kind;
    c.name = s.name;
    c.callback = callback;
    c.callbackName = s.callback;
    c.indicator = s.indicator;
    QWidget *window = panel.window;
    if (s.kind == Kind::Timer) {
        auto *timer = new QTimer(window);
        timer->setTimerType(Qt::PreciseTimer);
        timer->setInterval(static_cast<int>(s.interval * 1000.0 + 0.5));
        const int handle = panel.handle, id = s.id;
        QObject::connect(timer, &QTimer::timeout, timer, [=] { deliver(handle, id, EVENT_TIMER_TICK); });
        if (s.enabled)
            timer->start();
        c.timer = timer;
        return;
    }
    QWidget *body = make_body(s, panel, c, window);
    c.body = body;
    body->setGeometry(s.x, s.y, s.width, s.height);
    if (s.monospace || s.fontSize > 0) {
        QFont font = s.monospace ? QFontDatabase::systemFont(QFontDatabase::FixedFont) : body->font();
        if (s.fontSize > 0)
            font.setPointSize(s.fontSize);
        body->setFont(font);
    }
    if (!s.tooltip.isEmpty())
        body->setToolTip(s.tooltip);
    if (s.kind == Kind::Switch)
        set_switch_text(c);
    if (has_side_label(s.kind)) {
        c.label = new QLabel(s.label, window);
        place_label(c);
    }
    auto *filter = new InputFilter(panel.handle, s.id, body);
    body->installEventFilter(filter);
    if (auto *spin = qobject_cast<QSpinBox *>(body)) {
        spin->findChild<QLineEdit *>()->installEventFilter(filter);
        spin->setReadOnly(s.indicator);
    }
    if (auto *area = qobject_cast<QAbstractScrollArea *>(body))
        area->viewport()->installEventFilter(filter);
    body->setEnabled(!s.dimmed);
    if (c.label != nullptr)
        c.label->setEnabled(!s.dimmed);
    body->setVisible(s.visible);
    if (c.label != nullptr)
        c.label->setVisible(s.visible);
}

// The control, or the UiError that explains why there is none.
int lookup(int panel, int control, Control *&c)
{
    if (find_panel(panel) == nullptr)
        return UI_ERR_BAD_PANEL;
    c = find_control(panel, control);
    return c != nullptr ? 0 : UI_ERR_BAD_CONTROL;
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

} // namespace

Panel *find_panel(int handle)
{
    auto it = g_panels.find(handle);
    return it != g_panels.end() ? it->second.get() : nullptr;
}

Control *find_control(int panel, int control)
{
    Panel *p = find_panel(panel);
    if (p == nullptr)
        return nullptr;
    auto it = p->controls.find(control);
    return it != p->controls.end() ? &it->second : nullptr;
}

int load_panel(int parent, const QByteArray &text, int resource, const QString &where)
{
    if (QApplication::instance() == nullptr) {
        report(where + ": " + UiErrorText(UI_ERR_NOT_READY));
        return UI_ERR_NOT_READY;
    }
    const Panel *parentPanel = parent != 0 ? find_panel(parent) : nullptr;
    if (parent != 0 && parentPanel == nullptr) {
        report(where + QString(": parent panel %1 does not exist").arg(parent));
        return UI_ERR_BAD_PANEL;
    }
    PanelLayout layout;
    QString error;
    const int parsed = parse_panel(text, resource, where, layout, error);
    if (parsed < 0) {
        report(error);
        return parsed;
    }
    QList<CtrlCallbackPtr> callbacks;
    for (const ControlLayout &c : layout.controls) {
        CtrlCallbackPtr callback = c.callback.isEmpty() ? nullptr : find_callback(c.callback);
        if (!c.callback.isEmpty() && callback == nullptr) {
            report(control_context(where, resource, c) + QString(": unknown callback '%1' (the program defines no function of that name)").arg(c.callback));
            return UI_ERR_CALLBACK;
        }
        callbacks.append(callback);
    }
    const int handle = free_handle();
    if (handle < 0) {
        report(where + ": " + UiErrorText(handle));
        return handle;
    }
    auto panel = std::make_unique<Panel>();
    panel->handle = handle;
    panel->parent = parent;
    panel->resource = resource;
    panel->window = new PanelWindow(handle, parentPanel != nullptr ? parentPanel->window.data() : nullptr);
    panel->window->setWindowTitle(layout.title);
    panel->window->setFixedSize(layout.width, layout.height);
    Panel &p = *panel;
    g_panels[handle] = std::move(panel);
    for (int i = 0; i < layout.controls.size(); ++i)
        build_control(layout.controls[i], callbacks[i], p);
    return handle;
}

} // namespace ui

using namespace ui;

int LoadPanel(int parent, const char *fileName, int resource)
{
    if (QApplication::instance() == nullptr) {
        std::fprintf(stderr, "vornacq4: %s: %s\n", fileName, UiErrorText(UI_ERR_NOT_READY));
        return UI_ERR_NOT_READY;
    }
    QString path = QString::fromLocal8Bit(fileName);
    // Looked up beside the executable, so the logger runs from any directory.
    if (QFileInfo(path).isRelative())
        path = QCoreApplication::applicationDirPath() + "/" + path;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        report(path + ": cannot read the panel resource file (" + file.errorString() + ")");
        return UI_ERR_FILE;
    }
    return load_panel(parent, file.readAll(), resource, path);
}

int DisplayPanel(int panel)
{
    Panel *p = find_panel(panel);
    if (p == nullptr)
        return UI_ERR_BAD_PANEL;
    p->window->show();
    return 0;
}

int InstallPopup(int panel)
{
    Panel *p = find_panel(panel);
    if (p == nullptr)
        return UI_ERR_BAD_PANEL;
    if (!p->window->isModal()) {
        // Qt applies a new modality only when the window is shown again, so a
        // panel already displayed is hidden first.
        p->window->hide();
        p->window->setWindowModality(Qt::ApplicationModal);
    }
    p->window->show();
    p->window->activateWindow();
    return 0;
}

int DiscardPanel(int panel)
{
    auto it = g_panels.find(panel);
    if (it == g_panels.end())
        return UI_ERR_BAD_PANEL;
    // Popups of this panel go with it.
    std::vector<int> children;
    for (const auto &entry : g_panels)
        if (entry.second->parent == panel)
            children.push_back(entry.first);
    for (int child : children)
        DiscardPanel(child);
    it = g_panels.find(panel);
    std::unique_ptr<Panel> gone = std::move(it->second);
    g_panels.erase(it);
    for (auto &entry : gone->controls)
        if (entry.second.timer != nullptr)
            entry.second.timer->stop();
    if (gone->window != nullptr) {
        gone->window->hide();
        // Deleted once the event in hand is done: a callback may discard the
        // panel of the very control that called it.
        gone->window->deleteLater();
    }
    return 0;
}

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
        c->body->setEnabled(value == 0);
        if (c->label != nullptr)
            c->label->setEnabled(value == 0);
        return 0;
    case ATTR_VISIBLE:
        if (isTimer)
            return UI_ERR_BAD_ATTRIBUTE;
        c->body->setVisible(value != 0);
        if (c->label != nullptr)
            c->label->setVisible(value != 0);
        return 0;
    case ATTR_CTRL_MODE:
        if (isTimer || (value != MODE_INDICATOR && value != MODE_OPERABLE))
            return isTimer ? UI_ERR_BAD_ATTRIBUTE : UI_ERR_BAD_VALUE;
        c->indicator = value == MODE_INDICATOR;
        if (auto *spin = qobject_cast<QSpinBox *>(c->body.data()))
            spin->setReadOnly(c->indicator);
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
        if (!isTimer)
            return UI_ERR_BAD_ATTRIBUTE;
        if (value != 0)
            c->timer->start();
        else
            c->timer->stop();
        return 0;
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
    const int found = lookup(panel, control, c);
    if (found != 0)
        return found;
    // A value set by the program raises no event.
    const QSignalBlocker blocker(c->body.data());
    switch (c->kind) {
    case Kind::Check:
        static_cast<QCheckBox *>(c->body.data())->setChecked(value != 0);
        return 0;
    case Kind::Switch:
        static_cast<QPushButton *>(c->body.data())->setChecked(value != 0);
        set_switch_text(*c);
        return 0;
    case Kind::Numeric:
        static_cast<QSpinBox *>(c->body.data())->setValue(value);
        return 0;
    case Kind::Ring: {
        const int index = c->ringValues.indexOf(value);
        if (index < 0)
            return UI_ERR_BAD_VALUE;
        static_cast<QComboBox *>(c->body.data())->setCurrentIndex(index);
        return 0;
    }
    case Kind::Led:
        static_cast<Led *>(c->body.data())->setLit(value != 0);
        return 0;
    case Kind::Button:
    case Kind::TextBox:
    case Kind::Caption:
    case Kind::Timer:
        return UI_ERR_BAD_VALUE;
    }
    return UI_ERR_BAD_VALUE;
}

int SetCtrlVal(int panel, int control, const char *text)
{
    Control *c = nullptr;
    const int found = lookup(panel, control, c);
    if (found != 0)
        return found;
    if (c->kind != Kind::TextBox)
        return UI_ERR_BAD_VALUE;
    static_cast<TextBox *>(c->body.data())->append(text != nullptr ? text : "");
    return 0;
}

int GetCtrlVal(int panel, int control, int *value)
{
    Control *c = nullptr;
    const int found = lookup(panel, control, c);
    if (found != 0)
        return found;
    switch (c->kind) {
    case Kind::Check:
    case Kind::Switch:
        *value = static_cast<QAbstractButton *>(c->body.data())->isChecked() ? 1 : 0;
        return 0;
    case Kind::Numeric:
        *value = static_cast<QSpinBox *>(c->body.data())->value();
        return 0;
    case Kind::Ring: {
        const int index = static_cast<QComboBox *>(c->body.data())->currentIndex();
        *value = index >= 0 && index < c->ringValues.size() ? c->ringValues[index] : 0;
        return 0;
    }
    case Kind::Led:
        *value = static_cast<Led *>(c->body.data())->lit() ? 1 : 0;
        return 0;
    case Kind::Button:
    case Kind::TextBox:
    case Kind::Caption:
    case Kind::Timer:
        return UI_ERR_BAD_VALUE;
    }
    return UI_ERR_BAD_VALUE;
}

int ResetTextBox(int panel, int control, const char *text)
{
    Control *c = nullptr;
    const int found = lookup(panel, control, c);
    if (found != 0)
        return found;
    if (c->kind != Kind::TextBox)
        return UI_ERR_BAD_VALUE;
    static_cast<TextBox *>(c->body.data())->reset(text != nullptr ? text : "");
    return 0;
}
