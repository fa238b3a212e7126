// Loading panels: every fault in a resource is refused with its own code and
// one line on stderr that says in which file and where; the logger's own
// resource file is found beside the executable.
#include "ui_test.h"

#include <QApplication>
#include <QCoreApplication>

#include <algorithm>

using namespace ui_test;
using testing_support::line_count;
using testing_support::TempDir;

namespace {

const char *kButton3 = R"({"id": 3, "kind": "button", "x": 10, "y": 10, "width": 80, "height": 26})";

struct BadResource {
    const char *what;
    std::string text;
    int resource;
    int code;
    std::vector<std::string> mentions; // each must be in the stderr line
};

PRINTED_AS_WHAT(BadResource)

std::vector<BadResource> bad_resources()
{
    return {
        {"malformed JSON", "{\n  \"panels\": [\n    {\"resource\": 7 \"title\": \"x\"}\n  ]\n}\n", 7,
         UI_ERR_FORMAT, {"line 3, column "}},
        {"text for a number",
         panel_text(7, R"({"id": 3, "kind": "button", "x": "ten", "y": 10, "width": 80, "height": 26})"), 7,
         UI_ERR_FORMAT, {"panel 7", "control 3", "'x'"}},
        {"unknown key",
         panel_text(7, R"({"id": 3, "kind": "button", "x": 1, "y": 10, "width": 80, "height": 26, "colour": "#FF0000"})"),
         7, UI_ERR_FORMAT, {"panel 7", "control 3", "'colour'"}},
        {"unknown kind",
         panel_text(7, R"({"id": 3, "kind": "slider", "x": 1, "y": 10, "width": 80, "height": 26})"), 7,
         UI_ERR_FORMAT, {"panel 7", "control 3", "'slider'"}},
        {"duplicate id", panel_text(7, std::string(kButton3) + "," + kButton3), 7, UI_ERR_FORMAT,
         {"panel 7", "control 3"}},
        {"missing resource", panel_text(7, kButton3), 9, UI_ERR_NO_RESOURCE, {"9"}},
        {"timer without pause", panel_text(7, R"({"id": 4, "kind": "timer", "interval": 0.0001, "enabled": true})"), 7,
         UI_ERR_FORMAT, {"panel 7", "control 4", "'interval'"}},
        {"interval beyond a day", panel_text(7, R"({"id": 4, "kind": "timer", "interval": 1e300, "enabled": true})"), 7,
         UI_ERR_FORMAT, {"panel 7", "control 4", "'interval'"}},
        {"size beyond any screen",
         panel_text(7, R"({"id": 3, "kind": "button", "x": 1, "y": 10, "width": 2147483647, "height": 26})"), 7,
         UI_ERR_FORMAT, {"panel 7", "control 3", "'width' must be from 0 to 8192"}},
        {"negative position",
         panel_text(7, R"({"id": 3, "kind": "button", "x": -5, "y": 10, "width": 80, "height": 26})"), 7,
         UI_ERR_FORMAT, {"panel 7", "control 3", "'x'"}},
        {"huge font",
         panel_text(7, R"({"id": 3, "kind": "button", "x": 1, "y": 10, "width": 80, "height": 26, "font_size": 100000})"),
         7, UI_ERR_FORMAT, {"panel 7", "control 3", "'font_size'"}},
        {"number too large for any integer",
         panel_text(7, R"({"id": 3, "kind": "button", "x": 1e300, "y": 10, "width": 80, "height": 26})"), 7,
         UI_ERR_FORMAT, {"panel 7", "control 3", "'x'"}},
        {"colour with a sign",
         panel_text(7, R"({"id": 3, "kind": "textbox", "x": 1, "y": 10, "width": 80, "height": 26, "color": "#-00001"})"),
         7, UI_ERR_FORMAT, {"panel 7", "control 3", "'color'"}},
        {"unknown callback",
         panel_text(7, R"({"id": 3, "kind": "button", "x": 1, "y": 10, "width": 80, "height": 26, "callback": "no_such_function"})"),
         7, UI_ERR_CALLBACK, {"panel 7", "control 3", "'no_such_function'"}},
        {"close control that is none", with_close_control(panel_text(7, kButton3), 5), 7, UI_ERR_FORMAT,
         {"panel 7", "'close_control' 5"}},
    };
}

class BadResourceTest : public UiTest, public ::testing::WithParamInterface<BadResource> {};

std::string bad_resource_name(const ::testing::TestParamInfo<BadResource> &info)
{
    std::string name = info.param.what;
    std::replace(name.begin(), name.end(), ' ', '_');
    return name;
}

} // namespace

TEST_P(BadResourceTest, IsRefusedWithItsCodeAndOneLineNamingFileAndPlace)
{
    const BadResource &bad = GetParam();
    const auto windowsBefore = QApplication::topLevelWidgets().size();

    ::testing::internal::CaptureStderr();
    const int result = SeamLoadPanelFromText(0, bad.text, bad.resource, "bad-panels.uir");
    const std::string err = ::testing::internal::GetCapturedStderr();

    EXPECT_EQ(result, bad.code) << UiErrorText(result);
    EXPECT_EQ(line_count(err), 1) << err;
    EXPECT_NE(err.find("bad-panels.uir"), std::string::npos) << err;
    for (const std::string &mention : bad.mentions)
        EXPECT_NE(err.find(mention), std::string::npos) << "no \"" << mention << "\" in: " << err;
    // Nothing half-built is left behind.
    EXPECT_EQ(QApplication::topLevelWidgets().size(), windowsBefore);
}

INSTANTIATE_TEST_SUITE_P(PanelResource, BadResourceTest, ::testing::ValuesIn(bad_resources()),
                         bad_resource_name);

TEST(PanelResource, MalformedJsonIsPlacedAtTheOffendingToken)
{
    start_engine();
    // The missing comma: the parser stops at the key that follows it.
    const std::string text = "{\n  \"panels\": [\n    {\"resource\": 7 \"title\": \"x\"}\n  ]\n}\n";
    const std::string err =
        testing_support::stderr_of([&] { EXPECT_EQ(SeamLoadPanelFromText(0, text, 7, "p.uir"), UI_ERR_FORMAT); });
    // The parser may stop on the key's first character or just after it.
    const int column = static_cast<int>(std::string("    {\"resource\": 7 ").size()) + 1;
    const bool onKey = err.find("line 3, column " + std::to_string(column) + ":") != std::string::npos ||
                       err.find("line 3, column " + std::to_string(column + 1) + ":") != std::string::npos;
    EXPECT_TRUE(onKey) << err;
}

TEST(PanelResource, MissingFileIsRefusedWithOneLineNamingIt)
{
    start_engine();
    TempDir dir;
    const std::string path = dir.file("absent.uir");
    const std::string err =
        testing_support::stderr_of([&] { EXPECT_EQ(LoadPanel(0, path.c_str(), 1), UI_ERR_FILE); });
    EXPECT_EQ(line_count(err), 1) << err;
    EXPECT_NE(err.find(path), std::string::npos) << err;
}

TEST(PanelResource, AnythingButARegularFileOfSaneSizeIsRefusedAtOnce)
{
    start_engine();
    TempDir dir;
    for (const testing_support::Hostile kind : testing_support::all_hostile()) {
        const std::string path = dir.file(std::string(testing_support::hostile_name(kind)) + ".uir");
        testing_support::make_hostile(path, kind);
        ::testing::internal::CaptureStderr();
        EXPECT_EQ(LoadPanel(0, path.c_str(), 1), UI_ERR_FILE) << path;
        const std::string err = ::testing::internal::GetCapturedStderr();
        EXPECT_EQ(line_count(err), 1) << err;
        EXPECT_NE(err.find(path), std::string::npos) << err;
    }
}

TEST(PanelResource, RelativeNameIsLookedUpBesideTheExecutableNotInTheCurrentDirectory)
{
    start_engine();
    TempDir dir;
    // A decoy in the current directory that would fail to load.
    testing_support::write_file("vornacq4.uir", "not a panel resource");
    const int panel = LoadPanel(0, "vornacq4.uir", 2);
    EXPECT_GT(panel, 0) << UiErrorText(panel);
    EXPECT_EQ(SeamCtrlKind(panel, 12), "button");
    EXPECT_EQ(SeamCtrlCallbackName(panel, 12), "acquire_data");
    DiscardPanel(panel);

    // A relative name that is only in the current directory is not found.
    testing_support::write_file("only-here.uir", panel_text(1, kButton3));
    const std::string err =
        testing_support::stderr_of([&] { EXPECT_EQ(LoadPanel(0, "only-here.uir", 1), UI_ERR_FILE); });
    const std::string beside = QCoreApplication::applicationDirPath().toStdString() + "/only-here.uir";
    EXPECT_NE(err.find(beside), std::string::npos) << err;
}

TEST(PanelResource, AbsolutePathIsReadAsGiven)
{
    start_engine();
    TempDir dir;
    testing_support::write_file("mine.uir", panel_text(4, kButton3));
    const int panel = LoadPanel(0, dir.file("mine.uir").c_str(), 4);
    ASSERT_GT(panel, 0) << UiErrorText(panel);
    EXPECT_EQ(SeamControlIds(panel), std::vector<int>{3});
    EXPECT_FALSE(SeamPanelVisible(panel));
    DiscardPanel(panel);
}

TEST(PanelResource, ControlsTakeTheirSettingsFromTheResource)
{
    start_engine();
    const std::string controls =
        R"({"id": 2, "kind": "check", "x": 10, "y": 10, "width": 80, "height": 26, "label": "Hourly", "value": 1, "dimmed": true},
{"id": 4, "kind": "numeric", "x": 10, "y": 60, "width": 80, "height": 26, "value": 42, "min": 0, "max": 60, "visible": false, "mode": "indicator"},
{"id": 6, "kind": "textbox", "x": 10, "y": 120, "width": 200, "height": 60, "text": "ab\r\ncd", "color": "#00FFFF"},
{"id": 7, "kind": "led", "x": 300, "y": 10, "width": 20, "height": 20, "value": 1, "on_color": "#FF0000"},
{"id": 9, "kind": "timer", "interval": 0.25, "enabled": true})";
    const int panel = SeamLoadPanelFromText(0, panel_text(5, controls), 5);
    ASSERT_GT(panel, 0) << UiErrorText(panel);
    EXPECT_EQ(SeamCtrlValue(panel, 2), 1);
    EXPECT_EQ(SeamCtrlAttribute(panel, 2, ATTR_DIMMED), 1);
    EXPECT_EQ(SeamCtrlLabel(panel, 2), "Hourly");
    EXPECT_EQ(SeamCtrlValue(panel, 4), 42);
    EXPECT_EQ(SeamCtrlAttribute(panel, 4, ATTR_VISIBLE), 0);
    EXPECT_EQ(SeamCtrlAttribute(panel, 4, ATTR_CTRL_MODE), MODE_INDICATOR);
    EXPECT_EQ(SeamCtrlText(panel, 6), "ab\ncd");
    EXPECT_EQ(SeamCtrlAttribute(panel, 6, ATTR_TEXT_BGCOLOR), COLOR_CYAN);
    EXPECT_EQ(SeamCtrlValue(panel, 7), 1);
    EXPECT_EQ(SeamCtrlAttribute(panel, 7, ATTR_ON_COLOR), COLOR_RED);
    EXPECT_DOUBLE_EQ(SeamTimerInterval(panel, 9), 0.25);
    EXPECT_EQ(SeamCtrlAttribute(panel, 9, ATTR_TIMER_ENABLED), 1);
    DiscardPanel(panel);
}

TEST(PanelResource, PanelsBeyondTheLimitAreRefusedUntilOneIsDiscarded)
{
    start_engine();
    const std::string text = panel_text(1, kButton3);
    std::vector<int> panels;
    int refused = 0;
    ::testing::internal::CaptureStderr();
    while (panels.size() < 100) {
        const int panel = SeamLoadPanelFromText(0, text, 1);
        if (panel < 0) {
            refused = panel;
            break;
        }
        panels.push_back(panel);
    }
    const std::string err = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(refused, UI_ERR_TOO_MANY_PANELS);
    EXPECT_EQ(line_count(err), 1) << err;
    // Handles are distinct, and a discarded one is free again.
    std::vector<int> sorted = panels;
    std::sort(sorted.begin(), sorted.end());
    EXPECT_EQ(std::adjacent_find(sorted.begin(), sorted.end()), sorted.end());
    ASSERT_FALSE(panels.empty());
    ASSERT_EQ(DiscardPanel(panels[3 % panels.size()]), 0);
    const int again = SeamLoadPanelFromText(0, text, 1);
    EXPECT_GT(again, 0) << UiErrorText(again);
    for (int panel : panels)
        DiscardPanel(panel);
    DiscardPanel(again);
}
