// The logger brought up in-process as main brings it up, on the offscreen
// platform, in a temporary start-up directory whose comports.map maps all 18
// ports (the listed ones to pseudo-terminals). Popups are answered by the
// test and the clock is fixed.
//
// The logger's state is the process's, so each test case needs a process of
// its own: ctest runs them that way.
#pragma once

#include "engine.h"
#include "engine_seams.h"
#include "test_support.h"
#include "vorn_utl.h"
#include "vornacq4.h"
#include "vorncoms.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

using testing_support::config_bytes;
using testing_support::PortRecord;

class LoggerTest : public ::testing::Test {
protected:
    // Ports mapped to pseudo-terminals; all others are absent.
    explicit LoggerTest(std::vector<int> ptyPorts = {}) : m_ptyPorts(std::move(ptyPorts)) {}

    void SetUp() override
    {
        testing_support::start_engine();
        RegisterCallbacks(callback_table);
        m_ports = std::make_unique<testing_support::PortRig>(m_ptyPorts);
        SeamSetClock(2024, 2, 14, 10, 40, 5); // day 45
        SeamAnswerPopups(1);
        SeamClearPopups();
    }

    void TearDown() override
    {
        if (panelHandle > 0)
            DiscardPanel(panelHandle);
        panelHandle = 0;
        DisableBreakOnLibraryErrors();
        for (int port = 1; port <= MAX_PORT; ++port)
            CloseCom(port);
        EnableBreakOnLibraryErrors();
    }

    // main's steps up to the event loop.
    void start_logger() { ASSERT_EQ(set_up_main_panel(), 1); }

    void write_config_file(const std::vector<PortRecord> &records)
    {
        testing_support::write_file(m_ports->dir().file("coms.cfg"), config_bytes(records));
    }

    bool visible(int control) const { return SeamCtrlAttribute(panelHandle, control, ATTR_VISIBLE) == 1; }
    bool dimmed(int control) const { return SeamCtrlAttribute(panelHandle, control, ATTR_DIMMED) == 1; }
    bool ticking(int timer) const
    {
        return SeamCtrlAttribute(panelHandle, timer, ATTR_TIMER_ENABLED) == 1;
    }
    bool run_started() const { return ticking(acq_timer); }

    const std::string &start_dir() const { return m_ports->dir().path(); }
    testing_support::Pty &pty(int port) { return m_ports->pty(port); }

    // Whether RunUserInterface returns at once: the program has asked to end.
    // A safety quit with another code keeps a wrong answer from hanging.
    bool program_ended()
    {
        SeamRunLater(3000, [] { QuitUserInterface(99); });
        return RunUserInterface() == 0;
    }

private:
    std::vector<int> m_ptyPorts;
    std::unique_ptr<testing_support::PortRig> m_ports;
};
