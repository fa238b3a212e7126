// Shared by the user-interface tests: the events the test callbacks record,
// panel resource text built in place, and a fixture that starts the engine
// and discards every panel a test made.
#pragma once

#include "engine.h"
#include "engine_seams.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace ui_test {

struct Event {
    int panel;
    int control;
    int event;
    bool popupOpen; // a real modal popup was open when the callback ran
};

// Every call of a test callback, in order.
std::vector<Event> &events();
// Run by the test callback after it has recorded the event; null for none.
std::function<void(int panel, int control, int event)> &reaction();
int count(int control, int event);

// Registers the test callbacks: "record", and every name the logger's own
// panel resource binds. Panels that name callbacks load only after this.
void register_callbacks();
// Starts the engine (once per process) with the test callbacks registered.
void start_engine();

// A panel resource holding one panel of the given controls (JSON objects
// separated by commas).
std::string panel_text(int resource, const std::string &controls, int width = 480, int height = 360);
// The same text with a close control for its panel.
std::string with_close_control(const std::string &panelText, int control);

// The controls of the panel most tests use; every operable one calls
// "record". Ids are the names below.
enum Ctrl {
    kButton = 1,
    kCheck = 2,
    kSwitch = 3,
    kNumeric = 4,
    kRing = 5,
    kTextBox = 6,
    kLed = 7,
    kCaption = 8,
    kTimer = 9,
};
std::string all_kinds_controls();

class UiTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Loads a panel from text, failing the test when that does not work.
    int load(const std::string &resourceText, int resource, int parent = 0);
    // The panel of every kind, displayed.
    int shown_all_kinds();

private:
    std::vector<int> m_panels;
};

} // namespace ui_test
