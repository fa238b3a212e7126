#include "panel_resource.h"

#include "engine.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSet>

#include <cctype>
#include <cmath>

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

// Reads the keys of one JSON object, remembering the first problem met.
class Reader {
public:
    Reader(const QJsonObject &object, QString context) : m_object(object), m_context(std::move(context)) {}

    bool failed() const { return !m_error.isEmpty(); }
    const QString &error() const { return m_error; }
    void fail(const QString &what)
    {
        if (m_error.isEmpty())
            m_error = m_context + ": " + what;
    }

    int integer(const char *key, int fallback, bool required = false)
    {
        m_known.insert(key);
        const QJsonValue v = m_object.value(key);
        if (v.isUndefined()) {
            if (required)
                fail(QString("'%1' is missing").arg(key));
            return fallback;
        }
        // In range before it is converted: converting a double beyond the
        // range of the integer is undefined.
        const double d = v.toDouble(0.5);
        if (!v.isDouble() || !(d >= -2147483648.0 && d <= 2147483647.0) || d != std::trunc(d)) {
            fail(QString("'%1' must be a whole number").arg(key));
            return fallback;
        }
        return static_cast<int>(d);
    }

    // A whole number from low to high.
    int bounded(const char *key, int fallback, int low, int high, bool required = false)
    {
        const int value = integer(key, fallback, required);
        if (value < low || value > high) {
            fail(QString("'%1' must be from %2 to %3").arg(key).arg(low).arg(high));
            return fallback;
        }
        return value;
    }

    double number(const char *key, double fallback)
    {
        m_known.insert(key);
        const QJsonValue v = m_object.value(key);
        if (v.isUndefined())
            return fallback;
        if (!v.isDouble()) {
            fail(QString("'%1' must be a number").arg(key));
            return fallback;
        }
        return v.toDouble();
    }

    bool boolean(const char *key, bool fallback)
    {
        m_known.insert(key);
        const QJsonValue v = m_object.value(key);
        if (v.isUndefined())
            return fallback;
        if (!v.isBool()) {
            fail(QString("'%1' must be true or false").arg(key));
            return fallback;
        }
        return v.toBool();
    }

    QString string(const char *key, const QString &fallback, bool required = false)
    {
        m_known.insert(key);
        const QJsonValue v = m_object.value(key);
        if (v.isUndefined()) {
            if (required)
                fail(QString("'%1' is missing").arg(key));
            return fallback;
        }
        if (!v.isString()) {
            fail(QString("'%1' must be a text in quotes").arg(key));
            return fallback;
        }
        return v.toString();
    }

    // "#RRGGBB" as an RGB value.
    int colour(const char *key, int fallback)
    {
        const QString s = string(key, QString());
        if (s.isEmpty())
            return fallback;
        bool ok = s.size() == 7 && s.startsWith('#');
        for (int i = 1; i < s.size() && ok; ++i)
            ok = std::isxdigit(static_cast<unsigned char>(s[i].toLatin1())) != 0;
        const int value = ok ? s.mid(1).toInt(&ok, 16) : 0;
        if (!ok) {
            fail(QString("'%1' must be a colour written #RRGGBB").arg(key));
            return fallback;
        }
        return value;
    }

    QJsonArray array(const char *key, bool required)
    {
        m_known.insert(key);
        const QJsonValue v = m_object.value(key);
        if (v.isUndefined()) {
            if (required)
                fail(QString("'%1' is missing").arg(key));
            return {};
        }
        if (!v.isArray())
            fail(QString("'%1' must be a list in [ ]").arg(key));
        return v.toArray();
    }

    // Every key must be one the reader asked for: a misspelt key is an error,
    // not a silently ignored setting.
    void finish()
    {
        for (auto it = m_object.begin(); it != m_object.end(); ++it) {
            if (!m_known.contains(it.key())) {
                fail(QString("unknown key '%1'").arg(it.key()));
                return;
            }
        }
    }

private:
    QJsonObject m_object;
    QString m_context;
    QSet<QString> m_known;
    QString m_error;
};

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

} // namespace

int parse_panel(const QByteArray &text, int resource, const QString &where, PanelLayout &panel,
                QString &error)
{
    QJsonParseError parseError;
    const QJsonDocument doc = QJsonDocument::fromJson(text, &parseError);
    if (doc.isNull()) {
        error = where + ": " + position(text, parseError.offset) + ": malformed JSON (" +
                parseError.errorString() + ")";
        return UI_ERR_FORMAT;
    }
    if (!doc.isObject()) {
        error = where + ": the file must hold one JSON object with a list \"panels\"";
        return UI_ERR_FORMAT;
    }
    Reader top(doc.object(), where);
    top.string("format", QString());
    const QJsonArray panels = top.array("panels", true);
    top.finish();
    if (top.failed()) {
        error = top.error();
        return UI_ERR_FORMAT;
    }
    for (int i = 0; i < panels.size(); ++i) {
        const QString context = where + QString(": panel %1 in the list").arg(i + 1);
        if (!panels[i].isObject()) {
            error = context + ": must be an object";
            return UI_ERR_FORMAT;
        }
        Reader r(panels[i].toObject(), context);
        if (r.integer("resource", 0, true) != resource || r.failed()) {
            if (r.failed()) {
                error = r.error();
                return UI_ERR_FORMAT;
            }
            continue;
        }
        const QString here = where + QString(": panel %1").arg(resource);
        Reader p(panels[i].toObject(), here);
        panel.resource = p.integer("resource", 0, true);
        panel.title = p.string("title", QString());
        panel.width = p.bounded("width", 0, 0, kMaxPixels, true);
        panel.height = p.bounded("height", 0, 0, kMaxPixels, true);
        panel.closeControl = p.integer("close_control", 0);
        const QJsonArray controls = p.array("controls", true);
        p.finish();
        if (p.failed()) {
            error = p.error();
            return UI_ERR_FORMAT;
        }
        QSet<int> ids;
        for (int k = 0; k < controls.size(); ++k) {
            QString context = here + QString(", control %1 in the list").arg(k + 1);
            if (!controls[k].isObject()) {
                error = context + ": must be an object";
                return UI_ERR_FORMAT;
            }
            const QJsonObject object = controls[k].toObject();
            if (object.value("id").isDouble())
                context = here + QString(", control %1").arg(object.value("id").toInt());
            if (object.value("name").isString())
                context += " (" + object.value("name").toString() + ")";
            ControlLayout c;
            if (!read_control(object, context, c, error))
                return UI_ERR_FORMAT;
            if (ids.contains(c.id)) {
                error = context + ": the id is used by another control of the panel";
                return UI_ERR_FORMAT;
            }
            ids.insert(c.id);
            panel.controls.append(c);
        }
        if (panel.closeControl != 0 && !ids.contains(panel.closeControl)) {
            error = here + QString(": 'close_control' %1 is no control of the panel").arg(panel.closeControl);
            return UI_ERR_FORMAT;
        }
        return 0;
    }
    error = where + QString(": no panel with resource number %1").arg(resource);
    return UI_ERR_NO_RESOURCE;
}

} // namespace ui
