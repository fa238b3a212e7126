// The windowed logger for Windows under wine, end to end: the real
// vornacq4.exe on COM ports that are pseudo-terminals, operated with real
// input, its files checked with the Linux build's own programs.
#include "wine_station.h"

#include "test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <string>

using ptykit::config_bytes;
using ptykit::eventually;
using ptykit::PortRecord;
using ptykit::read_file;
using ptykit::write_file;

namespace {

constexpr int kConfigMs = 60000;    // from the program's start to its coms.cfg
constexpr int kCountdownMs = 60000; // the countdown takes 12 s
constexpr int kBytesMs = 30000;
constexpr int kExitMs = 30000;
constexpr int kRolloverMs = 90000;  // the next change of the minute, and some

// Where the panel's controls are (the panel resource's layout).
struct Spot {
    int x, y;
};
constexpr Spot kStartButton{72, 28}, kPauseButton{207, 28}, kConfigButton{357, 28}, kQuitButton{1133, 28};
constexpr Spot kMinuteCheck{202, 78}, kMinuteCount{440, 78}, kSlot1Led{22, 144};
constexpr Spot kConfigClose{1086, 608};
// A row of the configuration window: COMn's switches and its reason.
constexpr int config_row_y(int port) { return 53 + 30 * (port - 1); }
constexpr int kLogSwitchX = 597, kHexSwitchX = 762, kReasonX = 816, kReasonWidth = 320;

// Every byte value, `rounds` times over, each round from a different start
// so that no two rounds are alike.
std::string every_byte(int rounds, int seed)
{
    std::string bytes;
    for (int r = 0; r < rounds; ++r)
        for (int v = 0; v < 256; ++v)
            bytes.push_back(static_cast<char>((v + r * 7 + seed) & 0xFF));
    return bytes;
}

// The arrival-time index beside a data file, as the Linux vornacq4-when reads it.
void expect_index_agrees(const WineStation &station, const std::string &file)
{
    const std::string data = station.in_start(file);
    const ToolRun said = run_when({"check", data});
    EXPECT_EQ(said.status, 0) << file << ": " << said.both();
    const std::string covering = "covering " + std::to_string(read_file(data).size()) + " bytes";
    EXPECT_NE(said.out.find(covering), std::string::npos) << file << ": " << said.both();
}

// A data file's name as on Linux: D<day of year>/<day><seconds of the day>.C<port>.
void expect_linux_name(const std::string &file, int port)
{
    int day = 0, fileDay = 0, seconds = 0, filePort = 0;
    char tail = 0;
    ASSERT_EQ(std::sscanf(file.c_str(), "D%3d/%3d%5d.C%2d%c", &day, &fileDay, &seconds, &filePort, &tail), 4) << file;
    EXPECT_EQ(file.size(), 17u) << file;
    EXPECT_EQ(fileDay, day) << file;
    EXPECT_LT(seconds, 86400) << file;
    EXPECT_EQ(filePort, port) << file;
}

// The coms.cfg the Linux build writes at a first start on these ports.
std::string linux_defaults(const std::vector<int> &ports)
{
    ptykit::TempDir dir;
    std::map<int, std::unique_ptr<ptykit::Pty>> ptys;
    std::map<int, std::string> paths;
    for (int port : ports) {
        ptys[port] = std::make_unique<ptykit::Pty>();
        paths[port] = ptys[port]->path();
    }
    write_file(dir.file("comports.map"), ptykit::port_map_text(paths));
    LoggerProcess::Options o;
    o.binary = VORNACQ4_BINARY;
    o.startDir = dir.path();
    o.stderrPath = dir.file("stderr.txt");
    LoggerProcess logger(o);
    eventually([&] { return read_file(dir.file("coms.cfg")).size() == 288; }, kConfigMs);
    logger.signal(SIGTERM);
    logger.wait_exit(kExitMs);
    return read_file(dir.file("coms.cfg"));
}

bool reddish(const Rgb &c) { return c.r > 150 && c.g < 100; }
bool greenish(const Rgb &c) { return c.g > 150 && c.r < 100; }

// A first start: the defaults for the COM ports there, byte for byte the
// Linux build's; the countdown starts the run; every byte value at 9600
// baud into its file; the Quit button ends it with every byte kept.
TEST(WindowedLoggerUnderWine, FirstStartLogsEveryByteAndQuitButtonKeepsThem)
{
    const std::vector<int> ports = {1, 3, 12};
    const std::string expected = linux_defaults(ports);
    ASSERT_EQ(expected.size(), 288u);
    WineStation station(ports);
    ASSERT_TRUE(station.start()) << station.stderr_text();

    ASSERT_TRUE(eventually([&] { return read_file(station.in_start("coms.cfg")).size() == 288; }, kConfigMs));
    EXPECT_EQ(read_file(station.in_start("coms.cfg")), expected) << "not what the Linux build writes";
    ASSERT_TRUE(eventually([&] { return !station.data_files(12).empty(); }, kCountdownMs)) << "the countdown started no run";

    std::map<int, std::string> sent;
    for (int port : ports) {
        ASSERT_TRUE(station.await_reading(port, kBytesMs)) << "COM" << port;
        sent[port] = every_byte(4, port);
        station.pty(port).write(every_byte(4, port));
    }
    for (int port : ports)
        ASSERT_TRUE(station.recorded(port, sent[port].size(), kBytesMs))
            << "COM" << port << ": " << station.recording(port).size() << " of " << sent[port].size() << " bytes; "
            << station.stderr_text();
    if (std::getenv("VORN_WINDOWS_SCREENSHOT") != nullptr)
        station.screenshot(std::getenv("VORN_WINDOWS_SCREENSHOT"));
    station.click(kQuitButton.x, kQuitButton.y);
    EXPECT_EQ(station.wait_exit(kExitMs), 0) << station.stderr_text();

    for (int port : ports) {
        EXPECT_EQ(station.recording(port), sent[port]) << "COM" << port;
        ASSERT_EQ(station.data_files(port).size(), 1u) << "COM" << port;
        const std::string file = station.data_files(port)[0];
        expect_linux_name(file, port);
        expect_index_agrees(station, file);
    }
}

// Pauses with the button (the LED turns red), sends bytes that must never
// reach a file, resumes (green again) and sends more, which must; adds
// those to `sent`.
void pause_and_resume(WineStation &station, const std::vector<int> &ports, std::map<int, std::string> &sent)
{
    station.click(kPauseButton.x, kPauseButton.y);
    ASSERT_TRUE(eventually([&] { return reddish(station.pixel(kSlot1Led.x, kSlot1Led.y)); }, kBytesMs))
        << "the LED did not turn red";
    for (int port : ports)
        station.pty(port).write(std::string(300, 'P'));
    // Wine has taken them off the line; a few ticks then read them, paused.
    const auto drained = [&] {
        return std::all_of(ports.begin(), ports.end(), [&](int p) { return station.line_drained(p); });
    };
    ASSERT_TRUE(eventually(drained, kBytesMs));
    usleep(1500 * 1000);
    station.click(kPauseButton.x, kPauseButton.y);
    ASSERT_TRUE(eventually([&] { return greenish(station.pixel(kSlot1Led.x, kSlot1Led.y)); }, kBytesMs))
        << "the LED did not turn green again";
    for (int port : ports) {
        station.pty(port).write(every_byte(1, 99));
        sent[port] += every_byte(1, 99);
        ASSERT_TRUE(station.recorded(port, sent[port].size(), kBytesMs)) << "COM" << port;
    }
}

// Files every minute at 115200 and 9600 baud, started with the button: the
// files roll over at the change of the minute, nothing lost or doubled; a
// pause keeps what comes meanwhile out of the files, a resume writes again;
// closing the window ends the program with every byte kept.
TEST(WindowedLoggerUnderWine, MinuteFilesRollOverPauseResumeAndClosingTheWindowKeepsEveryByte)
{
    const std::vector<int> ports = {2, 5, 7};
    WineStation station(ports);
    std::vector<PortRecord> table(18, PortRecord{9600, 0, 0, 0});
    table[1] = {115200, 1, 1, 0};
    table[4] = {115200, 1, 2, 1};
    table[6] = {9600, 1, 3, 0};
    write_file(station.in_start("coms.cfg"), config_bytes(table));
    ASSERT_TRUE(station.start()) << station.stderr_text();

    station.click(kMinuteCheck.x, kMinuteCheck.y);
    station.click(kMinuteCount.x, kMinuteCount.y);
    ASSERT_EQ(shell("xdotool key ctrl+a type 1").status, 0);
    station.click(kStartButton.x, kStartButton.y);
    ASSERT_TRUE(eventually([&] { return !station.data_files(2).empty(); }, kBytesMs)) << "Start Logging started no run";

    // Bytes in chunks until every port has rolled over to its second file.
    std::map<int, std::string> sent;
    for (int port : ports) {
        ASSERT_TRUE(station.await_reading(port, kBytesMs)) << "COM" << port;
    }
    for (int chunk = 0; chunk < kRolloverMs / 750 && station.data_files(7).size() < 2; ++chunk)
        for (int port : ports) {
            const std::string bytes = every_byte(1, chunk + port);
            station.pty(port).write(bytes);
            sent[port] += bytes;
            usleep(250 * 1000);
        }
    for (int port : ports) {
        station.pty(port).write(every_byte(2, port));
        sent[port] += every_byte(2, port);
        ASSERT_TRUE(station.recorded(port, sent[port].size(), kBytesMs)) << "COM" << port;
        ASSERT_GE(station.data_files(port).size(), 2u) << "no rollover within " << kRolloverMs << " ms";
    }

    pause_and_resume(station, ports, sent);
    if (::testing::Test::HasFatalFailure())
        return;
    station.close_window();
    EXPECT_EQ(station.wait_exit(kExitMs), 0) << station.stderr_text();

    for (int port : ports) {
        EXPECT_EQ(station.recording(port), sent[port]) << "COM" << port << ": lost, doubled or paused bytes written";
        const std::vector<std::string> files = station.data_files(port);
        for (std::size_t i = 0; i < files.size(); ++i) {
            expect_linux_name(files[i], port);
            expect_index_agrees(station, files[i]);
            if (i > 0) {
                EXPECT_EQ(std::stoi(files[i].substr(8, 5)) % 60, 0) << files[i] << " was not begun at the minute";
            }
        }
    }
}

// A COM port nobody linked is greyed out in the configuration window, its
// reason beside it, and a click does not change it; Ctrl+C ends the run
// with every byte kept.
TEST(WindowedLoggerUnderWine, MissingPortGreyedOutAndCtrlCKeepsEveryByte)
{
    WineStation station({4});
    std::vector<PortRecord> table(18, PortRecord{9600, 0, 0, 0});
    table[3] = {9600, 1, 1, 0};
    write_file(station.in_start("coms.cfg"), config_bytes(table));
    ASSERT_TRUE(station.start()) << station.stderr_text();

    station.click(kConfigButton.x, kConfigButton.y);
    station.click_in(kConfigTitle, kLogSwitchX, config_row_y(6)); // COM6: not there
    station.click_in(kConfigTitle, kHexSwitchX, config_row_y(4)); // COM4: there
    EXPECT_GT(station.dark_pixels(kConfigTitle, kReasonX, config_row_y(6) - 10, kReasonWidth, 20), 20)
        << "no reason beside the missing COM6";
    EXPECT_EQ(station.dark_pixels(kConfigTitle, kReasonX, config_row_y(4) - 10, kReasonWidth, 20), 0)
        << "a reason beside COM4, which is there";
    const std::string before = read_file(station.in_start("coms.cfg"));
    station.click_in(kConfigTitle, kConfigClose.x, kConfigClose.y);
    ASSERT_TRUE(eventually([&] { return read_file(station.in_start("coms.cfg")) != before; }, kBytesMs))
        << "closing the configuration window saved nothing";
    table[3].hex = 1;
    EXPECT_EQ(read_file(station.in_start("coms.cfg")), config_bytes(table)) << "COM4 not changed, or COM6 changed";

    station.click(kStartButton.x, kStartButton.y);
    ASSERT_TRUE(station.await_reading(4, kBytesMs));
    const std::string sent = every_byte(8, 4);
    station.pty(4).write(every_byte(8, 4));
    ASSERT_TRUE(station.recorded(4, sent.size(), kBytesMs));
    station.interrupt();
    EXPECT_EQ(station.wait_exit(kExitMs), 0) << station.stderr_text();
    EXPECT_EQ(station.recording(4), sent);
}

// Runs a Windows program under wine to its end; its exit status. The
// installer copies the whole folder under wine, which a loaded machine may
// take minutes over; the limit is only there so that a hang fails the test.
int run_wine(const std::string &arguments)
{
    return shell("wine " + arguments + " >/dev/null 2>&1", 300000).status;
}

// A Linux path as Windows names it under wine (drive Z:), and that name as
// a shortcut file keeps it (UTF-16LE).
std::string windows_path(std::string path)
{
    for (char &c : path)
        c = c == '/' ? '\\' : c;
    return "Z:" + path;
}
std::string utf16le(const std::string &ascii)
{
    std::string wide;
    for (char c : ascii)
        wide += std::string{c, '\0'};
    return wide;
}

// The installer, silent: the program under Program Files, a shortcut that
// starts it in the data folder, an Apps & features entry; the installed
// program logs a COM port byte for byte in the data folder; the silent
// uninstaller removes the program and leaves the data.
TEST(WindowsInstallerUnderWine, InstallsLogsAndUninstallsLeavingTheData)
{
    const char *setup = std::getenv("VORN_WINDOWS_SETUP");
    ASSERT_NE(setup, nullptr) << "VORN_WINDOWS_SETUP is not set: run these tests with tools/windows-test.sh";
    const std::string prefix = std::getenv("WINEPREFIX");
    const std::string programDir = prefix + "/drive_c/Program Files/vornacq4";
    const std::string user = std::getenv("USER") != nullptr ? std::getenv("USER") : "root";
    const std::string menu =
        prefix + "/drive_c/users/" + user + "/AppData/Roaming/Microsoft/Windows/Start Menu/Programs/vornacq4.lnk";
    WineStation station({9}, programDir);
    const std::string dataDir = station.in_start("field-data");

    ASSERT_EQ(run_wine(std::string(setup) + " /S '/DATA=" + windows_path(dataDir) + "'"), 0);
    for (const char *file : {"vornacq4.exe", "vornacq4.uir", "vornacq4-when.exe", "Qt6Widgets.dll",
                             "platforms/qwindows.dll", "styles/qwindowsvistastyle.dll", "libstdc++-6.dll",
                             "licenses/Qt-LGPL-3.txt", "uninstall.exe"})
        EXPECT_TRUE(ptykit::file_exists(programDir + "/" + file)) << file;
    EXPECT_EQ(ptykit::file_exists(programDir + "/LICENSE"), ptykit::file_exists(VORN_SOURCE_DIR "/LICENSE"));
    EXPECT_NE(read_file(menu).find(utf16le(windows_path(dataDir))), std::string::npos)
        << "the shortcut does not start in the data folder";
    EXPECT_EQ(run_wine("reg query 'HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\vornacq4' "
                       "/v UninstallString"), 0) << "no Apps & features entry";

    std::vector<PortRecord> table(18, PortRecord{9600, 0, 0, 0});
    table[8] = {115200, 1, 1, 1};
    write_file(dataDir + "/coms.cfg", config_bytes(table));
    ASSERT_TRUE(station.start(dataDir)) << station.stderr_text();
    station.click(kStartButton.x, kStartButton.y);
    ASSERT_TRUE(station.await_reading(9, kBytesMs));
    const std::string sent = every_byte(4, 9);
    station.pty(9).write(every_byte(4, 9));
    ASSERT_TRUE(station.recorded(9, sent.size(), kBytesMs));
    station.click(kQuitButton.x, kQuitButton.y);
    EXPECT_EQ(station.wait_exit(kExitMs), 0) << station.stderr_text();
    EXPECT_EQ(station.recording(9), sent);

    // The uninstaller copies itself away and removes the folder from there.
    ASSERT_EQ(run_wine("'" + programDir + "/uninstall.exe' /S"), 0);
    EXPECT_TRUE(eventually([&] { return !ptykit::file_exists(programDir + "/vornacq4.exe"); }, kExitMs));
    EXPECT_FALSE(ptykit::file_exists(menu));
    EXPECT_NE(run_wine("reg query 'HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\vornacq4'"), 0);
    EXPECT_EQ(station.recording(9), sent) << "the uninstaller touched the data";
    EXPECT_EQ(read_file(dataDir + "/coms.cfg"), config_bytes(table));
}

} // namespace
