// Test seams of the popups: answered by the test and recorded, real dialogs
// even offscreen, or the engine's own way; and the real dialog open now,
// answered as the operator answers it.
#include "engine_seams.h"

#include "ui/ui_internal.h"

#include <QAbstractButton>
#include <QMessageBox>
#include <QTest>

using namespace ui;

namespace {

int g_answer = 0;
std::vector<SeamPopup> g_shown;

int record_and_answer(const char *title, const char *message, bool confirm)
{
    g_shown.push_back(SeamPopup{confirm ? "confirm" : "message", title != nullptr ? title : "",
                                message != nullptr ? message : ""});
    return confirm ? g_answer : 0;
}

} // namespace

void SeamAnswerPopups(int confirmAnswer)
{
    g_answer = confirmAnswer;
    popup_handler.store(record_and_answer);
}

void SeamShowPopups()
{
    popup_handler.store(ask_in_dialog);
}

void SeamDefaultPopups()
{
    popup_handler.store(ask_operator);
}

const std::vector<SeamPopup> &SeamPopupsShown()
{
    return g_shown;
}

void SeamClearPopups()
{
    g_shown.clear();
}

bool SeamAnswerOpenPopup(int answer)
{
    QMessageBox *box = open_popup();
    if (box == nullptr)
        return false;
    const auto role = answer != 0 ? QMessageBox::YesRole : QMessageBox::NoRole;
    for (QAbstractButton *button : box->buttons()) {
        const auto r = box->buttonRole(button);
        if (r == role || (answer != 0 && r == QMessageBox::AcceptRole)) {
            QTest::mouseClick(button, Qt::LeftButton);
            return true;
        }
    }
    return false;
}

bool SeamPopupOpen()
{
    return open_popup() != nullptr;
}
