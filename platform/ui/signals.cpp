// SIGTERM, SIGINT and SIGHUP end the event loop as the quit button does, so a
// service manager or a terminal stops the logger cleanly. The handler only
// writes a byte to a pipe; the event loop reads it and quits.
#include "ui_internal.h"

#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace ui {

namespace {

int g_signalPipe[2] = {-1, -1};

void on_signal(int)
{
    const int savedErrno = errno; // the interrupted code may be reading it
    const char byte = 1;
    // Nothing to do when the pipe is full: a quit is already on its way.
    ssize_t ignored = write(g_signalPipe[1], &byte, 1);
    (void)ignored;
    errno = savedErrno;
}

} // namespace

void install_signal_handlers(QObject *owner)
{
    if (pipe2(g_signalPipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    auto *notifier = new QSocketNotifier(g_signalPipe[0], QSocketNotifier::Read, owner);
    QObject::connect(notifier, &QSocketNotifier::activated, owner, [] {
        char buffer[16];
        while (read(g_signalPipe[0], buffer, sizeof buffer) > 0) {
        }
        QuitUserInterface(0);
    });
    struct sigaction action {};
    action.sa_handler = on_signal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int sig : {SIGTERM, SIGINT, SIGHUP})
        sigaction(sig, &action, nullptr);
}

} // namespace ui
