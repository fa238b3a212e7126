// Popups: real modal dialogs answered as the operator would, the test seam
// that answers them unseen, and panels installed as modal popups.
#include "ui_test.h"

#include "ui/ui_internal.h"

#include <QMessageBox>

using namespace ui_test;

namespace {

class Popups : public UiTest {};

struct Answer {
    const char *what;
    int click;  // 1 yes, 0 no, -1 close the dialog from its frame
    int result;
};

PRINTED_AS_WHAT(Answer)

class ConfirmAnswer : public UiTest, public ::testing::WithParamInterface<Answer> {};

const char *kChildPanel = R"({"id": 1, "kind": "button", "x": 10, "y": 30, "width": 90, "height": 28, "label": "OK", "callback": "record"})";

} // namespace

TEST_P(ConfirmAnswer, ReturnsWhatTheOperatorChose)
{
    bool answered = false;
    SeamRunLater(20, [&] {
        EXPECT_TRUE(SeamPopupOpen());
        if (GetParam().click >= 0)
            answered = SeamAnswerOpenPopup(GetParam().click);
        else if (QMessageBox *box = ui::open_popup())
            answered = box->close();
    });
    EXPECT_EQ(ConfirmPopup("Start", "CONTINUE"), GetParam().result);
    EXPECT_TRUE(answered);
    EXPECT_FALSE(SeamPopupOpen());
}

INSTANTIATE_TEST_SUITE_P(Popups, ConfirmAnswer,
                         ::testing::Values(Answer{"yes", 1, 1}, Answer{"no", 0, 0}, Answer{"closed", -1, 0}),
                         [](const auto &info) { return std::string(info.param.what); });

TEST_F(Popups, RealPopupShowsTheTitleAndMessageGiven)
{
    std::string title, text;
    SeamRunLater(20, [&] {
        if (QMessageBox *box = ui::open_popup()) {
            title = box->windowTitle().toStdString();
            text = box->text().toStdString();
        }
        SeamAnswerOpenPopup(1);
    });
    EXPECT_EQ(MessagePopup("Disk ERROR!", "Cannot Return to Base Directory, Quiting!"), 0);
    EXPECT_EQ(title, "Disk ERROR!");
    EXPECT_EQ(text, "Cannot Return to Base Directory, Quiting!");
}

TEST_F(Popups, AnsweredPopupsAreRecordedAndNeverShown)
{
    bool shown = false;
    SeamRunLater(0, [&] { shown = SeamPopupOpen(); });
    SeamAnswerPopups(1);
    EXPECT_EQ(ConfirmPopup("Start?", "CONTINUE"), 1);
    SeamAnswerPopups(0);
    EXPECT_EQ(ConfirmPopup("Again?", "STOP"), 0);
    EXPECT_EQ(MessagePopup("Disk ERROR!", "full"), 0);
    SeamProcessEventsUntil([] { return false; }, 20);
    EXPECT_FALSE(shown);

    const std::vector<SeamPopup> &shownList = SeamPopupsShown();
    ASSERT_EQ(shownList.size(), 3u);
    EXPECT_EQ(shownList[0].kind, "confirm");
    EXPECT_EQ(shownList[0].title, "Start?");
    EXPECT_EQ(shownList[0].message, "CONTINUE");
    EXPECT_EQ(shownList[1].title, "Again?");
    EXPECT_EQ(shownList[2].kind, "message");
    EXPECT_EQ(shownList[2].title, "Disk ERROR!");
    EXPECT_EQ(shownList[2].message, "full");
    SeamClearPopups();
    EXPECT_TRUE(SeamPopupsShown().empty());
}

TEST_F(Popups, InstalledPopupBlocksItsParentUntilDiscarded)
{
    const int parent = shown_all_kinds();
    const int popup = load(panel_text(2, kChildPanel, 200, 100), 2, parent);
    ASSERT_EQ(InstallPopup(popup), 0);
    EXPECT_TRUE(SeamPanelModal(popup));
    EXPECT_TRUE(SeamPanelVisible(popup));
    EXPECT_FALSE(SeamPanelModal(parent));

    SeamClick(parent, kButton);
    SeamClick(parent, kCheck);
    EXPECT_TRUE(events().empty()) << "the parent took input past its modal popup";
    EXPECT_EQ(SeamCtrlValue(parent, kCheck), 0);

    // The popup itself takes input.
    ASSERT_TRUE(SeamClick(popup, 1));
    EXPECT_EQ(count(1, EVENT_COMMIT), 1);
    EXPECT_EQ(events().back().panel, popup);

    ASSERT_EQ(DiscardPanel(popup), 0);
    events().clear();
    ASSERT_TRUE(SeamClick(parent, kButton));
    EXPECT_EQ(count(kButton, EVENT_COMMIT), 1);
}

TEST_F(Popups, PanelAlreadyDisplayedBlocksItsParentOnceInstalled)
{
    const int parent = shown_all_kinds();
    const int popup = load(panel_text(2, kChildPanel, 200, 100), 2, parent);
    ASSERT_EQ(DisplayPanel(popup), 0);
    ASSERT_TRUE(SeamClick(parent, kButton)); // not modal yet
    EXPECT_EQ(count(kButton, EVENT_COMMIT), 1);

    ASSERT_EQ(InstallPopup(popup), 0);
    EXPECT_TRUE(SeamPanelVisible(popup));
    SeamClick(parent, kButton);
    EXPECT_EQ(count(kButton, EVENT_COMMIT), 1) << "the parent took input past its modal popup";
}

TEST_F(Popups, DiscardingAParentDiscardsItsPopups)
{
    const int parent = shown_all_kinds();
    const int popup = load(panel_text(2, kChildPanel, 200, 100), 2, parent);
    const int other = load(panel_text(3, kChildPanel, 200, 100), 3);
    ASSERT_EQ(InstallPopup(popup), 0);
    ASSERT_EQ(DiscardPanel(parent), 0);
    EXPECT_FALSE(SeamPanelExists(parent));
    EXPECT_FALSE(SeamPanelExists(popup));
    EXPECT_TRUE(SeamPanelExists(other));
    // Nothing is modal any more: a panel shown now takes input.
    DisplayPanel(other);
    ASSERT_TRUE(SeamClick(other, 1));
    EXPECT_EQ(count(1, EVENT_COMMIT), 1);
}

TEST_F(Popups, PopupOfAMissingParentIsRefused)
{
    const std::string err =
        testing_support::stderr_of([&] { EXPECT_EQ(SeamLoadPanelFromText(31, panel_text(2, kChildPanel), 2, "child.uir"), UI_ERR_BAD_PANEL); });
    EXPECT_NE(err.find("child.uir"), std::string::npos) << err;
}

TEST_F(Popups, SerialBytesKeepArrivingWhileAModalPopupIsOpen)
{
    // The operator leaves a question unanswered: the port's queue must go on
    // taking what the instrument sends, for the next tick to log.
    testing_support::PortRig rig({4});
    ASSERT_EQ(OpenComConfig(4, "", 9600, 0, 8, 1, COM_QUEUE_MAX, 512), 0);
    const std::string sent(3000, 'x');
    int queuedDuringPopup = -1;
    bool popupWasOpen = false;
    SeamRunLater(20, [&] {
        popupWasOpen = SeamPopupOpen();
        rig.pty(4).write(sent);
        testing_support::eventually([] { return GetInQLen(4) == 3000; });
        queuedDuringPopup = GetInQLen(4);
        SeamAnswerOpenPopup(1);
    });
    EXPECT_EQ(MessagePopup("Disk ERROR!", "waiting for the operator"), 0);
    EXPECT_TRUE(popupWasOpen);
    EXPECT_EQ(queuedDuringPopup, 3000);
    std::string got(3000, '\0');
    EXPECT_EQ(ComRd(4, &got[0], 3000), 3000);
    EXPECT_EQ(got, sent);
    CloseCom(4);
}

TEST_F(Popups, WithNoDisplayToShowThemOnAreWrittenToStderrAndAnsweredAtOnce)
{
    SeamDefaultPopups(); // as the program runs, here on the offscreen platform
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(ConfirmPopup("FILE 3 ERROR", "CONTINUE"), 1);
    EXPECT_EQ(MessagePopup("Disk ERROR!", "A Data Subdirectory Error has occured, Quiting!"), 0);
    const std::string err = ::testing::internal::GetCapturedStderr();
    EXPECT_FALSE(SeamPopupOpen());
    EXPECT_NE(err.find("vornacq4: FILE 3 ERROR: CONTINUE (no display to ask on: answered yes)\n"), std::string::npos)
        << err;
    EXPECT_NE(err.find("vornacq4: Disk ERROR!: A Data Subdirectory Error has occured, Quiting!\n"), std::string::npos)
        << err;
}
