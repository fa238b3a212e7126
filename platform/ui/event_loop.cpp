// The event loop: running it, quitting it, and the one gate through which
// every event reaches the program, one callback at a time.
#include "engine.h"

#include "ui_internal.h"

#include <QApplication>
#include <QCloseEvent>
#include <QMessageBox>

namespace ui {

namespace {

struct Loop {
    bool busy = false;        // a callback (or a popup it shows) is running
    bool running = false;     // RunUserInterface is in its event loop
    bool quitPending = false; // quit asked for before the loop ran
    bool quitting = false;    // quit asked for; the loop is unwinding
    int quitCode = 0;
};

Loop g_loop;

} // namespace

BusyScope::BusyScope() : m_was(g_loop.busy)
{
    g_loop.busy = true;
}

BusyScope::~BusyScope()
{
    g_loop.busy = m_was;
}

bool loop_ending()
{
    return g_loop.quitting || g_loop.quitPending;
}

PanelWindow::PanelWindow(int handle, QWidget *parent)
    : QWidget(parent, parent != nullptr ? Qt::Dialog : Qt::Window), m_handle(handle)
{
}

void PanelWindow::closeEvent(QCloseEvent *event)
{
    event->ignore();
    const Panel *panel = find_panel(m_handle);
    if (panel == nullptr)
        return;
    if (panel->closeControl != 0)
        deliver(m_handle, panel->closeControl, EVENT_COMMIT);
    else if (panel->parent == 0)
        QuitUserInterface(0);
}

void deliver(int panel, int control, int event)
{
    if (g_loop.busy || g_loop.quitting)
        return;
    const Control *c = find_control(panel, control);
    if (c == nullptr || c->callback == nullptr)
        return;
    BusyScope busy;
    c->callback(panel, control, event, nullptr, 0, 0);
}

} // namespace ui

using namespace ui;

int RunUserInterface(void)
{
    if (QApplication::instance() == nullptr)
        return UI_ERR_NOT_READY;
    if (g_loop.quitPending) {
        g_loop.quitPending = false;
        return g_loop.quitCode;
    }
    g_loop.running = true;
    g_loop.quitting = false;
    QApplication::exec();
    g_loop.running = false;
    g_loop.quitting = false;
    return g_loop.quitCode;
}

int QuitUserInterface(int code)
{
    g_loop.quitCode = code;
    if (QMessageBox *popup = open_popup())
        popup->done(0);
    if (!g_loop.running) {
        g_loop.quitPending = true;
        return 0;
    }
    g_loop.quitting = true;
    // Ends every event loop of the thread: a popup's as well as the main one.
    QCoreApplication::exit(code);
    return 0;
}
