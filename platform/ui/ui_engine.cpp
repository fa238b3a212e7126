// The engine's life: start-up, the event loop, quitting, popups, and the one
// gate through which every event reaches the program.
#include "engine.h"
#include "seams/engine_seams.h"

#include "serial/port_map.h"
#include "ui_internal.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QMessageBox>
#include <QPushButton>
#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <pwd.h>
#include <string>
#include <sys/stat.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#include <vector>

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
QPointer<QMessageBox> g_popup;
PopupAnswers g_answers;
std::vector<SeamPopup> g_popupsShown;

// Qt keeps references to argc and argv for the life of the application.
int g_argc = 0;
std::vector<char *> g_argv;

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

// SIGTERM, SIGINT and SIGHUP end the event loop as the quit button does, so a
// service manager or a terminal stops the logger cleanly.
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

std::string option_value(int argc, char *argv[], const char *option)
{
    for (int i = 1; i + 1 < argc; ++i)
        if (std::strcmp(argv[i], option) == 0)
            return argv[i + 1];
    return std::string();
}

std::string env(const char *name)
{
    const char *v = std::getenv(name);
    return v != nullptr ? v : "";
}

// Whether an X server answers at a local display such as ":0" or "unix:1.0".
// A display on another host is assumed to answer.
bool x_display_answers(const std::string &display)
{
    std::size_t colon = display.rfind(':');
    if (colon == std::string::npos)
        return false;
    const std::string host = display.substr(0, colon);
    if (!host.empty() && host != "unix")
        return true;
    const std::string number = display.substr(colon + 1, display.find('.', colon) - colon - 1);
    const std::string path = "/tmp/.X11-unix/X" + number;
    for (bool abstract : {true, false}) {
        const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (fd < 0)
            return false;
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path + (abstract ? 1 : 0), path.c_str(), sizeof address.sun_path - 2);
        const socklen_t length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + path.size() + (abstract ? 1 : 0));
        const bool ok = ::connect(fd, reinterpret_cast<sockaddr *>(&address), length) == 0;
        close(fd);
        if (ok)
            return true;
    }
    return false;
}

// Whether Qt can start its platform: anything but a display server needs
// nothing; X and Wayland need a server to talk to. Checked beforehand because
// Qt ends the process when its platform cannot start.
bool display_available(int argc, char *argv[])
{
    std::string platforms = option_value(argc, argv, "-platform");
    if (platforms.empty())
        platforms = env("QT_QPA_PLATFORM");
    if (platforms.empty())
        platforms = "xcb";
    std::size_t start = 0;
    while (start <= platforms.size()) {
        std::size_t end = platforms.find(';', start);
        if (end == std::string::npos)
            end = platforms.size();
        const std::string name = platforms.substr(start, end - start);
        const std::string plugin = name.substr(0, name.find(':'));
        if (plugin == "xcb") {
            std::string display = option_value(argc, argv, "-display");
            if (display.empty())
                display = env("DISPLAY");
            if (!display.empty() && x_display_answers(display))
                return true;
        } else if (plugin.rfind("wayland", 0) == 0) {
            if (!env("WAYLAND_DISPLAY").empty())
                return true;
        } else if (!plugin.empty()) {
            return true;
        }
        start = end + 1;
    }
    return false;
}

bool private_dir(const std::string &path)
{
    struct stat st {};
    return lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == geteuid() &&
           (st.st_mode & 0777) == 0700;
}

// Qt looks into the user's runtime directory as it starts (for signs of a
// sandbox), and warns on stderr when XDG_RUNTIME_DIR is not set, as under a
// service manager, su or cron. Name the one a login session would have had
// when it is there, else the private directory Qt falls back to, made here if
// need be. A directory that is not this user's alone is not named: Qt then
// warns, and rightly.
void name_runtime_dir()
{
    if (!env("XDG_RUNTIME_DIR").empty())
        return;
    const std::string session = "/run/user/" + std::to_string(geteuid());
    const passwd *user = getpwuid(geteuid());
    const std::string fallback = QDir::tempPath().toStdString() + "/runtime-" +
                                 (user != nullptr ? user->pw_name : std::to_string(geteuid()));
    for (const std::string &dir : {session, fallback}) {
        if (dir == fallback)
            mkdir(dir.c_str(), 0700);
        if (private_dir(dir)) {
            setenv("XDG_RUNTIME_DIR", dir.c_str(), 1);
            return;
        }
    }
}

class BusyScope {
public:
    BusyScope() : m_was(g_loop.busy) { g_loop.busy = true; }
    ~BusyScope() { g_loop.busy = m_was; }

private:
    bool m_was;
};

// Whether anyone can see a dialog. On the offscreen platform (a service, a
// machine without a display) a popup would wait for ever, the ticks with it.
bool dialogs_seen()
{
    const QString platform = QGuiApplication::platformName();
    return platform != QLatin1String("offscreen") && platform != QLatin1String("minimal");
}

// Shows a modal popup and waits for the answer: a confirmation gives 1 for
// yes, 0 for no; a message gives 0, as it does when answered by the seam.
// Every popup also goes to stderr, which an unattended logger's service
// keeps; where no one can see it, the engine answers it there at once (yes).
int run_popup(const char *kind, const char *title, const char *message, bool confirm)
{
    if (g_answers.enabled) {
        g_popupsShown.push_back(SeamPopup{kind, title != nullptr ? title : "", message != nullptr ? message : ""});
        return confirm ? g_answers.answer : 0;
    }
    if (QApplication::instance() == nullptr || g_loop.quitting || g_loop.quitPending)
        return 0;
    const bool headless = !g_answers.forceShow && !dialogs_seen();
    std::fprintf(stderr, "vornacq4: %s: %s%s\n", title != nullptr ? title : "", message != nullptr ? message : "",
                 headless && confirm ? " (no display to ask on: answered yes)" : "");
    if (headless)
        return confirm ? 1 : 0;
    BusyScope busy;
    QMessageBox box(confirm ? QMessageBox::Question : QMessageBox::Warning, QString::fromLatin1(title),
                    QString::fromLatin1(message), QMessageBox::NoButton, QApplication::activeWindow());
    QPushButton *yes = confirm ? box.addButton(QMessageBox::Yes) : box.addButton(QMessageBox::Ok);
    if (confirm)
        box.setEscapeButton(box.addButton(QMessageBox::No));
    box.setDefaultButton(yes);
    g_popup = &box;
    box.exec();
    g_popup = nullptr;
    if (!confirm || g_loop.quitting || g_loop.quitPending)
        return 0;
    return box.clickedButton() == yes ? 1 : 0;
}

} // namespace

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

QMessageBox *open_popup()
{
    return g_popup.data();
}

PopupAnswers &popup_answers()
{
    return g_answers;
}

} // namespace ui

using namespace ui;

const char *UiErrorText(int code)
{
    switch (code) {
    case 0: return "no error";
    case UI_ERR_NOT_READY: return "the user interface is not started";
    case UI_ERR_FILE: return "panel resource file missing or unreadable";
    case UI_ERR_FORMAT: return "panel resource file malformed";
    case UI_ERR_NO_RESOURCE: return "no panel with that resource number";
    case UI_ERR_CALLBACK: return "callback not defined by the program";
    case UI_ERR_BAD_PANEL: return "no such panel";
    case UI_ERR_BAD_CONTROL: return "no such control";
    case UI_ERR_BAD_ATTRIBUTE: return "attribute not valid for the control";
    case UI_ERR_BAD_VALUE: return "value not valid for the control";
    case UI_ERR_TOO_MANY_PANELS: return "too many panels";
    }
    return "unknown error";
}

int InitEngine(int, char *argv[], int)
{
    if (QApplication::instance() != nullptr)
        return 1;
    g_argv.clear();
    for (int i = 0; argv != nullptr && argv[i] != nullptr; ++i)
        g_argv.push_back(argv[i]);
    g_argc = static_cast<int>(g_argv.size());
    g_argv.push_back(nullptr);
    if (!display_available(g_argc, g_argv.data())) {
        std::fprintf(stderr, "vornacq4: no display to show the window on; to run without one, "
                             "start it with QT_QPA_PLATFORM=offscreen\n");
        return 0;
    }
    char cwd[4096];
    if (getcwd(cwd, sizeof cwd) != nullptr)
        port_map_set_startup_dir(cwd);
    name_runtime_dir();
    auto *app = new QApplication(g_argc, g_argv.data());
    app->setQuitOnLastWindowClosed(false);
    install_signal_handlers(app);
    return 1;
}

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
    if (g_popup != nullptr)
        g_popup->done(0);
    if (!g_loop.running) {
        g_loop.quitPending = true;
        return 0;
    }
    g_loop.quitting = true;
    // Ends every event loop of the thread: a popup's as well as the main one.
    QCoreApplication::exit(code);
    return 0;
}

int MessagePopup(const char *title, const char *message)
{
    return run_popup("message", title, message, false);
}

int ConfirmPopup(const char *title, const char *message)
{
    return run_popup("confirm", title, message, true);
}

// --- test seams of this file

void SeamAnswerPopups(int confirmAnswer)
{
    g_answers.enabled = true;
    g_answers.answer = confirmAnswer;
}

void SeamShowPopups()
{
    g_answers.enabled = false;
    g_answers.forceShow = true;
}

void SeamDefaultPopups()
{
    g_answers.enabled = false;
    g_answers.forceShow = false;
}

const std::vector<SeamPopup> &SeamPopupsShown()
{
    return g_popupsShown;
}

void SeamClearPopups()
{
    g_popupsShown.clear();
}
