// Ctrl+C, Ctrl+Break, the console window closing, log-off and shut-down end
// the event loop as the quit button does, so the last bytes reach the data
// files. Windows calls the handler on a thread of its own: it only queues the
// quit on the event loop's thread. After a close, log-off or shut-down
// Windows ends the process as soon as the handler returns, so there the
// handler does not return: the program ends the process itself once its
// files are closed, or Windows does when its own time is up.
#include "ui_internal.h"

#include <QMetaObject>

#include <windows.h>

namespace ui {

namespace {

// Windows gives a closing console 5 s and a shut-down 20 s, however long the
// handler takes; the program's last tick and the closing of its files need
// well under a second.
constexpr DWORD kLastBytesWaitMs = 20000;

QObject *g_owner = nullptr;

BOOL WINAPI on_console_event(DWORD event)
{
    if (g_owner == nullptr)
        return FALSE;
    QMetaObject::invokeMethod(g_owner, [] { QuitUserInterface(0); }, Qt::QueuedConnection);
    if (event == CTRL_CLOSE_EVENT || event == CTRL_LOGOFF_EVENT || event == CTRL_SHUTDOWN_EVENT)
        Sleep(kLastBytesWaitMs);
    return TRUE;
}

} // namespace

void install_signal_handlers(QObject *owner)
{
    g_owner = owner;
    SetConsoleCtrlHandler(on_console_event, TRUE);
}

} // namespace ui
