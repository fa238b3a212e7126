// comports.map: how COMn becomes a device path, and how a person's mistakes
// in the file are reported.
#include "engine.h"
#include "base/com_name.h"
#include "engine_seams.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>

using testing_support::TempDir;

namespace {

struct MapCase {
    const char *what;
    const char *text;                   // nullptr: no comports.map at all
    std::map<int, std::string> paths;   // ports to check and what they resolve to
    std::vector<int> warnedLines;       // line numbers reported as malformed
};

PRINTED_AS_WHAT(MapCase)

std::string standard(int port)
{
    return "/dev/ttyS" + std::to_string(port - 1);
}

} // namespace

class PortMapFile : public ::testing::TestWithParam<MapCase> {};

TEST_P(PortMapFile, ResolvesPortsAndReportsEachBadLineOnce)
{
    const MapCase &c = GetParam();
    TempDir dir;
    if (c.text != nullptr)
        testing_support::write_file("comports.map", c.text);
    SeamReloadPortMap();

    testing::internal::CaptureStderr();
    std::map<int, std::string> resolved;
    for (const auto &entry : c.paths)
        resolved[entry.first] = SeamPortPath(entry.first);
    // A second look reads nothing again and reports nothing again.
    for (const auto &entry : c.paths)
        SeamPortPath(entry.first);
    const std::string err = testing::internal::GetCapturedStderr();

    EXPECT_EQ(resolved, c.paths);
    EXPECT_EQ(static_cast<std::size_t>(testing_support::line_count(err)), c.warnedLines.size()) << err;
    for (int line : c.warnedLines) {
        EXPECT_NE(err.find(dir.file("comports.map") + ":" + std::to_string(line) + ":"), std::string::npos)
            << "line " << line << " not named in: " << err;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Lines, PortMapFile,
    ::testing::Values(
        MapCase{"NoFile", nullptr, {{1, standard(1)}, {18, standard(18)}}, {}},
        MapCase{"CommentsAndBlankLines",
                "# serial devices of the test rig\n\n   \nCOM1 /dev/ttyUSB0 # the GPS\n\t# COM2 /dev/x\n",
                {{1, "/dev/ttyUSB0"}, {2, standard(2)}},
                {}},
        MapCase{"TrailingSpacesAndWindowsLineEnds", "COM2 /dev/ttyUSB1   \t\r\nCOM3\t/dev/ttyUSB2\r\n",
                {{2, "/dev/ttyUSB1"}, {3, "/dev/ttyUSB2"}},
                {}},
        MapCase{"LowerCasePortName", "com3 /dev/ttyACM0\n", {{3, "/dev/ttyACM0"}}, {}},
        MapCase{"ByIdPath", "COM12 /dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A1B2C3-if00-port0\n",
                {{12, "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A1B2C3-if00-port0"}},
                {}},
        MapCase{"None", "COM4 none\n", {{4, ""}, {5, standard(5)}}, {}},
        MapCase{"PortZero", "COM0 /dev/ttyUSB0\nCOM1 /dev/ttyUSB1\n", {{1, "/dev/ttyUSB1"}}, {1}},
        MapCase{"PortNineteen", "COM1 /dev/a\nCOM19 /dev/b\n", {{1, "/dev/a"}, {18, standard(18)}}, {2}},
        MapCase{"LeadingZero", "COM03 /dev/a\n", {{3, standard(3)}}, {1}},
        MapCase{"NoPath", "# ports\nCOM3\nCOM4 /dev/d\n", {{3, standard(3)}, {4, "/dev/d"}}, {2}},
        MapCase{"NotAPortName", "ttyS0 /dev/ttyS0\n", {{1, standard(1)}}, {1}},
        MapCase{"DuplicatePort", "COM4 /dev/first\nCOM4 /dev/second\n", {{4, "/dev/first"}}, {2}},
        MapCase{"SeveralMistakes", "COM0 a\nCOM2 /dev/b\nCOM2 /dev/c\n\nCOM99 d\n", {{2, "/dev/b"}}, {1, 3, 5}}),
    [](const auto &info) { return std::string(info.param.what); });

TEST(PortMap, IsReadFromTheDirectoryCurrentWhenReloaded)
{
    TempDir first;
    testing_support::write_file("comports.map", "COM1 /dev/one\n");
    SeamReloadPortMap();
    EXPECT_EQ(SeamPortPath(1), "/dev/one");
    {
        TempDir second;
        testing_support::write_file("comports.map", "COM1 /dev/two\n");
        // Read once: a changed file or directory counts only after a reload.
        EXPECT_EQ(SeamPortPath(1), "/dev/one");
        SeamReloadPortMap();
        EXPECT_EQ(SeamPortPath(1), "/dev/two");
    }
}

TEST(PortMap, PortsOutsideTheRangeResolveToNothing)
{
    TempDir dir;
    SeamReloadPortMap();
    EXPECT_EQ(SeamPortPath(0), "");
    EXPECT_EQ(SeamPortPath(19), "");
}

// The one reading of COMn: the maps' ports (1..18) and the wider names that
// Windows devices and the tools' command lines carry.
TEST(ComName, IsCOMnInAnyCaseWithoutALeadingZeroOrAnythingAfter)
{
    const struct {
        const char *word;
        int any;    // com_name_number
        int logged; // com_number
    } cases[] = {
        {"COM1", 1, 1},       {"com18", 18, 18}, {"CoM19", 19, 0}, {"COM256", 256, 0}, {"COM9999", 9999, 0},
        {"COM10000", 0, 0},   {"COM0", 0, 0},    {"COM07", 0, 0},  {"COM", 0, 0},      {"COM1 ", 0, 0},
        {"COM1x", 0, 0},      {"COM-1", 0, 0},   {"XCOM1", 0, 0},  {"", 0, 0},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(com_name_number(c.word), c.any) << c.word;
        EXPECT_EQ(com_number(c.word), c.logged) << c.word;
    }
}

class HostileMap : public ::testing::TestWithParam<testing_support::Hostile> {};

TEST_P(HostileMap, IsNotReadAndNoPortIsUsed)
{
    TempDir dir;
    testing_support::make_hostile("comports.map", GetParam());
    SeamReloadPortMap();
    ::testing::internal::CaptureStderr();
    for (int port = 1; port <= 18; ++port)
        EXPECT_EQ(SeamPortPath(port), "") << "COM" << port;
    const std::string err = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(testing_support::line_count(err), 1) << err;
    EXPECT_NE(err.find(dir.file("comports.map") + ": "), std::string::npos) << err;
}

INSTANTIATE_TEST_SUITE_P(Kinds, HostileMap, ::testing::ValuesIn(testing_support::all_hostile()),
                         [](const auto &info) { return std::string(testing_support::hostile_name(info.param)); });

TEST(PortMap, LineLongerThanAnyPathOrWithAZeroByteIsIgnored)
{
    TempDir dir;
    const std::string text = "COM1 /dev/" + std::string(5000, 'a') + "\nCOM2 /dev/b" + std::string(1, '\0') +
                             "x\nCOM3 /dev/c\n";
    testing_support::write_file("comports.map", text);
    SeamReloadPortMap();
    const std::string err = testing_support::stderr_of([&] { EXPECT_EQ(SeamPortPath(3), "/dev/c"); });
    EXPECT_EQ(SeamPortPath(1), standard(1));
    EXPECT_EQ(SeamPortPath(2), standard(2));
    EXPECT_NE(err.find("comports.map:1:"), std::string::npos) << err;
    EXPECT_NE(err.find("comports.map:2:"), std::string::npos) << err;
}
