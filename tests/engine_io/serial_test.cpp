// Serial ports on real pseudo-terminals: what the instrument sends must reach
// the program byte for byte, whatever the engine's queue and the terminal's
// buffer are doing. Opening and its failures are in serial_open_test.cpp, a
// device that goes away in serial_gone_test.cpp.
#include "engine.h"
#include "engine_seams.h"
#include "io_helpers.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

using testing_support::PacedWriter;
using testing_support::stream_bytes;
using testing_support::wall_us;

namespace {

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
    PortRig rig({3});
    make_cooked(rig.pty(3).path());
    ASSERT_EQ(OpenComConfig(3, "", GetParam(), 0, 8, 1, COM_QUEUE_MAX, 512), 0);

    const std::string sent = testing_support::byte_values() + testing_support::byte_values();
    rig.pty(3).write(sent);
    EXPECT_EQ(read_port(3, sent.size()), sent);
    // Raw mode echoes nothing back to the instrument.
    EXPECT_FALSE(io_test::master_readable(rig.pty(3).master(), 0));
    EXPECT_EQ(CloseCom(3), 0);
}

INSTANTIATE_TEST_SUITE_P(Rates, SerialRate, ::testing::Values(110L, 9600L, 115200L));

TEST(SerialSettings, AcceptsEveryRateOfThePortTable)
{
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

PRINTED_AS_WHAT(BadSetting)

class SerialBadSetting : public ::testing::TestWithParam<BadSetting> {};

TEST_P(SerialBadSetting, IsRefusedAndLeavesThePortClosed)
{
    const BadSetting &s = GetParam();
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
    PortRig rig({4});
    SmallBudget budget;
    ASSERT_EQ(OpenCom(4, ""), 0);
    // RTS/CTS: a pseudo-terminal has no such lines, but XON/XOFF would take
    // the stream's own XON and XOFF bytes out of it.
    ASSERT_EQ(SetCTSMode(4, 1), 0);
    const std::size_t held = COM_QUEUE_MAX + COM_BACKLOG_BUDGET_MIN;
    const std::string sent = stream_bytes(0, held + 100000);
    PacedWriter writer({rig.pty(4).master()}, PacedWriter::kFlood, sent.size());

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
    PortRig rig({4});
    SmallBudget budget;
    ASSERT_EQ(OpenCom(4, ""), 0);
    const std::size_t kept = COM_QUEUE_MAX + COM_BACKLOG_BUDGET_MIN;
    const std::string sent = stream_bytes(0, kept + 300000);
    PacedWriter writer({rig.pty(4).master()}, PacedWriter::kFlood, sent.size());
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
    PortRig rig({5});
    ASSERT_EQ(OpenCom(5, ""), 0);
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
    PortRig rig({5});
    ASSERT_EQ(OpenCom(5, ""), 0);
    // Only the engine's own reader thread moves bytes into the queue; the
    // test merely looks at its length.
    const std::string sent = stream_bytes(0, 20000);
    PacedWriter writer({rig.pty(5).master()}, PacedWriter::kFlood, sent.size());
    ASSERT_TRUE(eventually([] { return GetInQLen(5) == 20000; }));
    std::string got(20000, '\0');
    ASSERT_EQ(ComRd(5, &got[0], 20000), 20000);
    EXPECT_TRUE(got == sent);
}

TEST(SerialQueue, ReadOfMoreThanIsWaitingReturnsWhatCameAfterTheTimeOut)
{
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
    PortRig rig({7});
    ASSERT_EQ(OpenComConfig(7, "", 9600, 0, 8, 1, 100, 0), 0);
    const std::string sent = stream_bytes(0, 250);
    PacedWriter writer({rig.pty(7).master()}, PacedWriter::kFlood, sent.size());
    ASSERT_TRUE(eventually([] { return GetInQLen(7) == 100; }));
    EXPECT_EQ(read_port(7, sent.size()), sent);
}

// --- Flushing

TEST(SerialFlush, DiscardsQueuedBackloggedAndKernelBufferedBytes)
{
    PortRig rig({8});
    // A second descriptor of the device to watch the terminal's own buffer.
    const int watch = ::open(rig.pty(8).path().c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(watch, 0);
    SmallBudget budget;
    ASSERT_EQ(OpenComConfig(8, "", 9600, 0, 8, 1, 100, 0), 0);
    ASSERT_EQ(SetCTSMode(8, 1), 0); // held back, not dropped, when the budget is spent

    // 100 old bytes fill the queue, a full backlog waits behind them, and 500
    // more wait in the kernel.
    PacedWriter writer({rig.pty(8).master()}, PacedWriter::kFlood, 100 + COM_BACKLOG_BUDGET_MIN + 500);
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

TEST(SerialSettings, NothingTheLastProgramLeftOnTheTerminalAltersTheBytes)
{
    // Another program left parity checking, ignoring of bad bytes, upper
    // case mapping and CR translation on.
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
    const std::string all = testing_support::byte_values();
    rig.pty(8).write(all);
    EXPECT_EQ(read_port(8, all.size()), all);
    CloseCom(8);
}
