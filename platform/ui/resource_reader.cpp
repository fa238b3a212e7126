#include "resource_reader.h"

#include <cctype>
#include <cmath>

namespace ui {

Reader::Reader(const QJsonObject &object, QString context) : m_object(object), m_context(std::move(context)) {}

void Reader::fail(const QString &what)
{
    if (m_error.isEmpty())
        m_error = m_context + ": " + what;
}

bool Reader::lookup(const char *key, bool required, QJsonValue &value)
{
    m_known.insert(key);
    value = m_object.value(key);
    if (!value.isUndefined())
        return true;
    if (required)
        fail(QString("'%1' is missing").arg(key));
    return false;
}

int Reader::integer(const char *key, int fallback, bool required)
{
    QJsonValue v;
    if (!lookup(key, required, v))
        return fallback;
    // In range before it is converted: converting a double beyond the range
    // of the integer is undefined.
    const double d = v.toDouble(0.5);
    if (!v.isDouble() || !(d >= -2147483648.0 && d <= 2147483647.0) || d != std::trunc(d)) {
        fail(QString("'%1' must be a whole number").arg(key));
        return fallback;
    }
    return static_cast<int>(d);
}

int Reader::bounded(const char *key, int fallback, int low, int high, bool required)
{
    const int value = integer(key, fallback, required);
    if (value < low || value > high) {
        fail(QString("'%1' must be from %2 to %3").arg(key).arg(low).arg(high));
        return fallback;
    }
    return value;
}

double Reader::number(const char *key, double fallback)
{
    QJsonValue v;
    if (!lookup(key, false, v))
        return fallback;
    if (!v.isDouble()) {
        fail(QString("'%1' must be a number").arg(key));
        return fallback;
    }
    return v.toDouble();
}

bool Reader::boolean(const char *key, bool fallback)
{
    QJsonValue v;
    if (!lookup(key, false, v))
        return fallback;
    if (!v.isBool()) {
        fail(QString("'%1' must be true or false").arg(key));
        return fallback;
    }
    return v.toBool();
}

QString Reader::string(const char *key, const QString &fallback, bool required)
{
    QJsonValue v;
    if (!lookup(key, required, v))
        return fallback;
    if (!v.isString()) {
        fail(QString("'%1' must be a text in quotes").arg(key));
        return fallback;
    }
    return v.toString();
}

int Reader::colour(const char *key, int fallback)
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

QJsonArray Reader::array(const char *key, bool required)
{
    QJsonValue v;
    if (!lookup(key, required, v))
        return {};
    if (!v.isArray())
        fail(QString("'%1' must be a list in [ ]").arg(key));
    return v.toArray();
}

void Reader::finish()
{
    for (auto it = m_object.begin(); it != m_object.end(); ++it) {
        if (!m_known.contains(it.key())) {
            fail(QString("unknown key '%1'").arg(it.key()));
            return;
        }
    }
}

} // namespace ui
