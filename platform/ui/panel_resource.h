// panel_resource.h - the panel resource file: panels described as JSON text.
//
// The file is a readable text a person may edit (docs/panel-resource.md
// describes every key). This reader turns one panel of it into a description
// and says precisely what is wrong where; building widgets is the engine's.
#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

namespace ui {

enum class Kind { Button, Check, Switch, Numeric, Ring, TextBox, Led, Caption, Timer };

struct RingItem {
    QString label;
    int value = 0;
};

struct ControlLayout {
    int id = 0;
    Kind kind = Kind::Caption;
    QString name;           // for people and diagnostics only
    int x = 0, y = 0, width = 0, height = 0;
    QString label;
    QString tooltip;
    QString callback;       // "" for none
    int value = 0;          // check, switch, numeric, ring, LED
    QString text;           // text box
    bool dimmed = false;
    bool visible = true;
    bool indicator = false;
    int minimum = 0, maximum = 0x7fffffff;  // numeric
    QList<RingItem> items;  // ring
    double interval = 1.0;  // timer, seconds
    bool enabled = false;   // timer
    bool monospace = false;
    int fontSize = 0;       // points; 0 for the default
    int color = -1;         // text box background, RGB; -1 for the default
    int onColor = 0x00FF00; // LED
    QString onText = "On", offText = "Off"; // switch
};

struct PanelLayout {
    int resource = 0;
    QString title;
    int width = 0, height = 0;
    int closeControl = 0;   // the control a close from the window's frame commits; 0 none
    QList<ControlLayout> controls;
};

// Reads panel `resource` of the resource text. On failure returns a UiError
// (UI_ERR_FORMAT or UI_ERR_NO_RESOURCE) and puts in `error` what is wrong and
// where, prefixed by `where` (the file name).
int parse_panel(const QByteArray &text, int resource, const QString &where, PanelLayout &panel,
                QString &error);

} // namespace ui
