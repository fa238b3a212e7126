// The configuration popup, through real clicks and keys on the offscreen
// popup: slots held by one port at most, rows of absent ports dimmed with
// their reason, and coms.cfg rewritten at every close.
#include "logger_fixture.h"

#include <algorithm>
#include <cstdio>
#include <sys/file.h>

namespace {

// Ports 2, 4, 7 and 8 present (2 in slot 3 with hexadecimal display, 4 in
// slot 1, 8 not logged but with slot 4 left in the file); port 5 stored as
// logged at 19200 in slot 2 but its device is missing, port 6 names a plain
// file and port 9 a terminal that another program holds.
std::vector<PortRecord> stored_table()
{
    return testing_support::port_table(
        {{2, {9600, 1, 3, 1}}, {4, {4800, 1, 1, 0}}, {5, {19200, 1, 2, 0}}, {7, {9600, 1, 0, 0}}, {8, {9600, 0, 4, 1}}});
}

} // namespace

class ConfigPopup : public LoggerTest {
protected:
    ConfigPopup() : LoggerTest({2, 4, 7, 8, 9}) {}

    void SetUp() override
    {
        LoggerTest::SetUp();
        ASSERT_EQ(flock(pty(9).slave(), LOCK_EX | LOCK_NB), 0);
        testing_support::write_file("plain-file", "not a terminal");
        std::map<int, std::string> paths = {{5, start_dir() + "/no-such-device"}, {6, start_dir() + "/plain-file"}};
        for (int port : {2, 4, 7, 8, 9})
            paths[port] = pty(port).path();
        testing_support::write_file("comports.map", testing_support::port_map_text(paths));
        SeamReloadPortMap();
        write_config_file(stored_table());
        start_logger();
        ASSERT_TRUE(SeamClick(panelHandle, config_button));
        ASSERT_TRUE(SeamPanelModal(config_handle));
    }

    void close_popup() { ASSERT_TRUE(SeamClick(config_handle, config_close_button)); }
    int shown(const int *controls, int port) const { return SeamCtrlValue(config_handle, controls[port]); }
    std::string saved() const { return testing_support::read_file(start_dir() + "/coms.cfg"); }
};

TEST_F(ConfigPopup, CancelsTheAutomaticStartForGoodAndEveryCloseSaves)
{
    EXPECT_FALSE(ticking(countdown_timer));
    EXPECT_FALSE(visible(countdown_box));
    EXPECT_FALSE(SeamClick(panelHandle, start_button)) << "the main panel takes no input meanwhile";
    std::remove("coms.cfg");
    close_popup(); // nothing changed
    EXPECT_FALSE(SeamPanelExists(config_handle));
    EXPECT_EQ(saved().size(), 288u);
    EXPECT_FALSE(SeamTick(panelHandle, countdown_timer));
    EXPECT_FALSE(run_started());
}

TEST_F(ConfigPopup, AnAbsentPortsRowIsDimmedSaysWhyAndShowsWhatTheRunKeepsForIt)
{
    for (const int *controls : {bb_idx, bc_idx, cd_idx, ph_idx})
        EXPECT_EQ(SeamCtrlAttribute(config_handle, controls[5], ATTR_DIMMED), 1);
    EXPECT_EQ(shown(bc_idx, 5), 1) << "logged, waited for";
    EXPECT_EQ(shown(cd_idx, 5), 2);
    EXPECT_EQ(shown(bb_idx, 5), 19200);
    EXPECT_EQ(shown(bc_idx, 9), 0);
    EXPECT_EQ(SeamCtrlLabel(config_handle, why_idx[5]), "no such device");
    EXPECT_EQ(SeamCtrlLabel(config_handle, why_idx[6]), "not a serial device");
    EXPECT_EQ(SeamCtrlLabel(config_handle, why_idx[9]), "in use by another program");
    EXPECT_EQ(SeamCtrlLabel(config_handle, why_idx[4]), "");
    EXPECT_EQ(SeamCtrlLabel(config_handle, dev_idx[4]), pty(4).path());
    EXPECT_EQ(SeamCtrlLabel(config_handle, dev_idx[10]), "none");

    // Its slot goes to a port that is there when the operator gives it one.
    ASSERT_TRUE(SeamEnterValue(config_handle, cd_idx[7], 2));
    EXPECT_EQ(RS232Disp[7], 2);
    EXPECT_EQ(RS232Disp[5], 0);
    EXPECT_EQ(shown(cd_idx, 5), 0);
    EXPECT_EQ(RS232Sel[5], 1);
}

TEST_F(ConfigPopup, ASlotHeldByAnotherPortIsRefusedUntilItsHolderGivesItUp)
{
    // The operator can set it: what refuses the value is the program.
    ASSERT_EQ(SeamCtrlAttribute(config_handle, cd_idx[7], ATTR_CTRL_MODE), MODE_OPERABLE);
    ASSERT_EQ(SeamCtrlAttribute(config_handle, cd_idx[7], ATTR_DIMMED), 0);
    SeamEnterValue(config_handle, cd_idx[7], 3);
    EXPECT_EQ(shown(cd_idx, 7), 0) << "refused: back to its value";
    EXPECT_EQ(RS232Disp[7], 0);
    EXPECT_EQ(RS232Disp[2], 3);
    // A port not logged holds no slot, whatever coms.cfg left it.
    ASSERT_TRUE(SeamEnterValue(config_handle, cd_idx[7], 4));
    EXPECT_EQ(RS232Disp[7], 4);

    ASSERT_TRUE(SeamEnterValue(config_handle, cd_idx[2], 0));
    EXPECT_EQ(HEXDisp[2], 0);
    EXPECT_EQ(shown(ph_idx, 2), 0);
    ASSERT_TRUE(SeamEnterValue(config_handle, cd_idx[4], 3));
    EXPECT_EQ(RS232Disp[4], 3);
}

TEST_F(ConfigPopup, LoggingOffClearsSlotAndHexAndLocksThemUntilOnAgain)
{
    ASSERT_TRUE(SeamEnterValue(config_handle, ph_idx[4], 1));
    ASSERT_TRUE(SeamEnterValue(config_handle, bc_idx[4], 0));
    EXPECT_EQ(RS232Disp[4], 0);
    EXPECT_EQ(HEXDisp[4], 0);
    EXPECT_EQ(shown(ph_idx, 4), 0);
    for (const int *controls : {cd_idx, ph_idx})
        EXPECT_EQ(SeamCtrlAttribute(config_handle, controls[4], ATTR_CTRL_MODE), MODE_INDICATOR);
    EXPECT_FALSE(SeamEnterValue(config_handle, cd_idx[4], 1));

    ASSERT_TRUE(SeamEnterValue(config_handle, bc_idx[4], 1));
    EXPECT_EQ(RS232Disp[4], 0) << "the old slot is not restored";
    EXPECT_TRUE(SeamEnterValue(config_handle, cd_idx[4], 1));
    // Hexadecimal display flips back off for a port without a slot.
    ASSERT_EQ(SeamCtrlAttribute(config_handle, ph_idx[7], ATTR_CTRL_MODE), MODE_OPERABLE);
    ASSERT_EQ(SeamCtrlAttribute(config_handle, ph_idx[7], ATTR_DIMMED), 0);
    SeamEnterValue(config_handle, ph_idx[7], 1);
    EXPECT_EQ(shown(ph_idx, 7), 0);
    EXPECT_EQ(HEXDisp[7], 0);
}

TEST_F(ConfigPopup, WhatIsSavedIsWhatWasShownAndANewStartLoadsItBack)
{
    ASSERT_TRUE(SeamEnterValue(config_handle, bb_idx[2], 115200));
    ASSERT_TRUE(SeamEnterValue(config_handle, bb_idx[7], 110));
    ASSERT_TRUE(SeamEnterValue(config_handle, cd_idx[7], 5));
    ASSERT_TRUE(SeamEnterValue(config_handle, ph_idx[7], 1));
    ASSERT_TRUE(SeamEnterValue(config_handle, bc_idx[4], 0));
    std::vector<PortRecord> expected = stored_table();
    expected[2 - 1] = {115200, 1, 3, 1};
    expected[4 - 1] = {4800, 0, 0, 0};
    expected[5 - 1] = {19200, 1, 2, 0}; // absent: as coms.cfg had it
    expected[7 - 1] = {110, 1, 5, 1};
    expected[8 - 1] = {9600, 0, 0, 0};
    close_popup();
    EXPECT_EQ(saved(), config_bytes(expected));

    // A new start: the probe and the loading afresh.
    for (int *column : {baudrate, RS232Sel, RS232Disp, HEXDisp})
        std::fill(column, column + PORT_SLOTS, 0);
    check_ports();
    init_bauds();
    std::vector<PortRecord> loaded;
    for (int port = 1; port <= MAX_PORT; ++port)
        loaded.push_back({baudrate[port], RS232Sel[port], RS232Disp[port], HEXDisp[port]});
    EXPECT_EQ(config_bytes(loaded), config_bytes(expected));
}

TEST_F(ConfigPopup, ClosingItFromItsFrameSavesAsCloseDoes)
{
    ASSERT_TRUE(SeamEnterValue(config_handle, bb_idx[7], 57600));
    ASSERT_TRUE(SeamCloseFromFrame(config_handle));
    EXPECT_FALSE(SeamPanelExists(config_handle));
    EXPECT_EQ(saved().substr(16 * (7 - 1), 4), config_bytes({{57600, 0, 0, 0}}).substr(0, 4));
}

TEST_F(ConfigPopup, APopupThatCannotBeLoadedIsReportedAndChangesNothing)
{
    close_popup();
    const std::string before = saved();
    const int handleBefore = config_handle;
    // Every panel handle taken: the next load of the popup fails.
    ::testing::internal::CaptureStderr();
    std::vector<int> fillers;
    for (int panel; (panel = SeamLoadPanelFromText(0, R"({"panels": [{"resource": 1, "width": 9, "height": 9, "controls": []}]})", 1)) > 0;)
        fillers.push_back(panel);
    ASSERT_TRUE(SeamClick(panelHandle, config_button));
    ::testing::internal::GetCapturedStderr();
    ASSERT_EQ(SeamPopupsShown().size(), 1u);
    EXPECT_NE(SeamPopupsShown()[0].message.find("could not be loaded"), std::string::npos);
    EXPECT_EQ(config_handle, handleBefore);
    EXPECT_EQ(saved(), before);
    for (int panel : fillers)
        DiscardPanel(panel);
}
