// The life of panels: loaded from the panel resource, shown, made modal,
// discarded. Their controls are built in widgets.cpp and operated through
// controls.cpp.
#include "engine.h"

#include "files/file_backend.h"
#include "ui_internal.h"

#include <QApplication>
#include <QFileInfo>

#include <cstdio>

namespace ui {

namespace {

// A logger has its main panel and one popup at a time; the rest is headroom.
constexpr int kMaxPanels = 32;

std::map<int, std::unique_ptr<Panel>> g_panels;
const CallbackBinding *g_callbacks = nullptr; // the program's, once registered

CtrlCallbackPtr find_callback(const QString &name)
{
    for (const CallbackBinding *b = g_callbacks; b != nullptr && b->name != nullptr; ++b)
        if (name == QLatin1String(b->name))
            return b->callback;
    return nullptr;
}

int free_handle()
{
    for (int h = 1; h <= kMaxPanels; ++h)
        if (g_panels.find(h) == g_panels.end())
            return h;
    return UI_ERR_TOO_MANY_PANELS;
}

void report(const QString &message)
{
    std::fprintf(stderr, "vornacq4: %s\n", message.toLocal8Bit().constData());
}

QString control_context(const QString &where, int resource, const ControlLayout &c)
{
    QString s = where + QString(": panel %1, control %2").arg(resource).arg(c.id);
    if (!c.name.isEmpty())
        s += " (" + c.name + ")";
    return s;
}

// The program's function for each control's callback name, in the order of
// the controls; UI_ERR_CALLBACK for a name the program does not define.
int bind_callbacks(const PanelLayout &layout, const QString &where, QList<CtrlCallbackPtr> &callbacks)
{
    for (const ControlLayout &c : layout.controls) {
        CtrlCallbackPtr callback = c.callback.isEmpty() ? nullptr : find_callback(c.callback);
        if (!c.callback.isEmpty() && callback == nullptr) {
            report(control_context(where, layout.resource, c) +
                   QString(": unknown callback '%1' (the program defines no function of that name)").arg(c.callback));
            return UI_ERR_CALLBACK;
        }
        callbacks.append(callback);
    }
    return 0;
}

} // namespace

Panel *find_panel(int handle)
{
    auto it = g_panels.find(handle);
    return it != g_panels.end() ? it->second.get() : nullptr;
}

Control *find_control(int panel, int control)
{
    Panel *p = find_panel(panel);
    if (p == nullptr)
        return nullptr;
    auto it = p->controls.find(control);
    return it != p->controls.end() ? &it->second : nullptr;
}

int load_panel(int parent, const QByteArray &text, int resource, const QString &where)
{
    if (QApplication::instance() == nullptr) {
        report(where + ": " + UiErrorText(UI_ERR_NOT_READY));
        return UI_ERR_NOT_READY;
    }
    const Panel *parentPanel = parent != 0 ? find_panel(parent) : nullptr;
    if (parent != 0 && parentPanel == nullptr) {
        report(where + QString(": parent panel %1 does not exist").arg(parent));
        return UI_ERR_BAD_PANEL;
    }
    PanelLayout layout;
    QString error;
    const int parsed = parse_panel(text, resource, where, layout, error);
    if (parsed < 0) {
        report(error);
        return parsed;
    }
    QList<CtrlCallbackPtr> callbacks;
    const int bound = bind_callbacks(layout, where, callbacks);
    if (bound < 0)
        return bound;
    const int handle = free_handle();
    if (handle < 0) {
        report(where + ": " + UiErrorText(handle));
        return handle;
    }
    auto panel = std::make_unique<Panel>();
    panel->handle = handle;
    panel->parent = parent;
    panel->resource = resource;
    panel->closeControl = layout.closeControl;
    panel->window = new PanelWindow(handle, parentPanel != nullptr ? parentPanel->window.data() : nullptr);
    panel->window->setWindowTitle(layout.title);
    panel->window->setFixedSize(layout.width, layout.height);
    Panel &p = *panel;
    g_panels[handle] = std::move(panel);
    for (int i = 0; i < layout.controls.size(); ++i)
        build_control(layout.controls[i], callbacks[i], p);
    return handle;
}

} // namespace ui

using namespace ui;

int RegisterCallbacks(const CallbackBinding *table)
{
    g_callbacks = table;
    return 0;
}

int LoadPanel(int parent, const char *fileName, int resource)
{
    if (QApplication::instance() == nullptr) {
        std::fprintf(stderr, "vornacq4: %s: %s\n", fileName, UiErrorText(UI_ERR_NOT_READY));
        return UI_ERR_NOT_READY;
    }
    // The engine's names are UTF-8 on every system (on Windows the local
    // 8-bit encoding is not).
    QString path = QString::fromUtf8(fileName);
    // Looked up beside the executable, so the logger runs from any directory.
    if (QFileInfo(path).isRelative())
        path = QCoreApplication::applicationDirPath() + "/" + path;
    // The logger's own file is a few kilobytes; a limit keeps anything else
    // put in its place (a disk image, a device) from being taken in whole.
    constexpr std::size_t kMaxResourceBytes = 1024 * 1024;
    std::string text;
    const int read = filesys::read_regular(path.toUtf8().constData(), kMaxResourceBytes, text);
    if (read != 0) {
        report(path + ": cannot read the panel resource file (" + filesys::error_text(read) +
               (read == filesys::TOO_LARGE ? ", over 1 MiB)" : ")"));
        return UI_ERR_FILE;
    }
    return load_panel(parent, QByteArray::fromStdString(text), resource, path);
}

int DisplayPanel(int panel)
{
    Panel *p = find_panel(panel);
    if (p == nullptr)
        return UI_ERR_BAD_PANEL;
    p->window->show();
    return 0;
}

int InstallPopup(int panel)
{
    Panel *p = find_panel(panel);
    if (p == nullptr)
        return UI_ERR_BAD_PANEL;
    if (!p->window->isModal()) {
        // Qt applies a new modality only when the window is shown again, so a
        // panel already displayed is hidden first.
        p->window->hide();
        p->window->setWindowModality(Qt::ApplicationModal);
    }
    p->window->show();
    p->window->activateWindow();
    return 0;
}

int DiscardPanel(int panel)
{
    auto it = g_panels.find(panel);
    if (it == g_panels.end())
        return UI_ERR_BAD_PANEL;
    // Popups of this panel go with it.
    std::vector<int> children;
    for (const auto &entry : g_panels)
        if (entry.second->parent == panel)
            children.push_back(entry.first);
    for (int child : children)
        DiscardPanel(child);
    it = g_panels.find(panel);
    std::unique_ptr<Panel> gone = std::move(it->second);
    g_panels.erase(it);
    for (auto &entry : gone->controls)
        if (entry.second.timer != nullptr)
            entry.second.timer->stop();
    if (gone->window != nullptr) {
        gone->window->hide();
        // Deleted once the event in hand is done: a callback may discard the
        // panel of the very control that called it.
        gone->window->deleteLater();
    }
    return 0;
}
