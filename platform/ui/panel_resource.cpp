#include "panel_resource.h"

#include "engine.h"
#include "resource_reader.h"

#include <QJsonDocument>
#include <QSet>

namespace ui {

namespace {

// Bounds of the numbers a resource may hold, so that no value overflows where
// it is converted or added: positions and sizes within the largest screens
// made, a font size a screen can show, timers from a millisecond to a day.
constexpr int kMaxPixels = 8192;
constexpr int kMaxFontSize = 200;
constexpr double kMinInterval = 0.001;
constexpr double kMaxInterval = 86400.0;

struct KindName {
    const char *name;
    Kind kind;
};

constexpr KindName kKinds[] = {
    {"button", Kind::Button},   {"check", Kind::Check},     {"switch", Kind::Switch},
    {"numeric", Kind::Numeric}, {"ring", Kind::Ring},       {"textbox", Kind::TextBox},
    {"led", Kind::Led},         {"caption", Kind::Caption}, {"timer", Kind::Timer},
};

// Line and column of a byte offset, for parse errors.
QString position(const QByteArray &text, int offset)
{
    int line = 1, column = 1;
    for (int i = 0; i < offset && i < text.size(); ++i) {
        if (text[i] == '\n') {
            ++line;
            column = 1;
        } else {
            ++column;
        }
    }
    return QString("line %1, column %2").arg(line).arg(column);
}

bool kind_of(const QString &name, Kind &kind)
{
    for (const KindName &k : kKinds) {
        if (name == QLatin1String(k.name)) {
            kind = k.kind;
            return true;
        }
    }
    return false;
}

QList<RingItem> read_items(Reader &r, const QJsonArray &items, const QString &context)
{
    QList<RingItem> list;
    for (int i = 0; i < items.size() && !r.failed(); ++i) {
        if (!items[i].isObject()) {
            r.fail(QString("item %1 must be an object").arg(i + 1));
            break;
        }
        Reader item(items[i].toObject(), context + QString(", item %1").arg(i + 1));
        RingItem ri;
        ri.label = item.string("label", QString(), true);
        ri.value = item.integer("value", 0, true);
        item.finish();
        if (item.failed())
            r.fail(item.error().mid(context.size() + 2));
        list.append(ri);
    }
    return list;
}

bool read_control(const QJsonObject &object, const QString &context, ControlLayout &c, QString &error)
{
    Reader r(object, context);
    c.id = r.integer("id", 0, true);
    c.name = r.string("name", QString());
    const QString kind = r.string("kind", QString(), true);
    if (!r.failed() && !kind_of(kind, c.kind))
        r.fail(QString("unknown kind '%1' (button, check, switch, numeric, ring, textbox, led, caption or timer)").arg(kind));
    c.callback = r.string("callback", QString());
    const bool visual = c.kind != Kind::Timer;
    c.x = r.bounded("x", 0, 0, kMaxPixels, visual);
    c.y = r.bounded("y", 0, 0, kMaxPixels, visual);
    c.width = r.bounded("width", 0, 0, kMaxPixels, visual);
    c.height = r.bounded("height", 0, 0, kMaxPixels, visual);
    c.label = r.string("label", QString());
    c.tooltip = r.string("tooltip", QString());
    c.value = r.integer("value", 0);
    c.text = r.string("text", QString());
    c.dimmed = r.boolean("dimmed", false);
    c.visible = r.boolean("visible", true);
    const QString mode = r.string("mode", "operable");
    if (mode != "operable" && mode != "indicator")
        r.fail("'mode' must be \"operable\" or \"indicator\"");
    c.indicator = mode == "indicator";
    c.minimum = r.integer("min", 0);
    c.maximum = r.integer("max", 0x7fffffff);
    c.items = read_items(r, r.array("items", c.kind == Kind::Ring), context);
    c.interval = r.number("interval", 1.0);
    c.enabled = r.boolean("enabled", false);
    const QString font = r.string("font", "normal");
    if (font != "normal" && font != "mono")
        r.fail("'font' must be \"normal\" or \"mono\"");
    c.monospace = font == "mono";
    c.fontSize = r.bounded("font_size", 0, 0, kMaxFontSize);
    c.color = r.colour("color", -1);
    c.onColor = r.colour("on_color", 0x00FF00);
    c.onText = r.string("on_text", "On");
    c.offText = r.string("off_text", "Off");
    r.finish();
    if (!r.failed() && c.id <= 0)
        r.fail("'id' must be a positive number");
    // A timer of less than a millisecond would tick without pause.
    if (!r.failed() && !(c.interval >= kMinInterval && c.interval <= kMaxInterval))
        r.fail(QString("'interval' must be from %1 to %2 seconds").arg(kMinInterval).arg(kMaxInterval));
    if (!r.failed() && c.kind == Kind::Numeric && c.minimum > c.maximum)
        r.fail("'min' is above 'max'");
    if (!r.failed() && c.kind == Kind::Ring && c.items.isEmpty())
        r.fail("a ring needs at least one item");
    error = r.error();
    return !r.failed();
}

// The resource's list of panels: the text must be one JSON object holding
// it, and nothing but it and a "format".
bool read_panel_list(const QByteArray &text, const QString &where, QJsonArray &panels, QString &error)
{
    QJsonParseError parseError;
    const QJsonDocument doc = QJsonDocument::fromJson(text, &parseError);
    if (doc.isNull()) {
        error = where + ": " + position(text, parseError.offset) + ": malformed JSON (" +
                parseError.errorString() + ")";
        return false;
    }
    if (!doc.isObject()) {
        error = where + ": the file must hold one JSON object with a list \"panels\"";
        return false;
    }
    Reader top(doc.object(), where);
    top.string("format", QString());
    panels = top.array("panels", true);
    top.finish();
    error = top.error();
    return !top.failed();
}

// The index of panel `resource` in the list (-1 when no panel has that
// number). The panels before it must be objects with a resource number.
bool find_panel_entry(const QJsonArray &panels, int resource, const QString &where, int &found, QString &error)
{
    found = -1;
    for (int i = 0; i < panels.size(); ++i) {
        const QString context = where + QString(": panel %1 in the list").arg(i + 1);
        if (!panels[i].isObject()) {
            error = context + ": must be an object";
            return false;
        }
        Reader r(panels[i].toObject(), context);
        const int number = r.integer("resource", 0, true);
        if (r.failed()) {
            error = r.error();
            return false;
        }
        if (number == resource) {
            found = i;
            return true;
        }
    }
    return true;
}

// The panel's own keys; its list of controls goes to `controls`.
bool read_panel_keys(const QJsonObject &object, const QString &here, PanelLayout &panel, QJsonArray &controls,
                     QString &error)
{
    Reader p(object, here);
    panel.resource = p.integer("resource", 0, true);
    panel.title = p.string("title", QString());
    panel.width = p.bounded("width", 0, 0, kMaxPixels, true);
    panel.height = p.bounded("height", 0, 0, kMaxPixels, true);
    panel.closeControl = p.integer("close_control", 0);
    controls = p.array("controls", true);
    p.finish();
    error = p.error();
    return !p.failed();
}

// How messages name a control: by its id and name where it gives them, else
// by its place in the list.
QString control_context(const QString &here, int index, const QJsonObject &object)
{
    QString context = here + QString(", control %1 in the list").arg(index + 1);
    if (object.value("id").isDouble())
        context = here + QString(", control %1").arg(object.value("id").toInt());
    if (object.value("name").isString())
        context += " (" + object.value("name").toString() + ")";
    return context;
}

// Every control of the panel, each with an id of its own; the close control
// must be one of them.
bool read_controls(const QJsonArray &controls, const QString &here, PanelLayout &panel, QString &error)
{
    QSet<int> ids;
    for (int k = 0; k < controls.size(); ++k) {
        const QJsonObject object = controls[k].toObject(); // empty for anything else
        const QString context = control_context(here, k, object);
        if (!controls[k].isObject()) {
            error = context + ": must be an object";
            return false;
        }
        ControlLayout c;
        if (!read_control(object, context, c, error))
            return false;
        if (ids.contains(c.id)) {
            error = context + ": the id is used by another control of the panel";
            return false;
        }
        ids.insert(c.id);
        panel.controls.append(c);
    }
    if (panel.closeControl != 0 && !ids.contains(panel.closeControl)) {
        error = here + QString(": 'close_control' %1 is no control of the panel").arg(panel.closeControl);
        return false;
    }
    return true;
}

} // namespace

int parse_panel(const QByteArray &text, int resource, const QString &where, PanelLayout &panel,
                QString &error)
{
    QJsonArray panels;
    int found = -1;
    if (!read_panel_list(text, where, panels, error) || !find_panel_entry(panels, resource, where, found, error))
        return UI_ERR_FORMAT;
    if (found < 0) {
        error = where + QString(": no panel with resource number %1").arg(resource);
        return UI_ERR_NO_RESOURCE;
    }
    const QString here = where + QString(": panel %1").arg(resource);
    QJsonArray controls;
    if (!read_panel_keys(panels[found].toObject(), here, panel, controls, error) ||
        !read_controls(controls, here, panel, error))
        return UI_ERR_FORMAT;
    return 0;
}

} // namespace ui
