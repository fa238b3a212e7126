// ui_internal.h - the user-interface room: its structures and what its files
// share.
//
// The room builds the program's panels on Qt Widgets and runs the event loop.
// Shared by the room's files and the test seams; the program never sees it.
// A panel is a window of controls built from a panel resource; every operator
// action and timer tick reaches the program through deliver(), the one gate
// that keeps callbacks one at a time. Each function names the file it is in.
#pragma once

#include "engine.h"
#include "panel_resource.h"

#include <QByteArray>
#include <QLabel>
#include <QPointer>
#include <QString>
#include <QTimer>
#include <QWidget>

#include <atomic>
#include <map>
#include <string>
#include <memory>

class QMessageBox;

namespace ui {

struct Control {
    int id = 0;
    Kind kind = Kind::Caption;
    QString name;
    QPointer<QWidget> body;   // null for a timer
    QPointer<QLabel> label;   // a label beside the body, where the kind has one
    QPointer<QTimer> timer;   // timers only
    CtrlCallbackPtr callback = nullptr;
    QString callbackName;
    bool indicator = false;
    int background = -1;      // text box background as set, RGB; -1 default
    QList<int> ringValues;    // ring: the value of each item
};

// The window of a panel. Closing it from its frame presses the panel's close
// control when it has one; otherwise a top-level panel ends the event loop as
// QuitUserInterface does, and a popup closes only when the program discards it.
class PanelWindow : public QWidget {
    Q_OBJECT
public:
    PanelWindow(int handle, QWidget *parent);

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    int m_handle;
};

struct Panel {
    int handle = 0;
    int parent = 0;
    int resource = 0;
    int closeControl = 0; // committed when the window is closed from its frame; 0 none
    QPointer<PanelWindow> window;
    std::map<int, Control> controls; // by control id; nodes never move
};

// The panel or control of that handle and id; null when there is none.
// panels.cpp, with load_panel.
Panel *find_panel(int handle);
Control *find_control(int panel, int control);
// Builds panel `resource` from resource text, hidden; `where` names it in
// the one line on stderr a failure prints. Returns a handle or a UiError.
int load_panel(int parent, const QByteArray &text, int resource, const QString &where);

// Hands an event to the control's callback, unless another callback (or a
// popup it shows) is running or the event loop is ending: then it is dropped.
// event_loop.cpp, with the two below.
void deliver(int panel, int control, int event);
// While one lives, a callback or a popup it shows is running: deliver()
// drops every event.
class BusyScope {
public:
    BusyScope();
    ~BusyScope();

private:
    bool m_was = false;
};
// Whether a quit has been asked for (QuitUserInterface, a signal), whether or
// not the event loop runs yet.
bool loop_ending();

// Makes SIGTERM, SIGINT and SIGHUP (on Windows: Ctrl+C, Ctrl+Break, the
// console closing, log-off and shut-down) end the event loop as
// QuitUserInterface(0) does; what watches for them belongs to owner (the
// application). signals.cpp, signals_win32.cpp.
void install_signal_handlers(QObject *owner);

// What start-up does that differs between systems (startup_linux.cpp,
// startup_win32.cpp).
// Whether Qt's platform can start: an X or Wayland server that answers, on
// Linux; Qt ends the process when its platform cannot start.
bool display_available(int argc, char *argv[]);
// Starts the network side network.map in dir asks for (live feeds, the
// monitor), or says on stderr that this system has none.
void start_network(const std::string &dir);
// Names the runtime directory Qt looks into when the session named none.
void name_runtime_dir();

// Builds a control's widgets (or its timer) on the panel's window, as the
// description says, with its callback. widgets.cpp.
void build_control(const ControlLayout &layout, CtrlCallbackPtr callback, Panel &panel);
// Puts a control's label above its body (beside it for an LED), sized to its text.
void place_label(Control &c);
// Shows a switch's on or off text, as it stands.
void set_switch_text(Control &c);

// What the operator may do to a control. input_filter.cpp.
void watch_input(int panel, Control &c); // once, when the control is built
void set_indicator(Control &c, bool indicator);
void set_dimmed(Control &c, bool dimmed);
// Shows or hides the control with its label. controls.cpp.
void set_visible(Control &c, bool visible);

// Popups. MessagePopup and ConfirmPopup always ask through popup_handler,
// which is ask_operator unless a test answers them itself (engine_seams). A
// handler returns what the popup returns: 1 yes or 0 no for a confirmation,
// 0 for a message. popups.cpp.
using PopupHandler = int (*)(const char *title, const char *message, bool confirm);
extern std::atomic<PopupHandler> popup_handler;
// The operator, through a real modal dialog after a line on stderr. Where no
// one can see a dialog (the offscreen platform) the line is all, and the
// answer is given at once: yes. 0 while a quit is on its way.
int ask_operator(const char *title, const char *message, bool confirm);
// As ask_operator, but a real dialog even where no one can see it.
int ask_in_dialog(const char *title, const char *message, bool confirm);
// The real modal popup open now, or null.
QMessageBox *open_popup();

} // namespace ui
