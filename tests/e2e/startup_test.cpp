// The real program starting and ending: the port table it saves at a first
// start, the signals that end it, what ends it at once (no panel, no
// display), and start-up files that are no port table or map.
#include "logger_station.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <sys/stat.h>

using testing_support::config_bytes;
using testing_support::eventually;
using testing_support::file_exists;
using testing_support::list_dir;
using testing_support::PortRecord;
using testing_support::read_file;
using testing_support::write_file;

using LoggerRun = Station;

TEST_F(LoggerRun, FirstStartSavesTheDefaultPortTableAndSigtermEndsCleanly)
{
    std::vector<int> present;
    for (int port = 1; port <= 18; ++port)
        if (port != 1 && port != 3 && port != 4)
            present.push_back(port);
    map_ports(present, {1, 3, 4});
    LoggerProcess::Options o = options();
    o.unset = {"XDG_RUNTIME_DIR"}; // as under a service manager
    LoggerProcess &logger = start_logger(o);
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

    EXPECT_EQ(stop_logger(), 0) << logger.stderr_text();
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
        LoggerProcess &logger = start_logger(options());
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
    LoggerProcess &logger = start_logger(o);
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
    LoggerProcess &logger = start_logger(o);
    EXPECT_EQ(logger.wait_exit(kExitMs), 255);
    EXPECT_NE(logger.stderr_text().find("QT_QPA_PLATFORM=offscreen"), std::string::npos) << logger.stderr_text();
    EXPECT_FALSE(file_exists(in_start("coms.cfg")));
    EXPECT_TRUE(terminal_untouched(pty(2)));
}

class HostileStartup : public LoggerRun, public ::testing::WithParamInterface<testing_support::Hostile> {};

TEST_P(HostileStartup, FilesThatAreNoPortTableOrMapNeitherHangNorStopIt)
{
    // What others may leave under these names in a shared start-up directory.
    const testing_support::Hostile kind = GetParam();
    testing_support::make_hostile(in_start("comports.map"), kind);
    testing_support::make_hostile(in_start("coms.cfg"), kind);
    testing_support::make_hostile(in_start("network.map"), kind);
    LoggerProcess &logger = start_logger(options());
    ASSERT_TRUE(eventually([&] { return logger.stderr_text().find("network.map: ") != std::string::npos; },
                           kStartupMs))
        << "read at once, never waited on: " << logger.stderr_text();
    // The map is read at the probe; SIGTERM then ends the program only if
    // the rest of the start-up does not hang.
    ASSERT_TRUE(eventually([&] { return logger.stderr_text().find("comports.map: ") != std::string::npos; },
                           kStartupMs))
        << logger.stderr_text();
    EXPECT_EQ(stop_logger(), 0) << logger.stderr_text();

    struct stat st;
    ASSERT_EQ(lstat(in_start("coms.cfg").c_str(), &st), 0);
    switch (kind) {
    case testing_support::Hostile::Fifo:
    case testing_support::Hostile::DeviceLink:
        // Replaced by the defaults (no port used), the link itself, not through it.
        EXPECT_TRUE(S_ISREG(st.st_mode));
        EXPECT_EQ(read_file(in_start("coms.cfg")), config_bytes(testing_support::port_table()));
        break;
    case testing_support::Hostile::Directory: EXPECT_TRUE(S_ISDIR(st.st_mode)); break;
    case testing_support::Hostile::Huge: EXPECT_EQ(st.st_size, 100L * 1024 * 1024) << "read, not rewritten"; break;
    }
    EXPECT_FALSE(file_exists(in_start("coms.cfg.new")));
}

INSTANTIATE_TEST_SUITE_P(Kinds, HostileStartup, ::testing::ValuesIn(testing_support::all_hostile()),
                         [](const auto &info) { return std::string(testing_support::hostile_name(info.param)); });
