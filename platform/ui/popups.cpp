// Modal popups: a message or a question for the operator, which the calling
// callback waits for. Every popup also goes to stderr.
#include "engine.h"

#include "ui_internal.h"

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>

#include <cstdio>

namespace ui {

namespace {

QPointer<QMessageBox> g_popup;

// Whether anyone can see a dialog. On the offscreen platform (a service, a
// machine without a display) a popup would wait for ever, the ticks with it.
bool dialogs_seen()
{
    const QString platform = QGuiApplication::platformName();
    return platform != QLatin1String("offscreen") && platform != QLatin1String("minimal");
}

// Shows a modal popup and waits for the answer: a confirmation gives 1 for
// yes, 0 for no; a message gives 0. Every popup also goes to stderr, which an
// unattended logger's service keeps; where no one can see it (and it is not
// to be shown all the same), the engine answers it there at once (yes).
int run_popup(const char *title, const char *message, bool confirm, bool showUnseen)
{
    if (QApplication::instance() == nullptr || loop_ending())
        return 0;
    const bool headless = !showUnseen && !dialogs_seen();
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
    if (!confirm || loop_ending())
        return 0;
    return box.clickedButton() == yes ? 1 : 0;
}

} // namespace

std::atomic<PopupHandler> popup_handler{ask_operator};

int ask_operator(const char *title, const char *message, bool confirm)
{
    return run_popup(title, message, confirm, false);
}

int ask_in_dialog(const char *title, const char *message, bool confirm)
{
    return run_popup(title, message, confirm, true);
}

QMessageBox *open_popup()
{
    return g_popup.data();
}

} // namespace ui

using namespace ui;

int MessagePopup(const char *title, const char *message)
{
    return popup_handler.load()(title, message, false);
}

int ConfirmPopup(const char *title, const char *message)
{
    return popup_handler.load()(title, message, true);
}
