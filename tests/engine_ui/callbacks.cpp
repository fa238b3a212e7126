// The callbacks the test panels name, and the fixture they report to.
#include "ui_test.h"

#include "vornacq4.h"

#include <algorithm>

namespace ui_test {

std::vector<Event> &events()
{
    static std::vector<Event> list;
    return list;
}

std::function<void(int, int, int)> &reaction()
{
    static std::function<void(int, int, int)> fn;
    return fn;
}

int count(int control, int event)
{
    const auto &list = events();
    return static_cast<int>(std::count_if(list.begin(), list.end(), [&](const Event &e) {
        return e.control == control && e.event == event;
    }));
}

std::string panel_text(int resource, const std::string &controls, int width, int height)
{
    return "{\"format\": \"test\", \"panels\": [{\"resource\": " + std::to_string(resource) +
           ", \"title\": \"Test panel\", \"width\": " + std::to_string(width) +
           ", \"height\": " + std::to_string(height) + ", \"controls\": [" + controls + "]}]}";
}

std::string with_close_control(const std::string &panelText, int control)
{
    const std::string key = "\"controls\": [";
    std::string text = panelText;
    text.insert(text.find(key), "\"close_control\": " + std::to_string(control) + ", ");
    return text;
}

std::string all_kinds_controls()
{
    return R"({"id": 1, "kind": "button", "x": 10, "y": 30, "width": 90, "height": 28, "label": "Go", "callback": "record"},
{"id": 2, "kind": "check", "x": 110, "y": 30, "width": 120, "height": 28, "label": "Hourly", "callback": "record"},
{"id": 3, "kind": "switch", "x": 240, "y": 30, "width": 90, "height": 28, "label": "Log", "callback": "record"},
{"id": 4, "kind": "numeric", "x": 10, "y": 90, "width": 90, "height": 28, "label": "Slot", "value": 5, "min": 0, "max": 100, "callback": "record"},
{"id": 5, "kind": "ring", "x": 110, "y": 90, "width": 120, "height": 28, "label": "Baud", "value": 300,
 "items": [{"label": "110", "value": 110}, {"label": "300", "value": 300}, {"label": "9600", "value": 9600}], "callback": "record"},
{"id": 6, "kind": "textbox", "x": 10, "y": 150, "width": 300, "height": 120, "label": "Data", "text": "start", "callback": "record"},
{"id": 7, "kind": "led", "x": 340, "y": 90, "width": 20, "height": 20, "label": "Busy"},
{"id": 8, "kind": "caption", "x": 340, "y": 30, "width": 120, "height": 20, "label": "Caption"},
{"id": 9, "kind": "timer", "interval": 0.05, "enabled": false, "callback": "record"})";
}

void start_engine()
{
    testing_support::start_engine();
    register_callbacks();
}

void UiTest::SetUp()
{
    start_engine();
    events().clear();
    reaction() = nullptr;
    SeamShowPopups();
    SeamClearPopups();
}

void UiTest::TearDown()
{
    reaction() = nullptr;
    for (int panel : m_panels)
        if (SeamPanelExists(panel))
            DiscardPanel(panel);
}

int UiTest::load(const std::string &resourceText, int resource, int parent)
{
    const int panel = SeamLoadPanelFromText(parent, resourceText, resource, "test.uir");
    EXPECT_GT(panel, 0) << UiErrorText(panel);
    if (panel > 0)
        m_panels.push_back(panel);
    return panel;
}

int UiTest::shown_all_kinds()
{
    const int panel = load(panel_text(1, all_kinds_controls()), 1);
    EXPECT_EQ(DisplayPanel(panel), 0);
    return panel;
}

} // namespace ui_test

namespace {

int record(int panel, int control, int event, void *, int, int)
{
    ui_test::events().push_back({panel, control, event, SeamPopupOpen()});
    if (auto &fn = ui_test::reaction())
        fn(panel, control, event);
    return 0;
}

// "record" for the test panels, and for every name the logger's own panel
// resource binds (the program's own list), so that file loads here too.
#define RECORD(name) {#name, record},
const CallbackBinding kTestCallbacks[] = {{"record", record}, VORN_CALLBACKS(RECORD){nullptr, nullptr}};
#undef RECORD

} // namespace

void ui_test::register_callbacks()
{
    RegisterCallbacks(kTestCallbacks);
}
