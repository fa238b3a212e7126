// resource_reader.h - the keys of one JSON object of the panel resource.
//
// Each getter names a key and gives its value, or the fallback where the key
// is missing (then an error too when the key is required) or holds a value of
// the wrong type (then always an error). Only the first problem is kept,
// after the object's context ("vornacq4.uir: panel 2, control 12 (Quit)").
// finish() then refuses every key no getter asked for: a misspelt key is an
// error, not a silently ignored setting.
#pragma once

#include <QJsonArray>
#include <QJsonObject>
#include <QSet>
#include <QString>

namespace ui {

class Reader {
public:
    Reader(const QJsonObject &object, QString context);

    bool failed() const { return !m_error.isEmpty(); }
    // "context: what is wrong", or "" while nothing is.
    const QString &error() const { return m_error; }
    // Records what is wrong, unless something already is.
    void fail(const QString &what);

    // A whole number within the range of int.
    int integer(const char *key, int fallback, bool required = false);
    // A whole number from low to high.
    int bounded(const char *key, int fallback, int low, int high, bool required = false);
    double number(const char *key, double fallback);
    bool boolean(const char *key, bool fallback);
    QString string(const char *key, const QString &fallback, bool required = false);
    // "#RRGGBB" as an RGB value.
    int colour(const char *key, int fallback);
    // A list in [ ]; empty where it is missing or no list.
    QJsonArray array(const char *key, bool required);
    // Fails on the first key that no getter has asked for.
    void finish();

private:
    // Records key as known and finds its value; false when it is missing.
    bool lookup(const char *key, bool required, QJsonValue &value);

    QJsonObject m_object;
    QString m_context;
    QSet<QString> m_known;
    QString m_error;
};

} // namespace ui
