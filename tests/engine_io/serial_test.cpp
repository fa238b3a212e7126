// Serial ports on real pseudo-terminals: what the instrument sends must reach
// the program byte for byte, whatever the engine's queue and the terminal's
// buffer are doing.
#include "engine.h"
#include "engine_seams.h"
#include "io_helpers.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <functional>
#include <memory>
#include <set>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

using io_test::pattern;
using io_test::read_port;
using io_test::eventually;
using testing_support::PortRig;
using testing_support::TempDir;

namespace {

std::string all_byte_values()
{
    std::string bytes(256, '\0');
    for (int i = 0; i < 256; ++i)
        bytes[static_cast<std::size_t>(i)] = static_cast<char>(i);
    return bytes;
}

// Leaves the device in the state a terminal program might have left it:
// line editing, echo, signals, CR/LF translation, XON/XOFF, parity stripping.
void make_cooked(const std::string &path)
{
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(fd, 0);
    termios tio{};
    ASSERT_EQ(tcgetattr(fd, &tio), 0);
    tio.c_iflag |= ICRNL | INLCR | IGNCR | ISTRIP | IXON | IXOFF | IUCLC;
    tio.c_lflag |= ICANON | ECHO | ECHOE | ISIG | IEXTEN;
    tio.c_oflag |= OPOST | ONLCR;
    ASSERT_EQ(tcsetattr(fd, TCSANOW, &tio), 0);
    ::close(fd);
}

} // namespace

// --- Bytes unaltered

class SerialRate : public ::testing::TestWithParam<long> {};

TEST_P(SerialRate, DeliversEveryByteValueUnalteredAndInOrder)
{
    TempDir dir;
    PortRig rig({3});
    make_cooked(rig.pty(3).path());
    ASSERT_EQ(OpenComConfig(3, "", GetParam(), 0, 8, 1, COM_QUEUE_MAX, 512), 0);

    const std::string sent = all_byte_values() + all_byte_values();
    rig.pty(3).write(sent);
    EXPECT_EQ(read_port(3, sent.size()), sent);
    // Raw mode echoes nothing back to the instrument.
    EXPECT_FALSE(io_test::master_readable(rig.pty(3).master(), 0));
    EXPECT_EQ(CloseCom(3), 0);
}

INSTANTIATE_TEST_SUITE_P(Rates, SerialRate, ::testing::Values(110L, 9600L, 115200L));

TEST(SerialSettings, AcceptsEveryRateOfThePortTable)
{
    TempDir dir;
    PortRig rig({1});
    for (long baud : {110L, 300L, 600L, 1200L, 2400L, 4800L, 9600L, 19200L, 38400L, 57600L, 115200L}) {
        EXPECT_EQ(OpenComConfig(1, "", baud, 0, 8, 1, COM_QUEUE_MAX, 512), 0) << baud;
        EXPECT_EQ(GetInQLen(1), 0) << baud;
        EXPECT_EQ(CloseCom(1), 0) << baud;
    }
}

struct BadSetting {
    const char *what;
    long baud;
    int parity, dataBits, stopBits;
};

// Names the case in test listings instead of dumping its bytes.
void PrintTo(const BadSetting &c, std::ostream *out)
{
    *out << c.what;
}

class SerialBadSetting : public ::testing::TestWithParam<BadSetting> {};

TEST_P(SerialBadSetting, IsRefusedAndLeavesThePortClosed)
{
    const BadSetting &s = GetParam();
    TempDir dir;
    PortRig rig({2});
    DisableBreakOnLibraryErrors();
    // Open first: a refused reconfiguration must not leave the old port open.
    ASSERT_EQ(OpenCom(2, ""), 0);
    EXPECT_EQ(OpenComConfig(2, "", s.baud, s.parity, s.dataBits, s.stopBits, 0, 0), COM_ERR_BAD_SETTING);
    EXPECT_EQ(GetInQLen(2), COM_ERR_NOT_OPEN);
    EXPECT_EQ(CloseCom(2), COM_ERR_NOT_OPEN);
}

INSTANTIATE_TEST_SUITE_P(Settings, SerialBadSetting,
                         ::testing::Values(BadSetting{"rate", 12345, 0, 8, 1},
                                           BadSetting{"parity", 9600, 5, 8, 1},
                                           BadSetting{"fourDataBits", 9600, 0, 4, 1},
                                           BadSetting{"nineDataBits", 9600, 0, 9, 1},
                                           BadSetting{"stopBits", 9600, 0, 8, 3}),
                         [](const auto &info) { return std::string(info.param.what); });

// --- The input queue

// The smallest budget for the backlogs, for one test; the default after it.
struct SmallBudget {
    SmallBudget() { SetComBacklogBudget(COM_BACKLOG_BUDGET_MIN); }
    ~SmallBudget() { SetComBacklogBudget(COM_BACKLOG_BUDGET_DEFAULT); }
};

TEST(SerialQueue, ShowsAtMostItsSizeKeepsABacklogThenHoldsBackAWriterWithFlowControl)
{
    TempDir dir;
    PortRig rig({4});
    SmallBudget budget;
    ASSERT_EQ(OpenCom(4, ""), 0);
    // RTS/CTS: a pseudo-terminal has no such lines, but XON/XOFF would take
    // the pattern's own XON and XOFF bytes out of the stream.
    ASSERT_EQ(SetCTSMode(4, 1), 0);
    const std::size_t held = COM_QUEUE_MAX + COM_BACKLOG_BUDGET_MIN;
    const std::string sent = pattern(held + 100000);
    io_test::Writer writer(rig.pty(4).master(), sent, 65536);

    // Nobody reads: the queue shows its bound while the backlog takes the
    // rest, and once the budget is spent the writer waits, as on a real line.
    ASSERT_TRUE(eventually([&] { return writer.written() >= held; }, 20000)) << writer.written();
    EXPECT_EQ(GetInQLen(4), COM_QUEUE_MAX);
    ASSERT_TRUE(eventually([] {
        ComStatus s{};
        return GetComStatus(4, &s) == 0 && s.held_seconds >= 0.3;
    }));
    EXPECT_FALSE(writer.finished());

    const std::string got = read_port(4, sent.size(), 20000);
    writer.stop();
    EXPECT_EQ(got.size(), sent.size());
    EXPECT_TRUE(got == sent) << "bytes lost, doubled or reordered";
    ComStatus s{};
    ASSERT_EQ(GetComStatus(4, &s), 0);
    EXPECT_EQ(s.dropped, 0);
}

// Without flow control the device is read on once the budget is spent (the
// kernel would drop its bytes without a word): what cannot be kept is
// counted to the byte and marked as a gap where it was.
TEST(SerialQueue, CountsAndMarksWhatItCannotKeepWithoutFlowControl)
{
    TempDir dir;
    PortRig rig({4});
    SmallBudget budget;
    ASSERT_EQ(OpenCom(4, ""), 0);
    const std::size_t kept = COM_QUEUE_MAX + COM_BACKLOG_BUDGET_MIN;
    const std::string sent = pattern(kept + 300000);
    io_test::Writer writer(rig.pty(4).master(), sent, 65536);
    ASSERT_TRUE(eventually([&] { return writer.finished(); }, 20000)) << writer.written();
    ComStatus s{};
    ASSERT_TRUE(eventually([&] { return GetComStatus(4, &s) == 0 && s.bytes == static_cast<long long>(sent.size()); }));
    EXPECT_EQ(s.dropped, static_cast<long long>(sent.size() - kept));
    EXPECT_EQ(s.dropping, 1);

    // The queue and the backlog hand over the first bytes, the marks the gap
    // right after them.
    std::string got(kept, '\0');
    ASSERT_EQ(ComRd(4, &got[0], static_cast<int>(kept)), static_cast<int>(kept));
    EXPECT_TRUE(got == sent.substr(0, kept)) << "the bytes kept are not the first ones sent";
    std::vector<ComArrival> marks(COM_ARRIVALS_MAX);
    const int n = ComRdArrivals(4, marks.data(), COM_ARRIVALS_MAX);
    ASSERT_GT(n, 1);
    long long bytes = 0, gaps = 0;
    for (int i = 0; i + 1 < n; ++i) {
        bytes += marks[static_cast<std::size_t>(i)].count;
        gaps += marks[static_cast<std::size_t>(i)].gap;
    }
    EXPECT_EQ(bytes, static_cast<long long>(kept));
    EXPECT_EQ(gaps, 0) << "a gap among the bytes kept";
    const ComArrival &gap = marks[static_cast<std::size_t>(n - 1)];
    EXPECT_EQ(gap.gap, 1);
    EXPECT_EQ(gap.count, static_cast<int>(sent.size() - kept));
    EXPECT_LE(gap.first, gap.last);
}

TEST(SerialQueue, HandsOverWhenEachReadArrivedWithTheBytes)
{
    TempDir dir;
    PortRig rig({5});
    ASSERT_EQ(OpenCom(5, ""), 0);
    const auto wall_us = [] {
        return std::chrono::duration_cast<std::chrono::microseconds>(
                   std::chrono::system_clock::now().time_since_epoch()).count();
    };
    // Each read is marked after its bytes were written and before the
    // queue shows them.
    const long long sentA = wall_us();
    rig.pty(5).write("first burst;");
    ASSERT_TRUE(eventually([] { return GetInQLen(5) == 12; }));
    const long long queuedA = wall_us();
    ::usleep(200 * 1000);
    const long long sentB = wall_us();
    rig.pty(5).write("second;");
    ASSERT_TRUE(eventually([] { return GetInQLen(5) == 19; }));
    const long long queuedB = wall_us();

    // Taken in two reads that split the second burst.
    char buffer[32];
    ComArrival marks[4];
    ASSERT_EQ(ComRd(5, buffer, 15), 15);
    ASSERT_EQ(ComRdArrivals(5, marks, 4), 2);
    EXPECT_EQ(marks[0].count, 12);
    EXPECT_EQ(marks[1].count, 3);
    EXPECT_TRUE(marks[0].first >= sentA && marks[0].first <= queuedA) << marks[0].first - sentA;
    EXPECT_TRUE(marks[1].first >= sentB && marks[1].first <= queuedB) << marks[1].first - sentB;
    ASSERT_EQ(ComRd(5, buffer, 4), 4);
    ASSERT_EQ(ComRdArrivals(5, marks, 4), 1);
    EXPECT_EQ(marks[0].count, 4);
    EXPECT_TRUE(marks[0].first >= sentB && marks[0].first <= queuedB) << marks[0].first - sentB;
}

TEST(SerialQueue, FillsWhileTheProgramCallsNothing)
{
    TempDir dir;
    PortRig rig({5});
    ASSERT_EQ(OpenCom(5, ""), 0);
    // Only the engine's own reader thread moves bytes into the queue; the
    // test merely looks at its length.
    const std::string sent = pattern(20000);
    io_test::Writer writer(rig.pty(5).master(), sent);
    ASSERT_TRUE(eventually([] { return GetInQLen(5) == 20000; }));
    std::string got(20000, '\0');
    ASSERT_EQ(ComRd(5, &got[0], 20000), 20000);
    EXPECT_TRUE(got == sent);
}

TEST(SerialQueue, ReadOfMoreThanIsWaitingReturnsWhatCameAfterTheTimeOut)
{
    TempDir dir;
    PortRig rig({6});
    ASSERT_EQ(OpenCom(6, ""), 0);
    ASSERT_EQ(SetComTime(6, 0.2), 0);
    rig.pty(6).write("$GPGGA,1");
    ASSERT_TRUE(eventually([] { return GetInQLen(6) == 8; }));
    char buffer[100];
    ASSERT_EQ(ComRd(6, buffer, sizeof buffer), 8);
    EXPECT_EQ(std::string(buffer, 8), "$GPGGA,1");
    EXPECT_EQ(GetInQLen(6), 0);
}

TEST(SerialQueue, SmallerQueueIsBoundedBySize)
{
    TempDir dir;
    PortRig rig({7});
    ASSERT_EQ(OpenComConfig(7, "", 9600, 0, 8, 1, 100, 0), 0);
    const std::string sent = pattern(250);
    io_test::Writer writer(rig.pty(7).master(), sent);
    ASSERT_TRUE(eventually([] { return GetInQLen(7) == 100; }));
    EXPECT_EQ(read_port(7, sent.size()), sent);
}

// --- Flushing

TEST(SerialFlush, DiscardsQueuedBackloggedAndKernelBufferedBytes)
{
    TempDir dir;
    PortRig rig({8});
    // A second descriptor of the device to watch the terminal's own buffer.
    const int watch = ::open(rig.pty(8).path().c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(watch, 0);
    SmallBudget budget;
    ASSERT_EQ(OpenComConfig(8, "", 9600, 0, 8, 1, 100, 0), 0);
    ASSERT_EQ(SetCTSMode(8, 1), 0); // held back, not dropped, when the budget is spent

    // 100 old bytes fill the queue, a full backlog waits behind them, and 500
    // more wait in the kernel.
    io_test::Writer writer(rig.pty(8).master(), std::string(100 + COM_BACKLOG_BUDGET_MIN + 500, 'o'), 65536);
    ASSERT_TRUE(eventually([&] { return writer.finished(); }, 20000));
    ASSERT_TRUE(eventually([&] { return io_test::kernel_input_bytes(watch) == 500; }));
    EXPECT_EQ(GetInQLen(8), 100);

    ASSERT_EQ(FlushInQ(8), 0);
    EXPECT_EQ(GetInQLen(8), 0);
    EXPECT_EQ(io_test::kernel_input_bytes(watch), 0);

    rig.pty(8).write(std::string(50, 'n'));
    ASSERT_EQ(SetComTime(8, 0.2), 0);
    ASSERT_TRUE(eventually([] { return GetInQLen(8) >= 50; }));
    char buffer[200];
    const int n = ComRd(8, buffer, sizeof buffer);
    EXPECT_EQ(std::string(buffer, static_cast<std::size_t>(std::max(n, 0))), std::string(50, 'n'));
    ::close(watch);
}

TEST(SerialFlush, OpenDiscardsWhatTheDeviceSentBefore)
{
    TempDir dir;
    PortRig rig({9});
    const int watch = ::open(rig.pty(9).path().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(watch, 0);
    termios tio{};
    ASSERT_EQ(tcgetattr(watch, &tio), 0);
    cfmakeraw(&tio);
    ASSERT_EQ(tcsetattr(watch, TCSANOW, &tio), 0);
    rig.pty(9).write("stale bytes");
    ASSERT_TRUE(eventually([&] { return io_test::kernel_input_bytes(watch) == 11; }));

    ASSERT_EQ(OpenCom(9, ""), 0);
    rig.pty(9).write("fresh");
    ASSERT_EQ(SetComTime(9, 0.2), 0);
    ASSERT_TRUE(eventually([] { return GetInQLen(9) >= 5; }));
    char buffer[64];
    const int n = ComRd(9, buffer, sizeof buffer);
    EXPECT_EQ(std::string(buffer, static_cast<std::size_t>(std::max(n, 0))), "fresh");
    ::close(watch);
}

// --- Opening and closing

TEST(SerialOpen, ClosedPortCanBeOpenedAgainByUsAndByOthers)
{
    TempDir dir;
    PortRig rig({10});
    // Each time the engine's reader has been waiting on the device before it
    // is closed, as it is in a running logger.
    ASSERT_EQ(OpenCom(10, ""), 0);
    rig.pty(10).write("first");
    EXPECT_EQ(read_port(10, 5), "first");
    ASSERT_EQ(CloseCom(10), 0);
    ASSERT_EQ(OpenCom(10, ""), 0);
    rig.pty(10).write("again");
    EXPECT_EQ(read_port(10, 5), "again");
    ASSERT_EQ(CloseCom(10), 0);

    // Another program gets the device, exclusive lock and all.
    const int other = ::open(rig.pty(10).path().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(other, 0);
    EXPECT_EQ(flock(other, LOCK_EX | LOCK_NB), 0);
    int exclusive = -1;
    ASSERT_EQ(ioctl(other, TIOCGEXCL, &exclusive), 0);
    EXPECT_EQ(exclusive, 0);
    ::close(other);
}

TEST(SerialOpen, OpenPortIsExclusive)
{
    TempDir dir;
    PortRig rig({11});
    ASSERT_EQ(OpenCom(11, ""), 0);
    const int other = ::open(rig.pty(11).path().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    // Without privileges the terminal refuses a second open; with them the
    // lock still tells.
    if (other >= 0) {
        EXPECT_NE(flock(other, LOCK_EX | LOCK_NB), 0);
        int exclusive = 0;
        ASSERT_EQ(ioctl(other, TIOCGEXCL, &exclusive), 0);
        EXPECT_EQ(exclusive, 1);
        ::close(other);
    } else {
        EXPECT_EQ(errno, EBUSY);
    }
}

TEST(SerialOpen, TerminalAnotherProgramHoldsExclusivelyIsBusyAndStaysItsOwn)
{
    TempDir dir;
    PortRig rig({11});
    // The other program: exclusive mode, no lock (root's open would pass it).
    ASSERT_EQ(ioctl(rig.pty(11).slave(), TIOCEXCL), 0);
    DisableBreakOnLibraryErrors();
    EXPECT_EQ(OpenCom(11, ""), COM_ERR_BUSY);
    EnableBreakOnLibraryErrors();
    int exclusive = 0;
    ASSERT_EQ(ioctl(rig.pty(11).slave(), TIOCGEXCL, &exclusive), 0);
    EXPECT_EQ(exclusive, 1) << "its exclusive mode was ended";
    ioctl(rig.pty(11).slave(), TIOCNXCL);
}

TEST(SerialOpen, ReopeningAnOpenPortStartsAFreshQueue)
{
    TempDir dir;
    PortRig rig({12});
    ASSERT_EQ(OpenCom(12, ""), 0);
    rig.pty(12).write("old");
    ASSERT_TRUE(eventually([] { return GetInQLen(12) == 3; }));
    ASSERT_EQ(OpenComConfig(12, "", 115200, 0, 8, 1, 0, 0), 0);
    EXPECT_EQ(GetInQLen(12), 0);
    rig.pty(12).write("new");
    EXPECT_EQ(read_port(12, 3), "new");
}

TEST(SerialOpen, DeviceNameComNResolvesThroughThePortMap)
{
    TempDir dir;
    PortRig rig({13});
    ASSERT_EQ(OpenCom(1, "COM13"), 0);
    rig.pty(13).write("via COM13");
    EXPECT_EQ(read_port(1, 9), "via COM13");
    EXPECT_EQ(OpenCom(2, rig.pty(13).path().c_str()), COM_ERR_BUSY);
}

// --- Errors

struct OpenFailure {
    const char *what;
    std::function<std::string(testing_support::Pty &)> device; // the path COM3 is mapped to
    int expected;
};

// Names the case in test listings instead of dumping its bytes.
void PrintTo(const OpenFailure &c, std::ostream *out)
{
    *out << c.what;
}

class SerialOpenFailure : public ::testing::TestWithParam<OpenFailure> {};

TEST_P(SerialOpenFailure, GivesItsOwnCodeAndLeavesThePortClosed)
{
    const OpenFailure &f = GetParam();
    TempDir dir;
    testing_support::Pty pty;
    const std::string device = f.device(pty);
    testing_support::write_file("comports.map",
                                testing_support::port_map_text({{3, device}}));
    SeamReloadPortMap();
    EXPECT_EQ(OpenCom(3, ""), f.expected);
    EXPECT_EQ(GetInQLen(3), COM_ERR_NOT_OPEN);
}

INSTANTIATE_TEST_SUITE_P(
    Causes, SerialOpenFailure,
    ::testing::Values(
        OpenFailure{"MissingDevice", [](testing_support::Pty &) { return std::string("/nonexistent/ttyUSB0"); },
                    COM_ERR_NO_DEVICE},
        OpenFailure{"PathThroughAPlainFile",
                    [](testing_support::Pty &) {
                        testing_support::write_file("plain", "not a directory");
                        return std::string("plain/ttyUSB0");
                    },
                    COM_ERR_NO_DEVICE},
        OpenFailure{"MarkedNone", [](testing_support::Pty &) { return std::string("none"); }, COM_ERR_NO_DEVICE},
        OpenFailure{"RegularFile",
                    [](testing_support::Pty &) {
                        testing_support::write_file("plain", "not a terminal");
                        char cwd[4096];
                        return std::string(getcwd(cwd, sizeof cwd)) + "/plain";
                    },
                    COM_ERR_NOT_SERIAL},
        OpenFailure{"DevNull", [](testing_support::Pty &) { return std::string("/dev/null"); }, COM_ERR_NOT_SERIAL},
        OpenFailure{"Directory", [](testing_support::Pty &) { return std::string("/tmp"); }, COM_ERR_NOT_SERIAL},
        OpenFailure{"LockedByAnotherProgram",
                    [](testing_support::Pty &pty) {
                        // Another program's descriptor, locked as serial programs do;
                        // it goes with the test process.
                        static int fd = -1;
                        fd = ::open(pty.path().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
                        EXPECT_EQ(flock(fd, LOCK_EX | LOCK_NB), 0);
                        return pty.path();
                    },
                    COM_ERR_BUSY}),
    [](const auto &info) { return std::string(info.param.what); });

TEST(SerialErrors, SameDeviceUnderTwoPortNumbersIsBusy)
{
    TempDir dir;
    testing_support::Pty pty;
    testing_support::write_file("comports.map",
                                testing_support::port_map_text({{1, pty.path()}, {2, pty.path()}}));
    SeamReloadPortMap();
    ASSERT_EQ(OpenCom(1, ""), 0);
    EXPECT_EQ(OpenCom(2, ""), COM_ERR_BUSY);
    EXPECT_EQ(GetInQLen(2), COM_ERR_NOT_OPEN);
    // The first stays open and working.
    pty.write("one");
    EXPECT_EQ(read_port(1, 3), "one");
}

namespace {

// OpenCom of a device the caller may not open; returns the code.
int open_forbidden(const std::string &path)
{
    DisableBreakOnLibraryErrors();
    return OpenCom(1, path.c_str());
}

} // namespace

TEST(SerialErrors, DeviceWithoutPermissionIsRefused)
{
    TempDir dir;
    PortRig rig({});
    testing_support::Pty pty;
    ASSERT_EQ(chmod(pty.path().c_str(), 0), 0);
    if (geteuid() != 0) {
        EXPECT_EQ(open_forbidden(pty.path()), COM_ERR_PERMISSION);
        return;
    }
    // Privileges open anything: try it as an ordinary user in a child.
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (setgid(65534) != 0 || setuid(65534) != 0)
            _exit(100);
        _exit(open_forbidden(pty.path()) == COM_ERR_PERMISSION ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    ASSERT_NE(WEXITSTATUS(status), 100) << "cannot drop privileges here";
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

TEST(SerialErrors, PortNumbersOutsideOneToEighteenAreRefused)
{
    TempDir dir;
    PortRig rig({});
    DisableBreakOnLibraryErrors();
    char buffer[4];
    for (int port : {0, 19, -1}) {
        EXPECT_EQ(OpenCom(port, ""), COM_ERR_BAD_PORT) << port;
        EXPECT_EQ(OpenComConfig(port, "", 9600, 0, 8, 1, 0, 0), COM_ERR_BAD_PORT) << port;
        EXPECT_EQ(CloseCom(port), COM_ERR_BAD_PORT) << port;
        EXPECT_EQ(GetInQLen(port), COM_ERR_BAD_PORT) << port;
        EXPECT_EQ(ComRd(port, buffer, 4), COM_ERR_BAD_PORT) << port;
        EXPECT_EQ(FlushInQ(port), COM_ERR_BAD_PORT) << port;
        EXPECT_EQ(SetComTime(port, 1.0), COM_ERR_BAD_PORT) << port;
    }
}

TEST(SerialErrors, OperationsOnAClosedPortSayNotOpen)
{
    TempDir dir;
    PortRig rig({14});
    DisableBreakOnLibraryErrors();
    char buffer[4];
    EXPECT_EQ(GetInQLen(14), COM_ERR_NOT_OPEN);
    EXPECT_EQ(ComRd(14, buffer, 4), COM_ERR_NOT_OPEN);
    EXPECT_EQ(FlushInQ(14), COM_ERR_NOT_OPEN);
    EXPECT_EQ(CloseCom(14), COM_ERR_NOT_OPEN);
    EXPECT_EQ(SetComTime(14, 1.0), COM_ERR_NOT_OPEN);
    EXPECT_EQ(SetXMode(14, 0), COM_ERR_NOT_OPEN);
    EXPECT_EQ(SetCTSMode(14, 0), COM_ERR_NOT_OPEN);
    // Also once it has been open.
    ASSERT_EQ(OpenCom(14, ""), 0);
    ASSERT_EQ(CloseCom(14), 0);
    EXPECT_EQ(GetInQLen(14), COM_ERR_NOT_OPEN);
    EXPECT_EQ(CloseCom(14), COM_ERR_NOT_OPEN);
}

TEST(SerialErrors, ErrorTextsAreDistinct)
{
    const int codes[] = {COM_ERR_SYSTEM,     COM_ERR_BAD_PORT, COM_ERR_NOT_OPEN,
                         COM_ERR_NO_DEVICE,  COM_ERR_PERMISSION, COM_ERR_BUSY,
                         COM_ERR_NOT_SERIAL, COM_ERR_BAD_SETTING, COM_ERR_DEVICE_GONE,
                         COM_ERR_OTHER_DEVICE};
    std::set<std::string> texts;
    for (int code : codes)
        texts.insert(ComErrorText(code));
    EXPECT_EQ(texts.size(), sizeof codes / sizeof codes[0]);
    EXPECT_EQ(texts.count(ComErrorText(12345)), 0u);
}

// --- A device that goes away

TEST(SerialGone, QueuedBytesAreDeliveredBeforeTheDeviceIsReportedGone)
{
    TempDir dir;
    PortRig rig({15});
    ASSERT_EQ(OpenCom(15, ""), 0);
    ASSERT_EQ(SetComTime(15, 2.0), 0);
    const std::string sent = pattern(100);
    rig.pty(15).write(sent);
    ASSERT_TRUE(eventually([] { return GetInQLen(15) == 100; }));

    rig.pty(15).close(); // the adapter is pulled out
    EXPECT_EQ(GetInQLen(15), 100);
    // Asking for more than is left returns once the device has gone.
    std::string got(101, '\0');
    ASSERT_EQ(ComRd(15, &got[0], 101), 100);
    got.resize(100);
    EXPECT_TRUE(got == sent);
    EXPECT_TRUE(eventually([] { return GetInQLen(15) == COM_ERR_DEVICE_GONE; }));
    EXPECT_EQ(ComRd(15, &got[0], 1), COM_ERR_DEVICE_GONE);
    EXPECT_EQ(CloseCom(15), 0);
    EXPECT_EQ(GetInQLen(15), COM_ERR_NOT_OPEN);
}

TEST(SerialGone, ReplugOfTheSameDeviceNameResumesTheStream)
{
    // comports.map names the adapter by a stable link, as /dev/serial/by-id
    // does; when it is pulled out and plugged back in, the link points to a
    // new terminal.
    TempDir dir;
    auto before = std::make_unique<testing_support::Pty>();
    const std::string link = dir.file("usb-adapter");
    ASSERT_EQ(symlink(before->path().c_str(), link.c_str()), 0);
    testing_support::write_file("comports.map", testing_support::port_map_text({{6, link}}));
    SeamReloadPortMap();
    ASSERT_EQ(OpenCom(6, ""), 0);
    before->write("first ");
    ASSERT_EQ(read_port(6, 6), "first ");

    before->close(); // pulled out
    ASSERT_TRUE(eventually([] { return GetInQLen(6) == COM_ERR_DEVICE_GONE; }));
    testing_support::Pty after; // plugged back in
    ASSERT_EQ(unlink(link.c_str()), 0);
    ASSERT_EQ(symlink(after.path().c_str(), link.c_str()), 0);
    // Reopened within a few seconds: the queue answers again.
    ASSERT_TRUE(eventually([] { return GetInQLen(6) == 0; }, 5000));
    after.write("second");
    EXPECT_EQ(read_port(6, 6), "second");
    CloseCom(6);
}

TEST(SerialGone, AnotherDeviceUnderTheNameIsLeftAloneUntilItsOwnReturns)
{
    // COM6 is mapped to a name like /dev/ttyUSB0, which the system gives to
    // whichever adapter comes first. Each adapter tells who it is, as a USB
    // serial number does.
    TempDir dir;
    auto own = std::make_unique<testing_support::Pty>();
    const std::string name = dir.file("ttyUSB0");
    auto plug = [&](const testing_support::Pty &device) {
        unlink(name.c_str());
        ASSERT_EQ(symlink(device.path().c_str(), name.c_str()), 0);
    };
    plug(*own);
    SeamSetDeviceIdentity(own->path(), "usb 0403:6001 serial OWN");
    testing_support::write_file("comports.map", testing_support::port_map_text({{6, name}}));
    SeamReloadPortMap();
    ASSERT_EQ(OpenCom(6, ""), 0);

    own->close(); // pulled out
    ASSERT_TRUE(eventually([] { return GetInQLen(6) == COM_ERR_DEVICE_GONE; }));
    testing_support::Pty other; // another adapter takes the name
    SeamSetDeviceIdentity(other.path(), "usb 0403:6001 serial OTHER");
    ::testing::internal::CaptureStderr();
    plug(other);
    // A few reopen rounds: the stranger is left alone, and said so once.
    std::this_thread::sleep_for(std::chrono::milliseconds(2500));
    const std::string err = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(GetInQLen(6), COM_ERR_DEVICE_GONE);
    termios tio{};
    ASSERT_EQ(tcgetattr(other.slave(), &tio), 0);
    EXPECT_NE(tio.c_lflag & ICANON, 0u) << "the other adapter was opened";
    EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
    EXPECT_NE(err.find("serial OTHER"), std::string::npos) << err;

    testing_support::Pty back; // its own adapter, plugged in again
    SeamSetDeviceIdentity(back.path(), "usb 0403:6001 serial OWN");
    plug(back);
    ASSERT_TRUE(eventually([] { return GetInQLen(6) == 0; }, 5000));
    back.write("resumed");
    EXPECT_EQ(read_port(6, 7), "resumed");
    CloseCom(6);
}

TEST(SerialOpen, RefusedSettingsLeaveTheTerminalAsFound)
{
    // A pseudo-terminal takes neither parity nor 7 data bits. Another program
    // holds the device open (the fixture's own descriptor) and must find it
    // shared and unchanged.
    TempDir dir;
    PortRig rig({4});
    const int other = rig.pty(4).slave();
    termios before{};
    ASSERT_EQ(tcgetattr(other, &before), 0);
    EXPECT_EQ(OpenComConfig(4, "", 9600, 2, 7, 1, 512, 512), COM_ERR_BAD_SETTING);
    int exclusive = -1;
    ASSERT_EQ(ioctl(other, TIOCGEXCL, &exclusive), 0);
    EXPECT_EQ(exclusive, 0);
    termios after{};
    ASSERT_EQ(tcgetattr(other, &after), 0);
    EXPECT_EQ(after.c_cflag, before.c_cflag);
    EXPECT_EQ(after.c_iflag, before.c_iflag);
    EXPECT_EQ(after.c_lflag, before.c_lflag);
    EXPECT_EQ(cfgetispeed(&after), cfgetispeed(&before));
}

TEST(SerialSettings, NothingTheLastProgramLeftOnTheTerminalAltersTheBytes)
{
    // Another program left parity checking, ignoring of bad bytes, upper
    // case mapping and CR translation on.
    TempDir dir;
    PortRig rig({8});
    termios tio{};
    ASSERT_EQ(tcgetattr(rig.pty(8).slave(), &tio), 0);
    tio.c_iflag |= INPCK | IGNPAR | PARMRK | ISTRIP | IUCLC | ICRNL | IMAXBEL | IXON;
    tio.c_oflag |= OPOST | ONLCR;
    tio.c_lflag |= ICANON | ECHO | ISIG | IEXTEN;
    ASSERT_EQ(tcsetattr(rig.pty(8).slave(), TCSANOW, &tio), 0);

    ASSERT_EQ(OpenCom(8, ""), 0);
    ASSERT_EQ(tcgetattr(rig.pty(8).slave(), &tio), 0);
    EXPECT_EQ(tio.c_iflag, 0u);
    EXPECT_EQ(tio.c_lflag, 0u);
    EXPECT_EQ(tio.c_oflag, 0u);
    std::string all;
    for (int b = 0; b < 256; ++b)
        all.push_back(static_cast<char>(b));
    rig.pty(8).write(all);
    EXPECT_EQ(read_port(8, all.size()), all);
    CloseCom(8);
}

TEST(SerialOpen, DeviceMarkedByAnotherProgramsLockFileIsBusy)
{
    // Terminal programs such as minicom mark a port they use with a UUCP lock
    // file naming their process; the lock of a process that has ended is stale.
    TempDir dir;
    PortRig rig({7});
    const std::string device = rig.pty(7).path();
    const std::string lock = "/run/lock/LCK.." + device.substr(device.rfind('/') + 1);
    if (access("/run/lock", W_OK) != 0)
        GTEST_SKIP() << "/run/lock is not writable here";
    const pid_t holder = fork();
    if (holder == 0) {
        pause();
        _exit(0);
    }
    testing_support::write_file(lock, std::to_string(holder) + "\n");
    EXPECT_EQ(OpenCom(7, ""), COM_ERR_BUSY);
    kill(holder, SIGKILL);
    waitpid(holder, nullptr, 0);
    EXPECT_EQ(OpenCom(7, ""), 0) << "a stale lock is ignored";
    CloseCom(7);
    unlink(lock.c_str());
}
