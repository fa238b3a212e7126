// The real program: start-up, the port table it saves, the automatic start of
// a run, and how it ends.
#include "logger_process.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <csignal>
#include <memory>
#include <regex>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

using testing_support::config_bytes;
using testing_support::eventually;
using testing_support::file_exists;
using testing_support::is_directory;
using testing_support::list_dir;
using testing_support::PortRecord;
using testing_support::Pty;
using testing_support::read_file;
using testing_support::TempDir;
using testing_support::write_file;

namespace {

// A directory holding the logger's start-up directory and its stderr.
class LoggerRun : public ::testing::Test {
protected:
    LoggerRun() : m_start(m_top.path() + "/start") { mkdir(m_start.c_str(), 0755); }

    // Ports listed get pseudo-terminals, ports in `missing` a path with no
    // device, every other port `none`.
    void map_ports(const std::vector<int> &ptyPorts, const std::vector<int> &missing = {})
    {
        std::map<int, std::string> paths;
        for (int port : ptyPorts) {
            m_ptys[port] = std::make_unique<Pty>();
            paths[port] = m_ptys[port]->path();
        }
        for (int port : missing)
            paths[port] = "/dev/serial/by-id/no-such-adapter-" + std::to_string(port);
        write_file(in_start("comports.map"), testing_support::port_map_text(paths));
    }

    LoggerProcess::Options options() const
    {
        LoggerProcess::Options o;
        o.startDir = m_start;
        o.stderrPath = m_top.path() + "/stderr.txt";
        return o;
    }

    std::string in_start(const std::string &name) const { return m_start + "/" + name; }
    Pty &pty(int port) { return *m_ptys.at(port); }
    std::string top() const { return m_top.path(); }

private:
    TempDir m_top;
    std::string m_start;
    std::map<int, std::unique_ptr<Pty>> m_ptys;
};

bool terminal_untouched(const Pty &pty)
{
    // A freshly made terminal is in line mode with echo; the logger's open
    // makes it raw. Still in line mode means the logger never opened it.
    termios tio{};
    return tcgetattr(pty.slave(), &tio) == 0 && (tio.c_lflag & ICANON) != 0;
}

constexpr int kStartupMs = 15000;
constexpr int kCountdownMs = 30000; // the countdown takes 12 s
constexpr int kExitMs = 10000;

} // namespace

TEST_F(LoggerRun, FirstStartSavesTheDefaultPortTableAndSigtermEndsCleanly)
{
    std::vector<int> present;
    for (int port = 1; port <= 18; ++port)
        if (port != 1 && port != 3 && port != 4)
            present.push_back(port);
    map_ports(present, {1, 3, 4});
    LoggerProcess::Options o = options();
    o.unset = {"XDG_RUNTIME_DIR"}; // as under a service manager
    LoggerProcess logger(o);
    ASSERT_TRUE(eventually([&] { return file_exists(in_start("coms.cfg")); }, kStartupMs))
        << logger.stderr_text();

    std::vector<PortRecord> expected(18, PortRecord{9600, 1, 0, 0});
    for (int port : {1, 3, 4})
        expected[port - 1] = {9600, 0, 0, 0};
    const int slotted[] = {2, 5, 6, 7, 8};
    for (int slot = 1; slot <= 5; ++slot)
        expected[slotted[slot - 1] - 1].slot = slot;
    const std::string saved = read_file(in_start("coms.cfg"));
    EXPECT_EQ(saved.size(), 288u);
    EXPECT_EQ(saved, config_bytes(expected));

    logger.signal(SIGTERM);
    EXPECT_EQ(logger.wait_exit(kExitMs), 0) << logger.stderr_text();
    EXPECT_EQ(logger.stderr_text(), "") << "a start without trouble says nothing";
    EXPECT_EQ(read_file(in_start("coms.cfg")), saved);
    EXPECT_EQ(list_dir(in_start("")), (std::vector<std::string>{"comports.map", "coms.cfg"}));
}

TEST_F(LoggerRun, EachTerminatingSignalEndsWithStatusZero)
{
    for (int sig : {SIGINT, SIGHUP}) {
        // coms.cfg appears once the logger has set up, handlers included.
        std::remove(in_start("coms.cfg").c_str());
        map_ports({});
        LoggerProcess logger(options());
        ASSERT_TRUE(eventually([&] { return file_exists(in_start("coms.cfg")); }, kStartupMs));
        logger.signal(sig);
        EXPECT_EQ(logger.wait_exit(kExitMs), 0) << "signal " << sig;
    }
}

TEST_F(LoggerRun, MissingPanelFileEndsAtOnceWithStatusMinusOneAndTouchesNothing)
{
    // The program looks for its panel beside itself: run a copy that has none.
    const std::string lonely = top() + "/vornacq4";
    write_file(lonely, read_file(VORNACQ4_BINARY));
    chmod(lonely.c_str(), 0755);
    map_ports({2, 5});
    LoggerProcess::Options o = options();
    o.binary = lonely;
    LoggerProcess logger(o);
    EXPECT_EQ(logger.wait_exit(kExitMs), 255);
    EXPECT_NE(logger.stderr_text().find("vornacq4.uir"), std::string::npos) << logger.stderr_text();
    EXPECT_FALSE(file_exists(in_start("coms.cfg")));
    EXPECT_TRUE(terminal_untouched(pty(2)));
    EXPECT_TRUE(terminal_untouched(pty(5)));
}

TEST_F(LoggerRun, NoDisplayEndsWithStatusMinusOneAndSaysHowToRunWithoutOne)
{
    map_ports({2});
    LoggerProcess::Options o = options();
    o.unset = {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"};
    LoggerProcess logger(o);
    EXPECT_EQ(logger.wait_exit(kExitMs), 255);
    EXPECT_NE(logger.stderr_text().find("QT_QPA_PLATFORM=offscreen"), std::string::npos) << logger.stderr_text();
    EXPECT_FALSE(file_exists(in_start("coms.cfg")));
    EXPECT_TRUE(terminal_untouched(pty(2)));
}

TEST_F(LoggerRun, CountdownStartsTheRunWithOneFilePerLoggedPortInTheDayDirectory)
{
    // Ports 2 (slot 1), 5 and 9 logged; 6 present but not logged; port 11 is
    // logged in coms.cfg but has no device.
    map_ports({2, 5, 6, 9});
    std::vector<PortRecord> table(18, PortRecord{9600, 0, 0, 0});
    table[2 - 1] = {9600, 1, 1, 0};
    table[5 - 1] = {19200, 1, 0, 0};
    table[9 - 1] = {115200, 1, 2, 1};
    table[11 - 1] = {9600, 1, 3, 0};
    write_file(in_start("coms.cfg"), config_bytes(table));

    LoggerProcess::Options o = options();
    o.fakeTime = "@2024-02-14 10:00:00"; // day 45; the clock runs on from there
    LoggerProcess logger(o);
    // Sent while the countdown runs: not part of the recording.
    ASSERT_TRUE(eventually([&] { return !terminal_untouched(pty(2)); }, kStartupMs)) << logger.stderr_text();
    pty(2).write("$GPGGA,before the run*00\r\n");

    const std::string day = in_start("D045");
    ASSERT_TRUE(eventually([&] { return list_dir(day).size() >= 3; }, kCountdownMs)) << logger.stderr_text();
    const std::vector<std::string> files = list_dir(day);
    ASSERT_EQ(files.size(), 3u);
    const std::regex name("045(\\d{5})\\.C(\\d\\d)");
    std::vector<std::string> ports;
    for (const std::string &f : files) {
        std::smatch m;
        ASSERT_TRUE(std::regex_match(f, m, name)) << f;
        const int seconds = std::stoi(m[1]);
        EXPECT_GE(seconds, 10 * 3600 + 10) << f << ": after a countdown of about 12 s";
        EXPECT_LE(seconds, 10 * 3600 + 60) << f;
        EXPECT_EQ(f.substr(0, 10), files[0].substr(0, 10)) << "one base for the whole set";
        ports.push_back(m[2]);
        EXPECT_EQ(read_file(day + "/" + f), "") << "nothing from before the start is logged";
    }
    EXPECT_EQ(ports, (std::vector<std::string>{"02", "05", "09"}));
    EXPECT_EQ(read_file(in_start("coms.cfg")), config_bytes(table)) << "a table read whole is not rewritten";

    logger.signal(SIGTERM);
    EXPECT_EQ(logger.wait_exit(kExitMs), 0) << logger.stderr_text();
}

TEST_F(LoggerRun, RecordsEveryByteAcrossMidnightAndAKill9LosesNothingThatArrivedBefore)
{
    // Port 2 logged hourly and shown as text; the wall clock runs ten times
    // fast from 23:57, so the run starts before midnight and crosses it.
    map_ports({2});
    std::vector<PortRecord> table(18, PortRecord{9600, 0, 0, 0});
    table[2 - 1] = {115200, 1, 1, 0};
    write_file(in_start("coms.cfg"), config_bytes(table));
    LoggerProcess::Options o = options();
    o.fakeTime = "@2024-02-14 23:57:00 x10";
    LoggerProcess logger(o);
    ASSERT_TRUE(eventually([&] { return list_dir(in_start("D045")).size() == 1; }, kCountdownMs))
        << logger.stderr_text();
    ::usleep(500 * 1000); // the ports are opened and flushed right after the files

    // Every byte value, zero bytes, CR and LF among them, for about 9 s.
    std::string block;
    for (int b = 0; b < 256; ++b)
        block += static_cast<char>(b);
    std::string sent;
    for (int i = 0; i < 90; ++i) {
        pty(2).write(block);
        sent += block;
        ::usleep(100 * 1000);
    }
    ::usleep(750 * 1000); // three ticks
    logger.signal(SIGKILL);
    EXPECT_EQ(logger.wait_exit(kExitMs), -1);

    std::string logged;
    for (const char *day : {"D045", "D046"}) {
        const std::vector<std::string> files = list_dir(in_start(day));
        ASSERT_EQ(files.size(), 1u) << day << " holds the file of its period";
        EXPECT_EQ(files[0].substr(0, 3), std::string(day).substr(1)) << files[0];
        const std::string data = in_start(day) + "/" + files[0];
        logged += read_file(data);
        // The index beside it tells when every byte came, and no more.
        int status = -1;
        const std::string size = std::to_string(read_file(data).size());
        const std::string summary = testing_support::command_line_output(
            std::string(VORNACQ4_WHEN_BINARY) + " check " + data, &status);
        EXPECT_EQ(status, 0) << summary;
        EXPECT_NE(summary.find("covering " + size + " bytes"), std::string::npos) << summary;
    }
    EXPECT_EQ(logged.size(), sent.size());
    EXPECT_TRUE(logged == sent) << "bytes lost, doubled or altered";
}

class HostileStartup : public LoggerRun, public ::testing::WithParamInterface<testing_support::Hostile> {};

TEST_P(HostileStartup, FilesThatAreNoPortTableOrMapNeitherHangNorStopIt)
{
    // What others may leave under both names in a shared start-up directory.
    const testing_support::Hostile kind = GetParam();
    testing_support::make_hostile(in_start("comports.map"), kind);
    testing_support::make_hostile(in_start("coms.cfg"), kind);
    LoggerProcess logger(options());
    // The map is read at the probe; SIGTERM then ends the program only if
    // the rest of the start-up does not hang.
    ASSERT_TRUE(eventually([&] { return logger.stderr_text().find("comports.map: ") != std::string::npos; },
                           kStartupMs))
        << logger.stderr_text();
    logger.signal(SIGTERM);
    EXPECT_EQ(logger.wait_exit(kExitMs), 0) << logger.stderr_text();

    struct stat st;
    ASSERT_EQ(lstat(in_start("coms.cfg").c_str(), &st), 0);
    switch (kind) {
    case testing_support::Hostile::Fifo:
    case testing_support::Hostile::DeviceLink:
        // Replaced by the defaults (no port used), the link itself, not through it.
        EXPECT_TRUE(S_ISREG(st.st_mode));
        EXPECT_EQ(read_file(in_start("coms.cfg")), config_bytes(std::vector<PortRecord>(18, {9600, 0, 0, 0})));
        break;
    case testing_support::Hostile::Directory: EXPECT_TRUE(S_ISDIR(st.st_mode)); break;
    case testing_support::Hostile::Huge: EXPECT_EQ(st.st_size, 100L * 1024 * 1024) << "read, not rewritten"; break;
    }
    EXPECT_FALSE(file_exists(in_start("coms.cfg.new")));
}

INSTANTIATE_TEST_SUITE_P(Kinds, HostileStartup, ::testing::ValuesIn(testing_support::all_hostile()),
                         [](const auto &info) { return std::string(testing_support::hostile_name(info.param)); });
