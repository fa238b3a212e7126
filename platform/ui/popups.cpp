// Modal popups: a message or a question for the operator, which the calling
// callback waits for. Every popup also goes to stderr.
#include "engine.h"
#include "seams/engine_seams.h"

#include "ui_internal.h"

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>

#include <cstdio>
#include <vector>

namespace ui {

namespace {

QPointer<QMessageBox> g_popup;
PopupAnswers g_answers;
std::vector<SeamPopup> g_popupsShown;

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
    if (QApplication::instance() == nullptr || loop_ending())
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
    if (!confirm || loop_ending())
        return 0;
    return box.clickedButton() == yes ? 1 : 0;
}

} // namespace

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
