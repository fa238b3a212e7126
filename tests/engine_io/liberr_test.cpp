// Library errors on stderr: one line per new failure of a port or file, so a
// port that stays missing does not flood the log at every tick.
#include "engine.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>
#include <thread>

using testing_support::line_count;
using testing_support::PortRig;
using testing_support::stderr_of;
using testing_support::TempDir;

TEST(LibraryErrors, FailingOpenPrintsOneLineNamingThePort)
{
    PortRig rig({});
    const std::string err = stderr_of([] { EXPECT_EQ(OpenCom(3, ""), COM_ERR_NO_DEVICE); });
    EXPECT_EQ(line_count(err), 1) << err;
    EXPECT_NE(err.find("COM3"), std::string::npos) << err;
}

TEST(LibraryErrors, RepeatedFailureIsPrintedOnce)
{
    PortRig rig({});
    const std::string err = stderr_of([] {
        for (int i = 0; i < 5; ++i)
            EXPECT_EQ(GetInQLen(5), COM_ERR_NOT_OPEN);
    });
    EXPECT_EQ(line_count(err), 1) << err;
    EXPECT_NE(err.find("COM5"), std::string::npos) << err;
}

TEST(LibraryErrors, SameErrorFromDifferentCallsIsPrintedOnce)
{
    // An acquisition tick asks a closed port for its queue and reads it in turn.
    PortRig rig({});
    const std::string err = stderr_of([] {
        char byte;
        for (int i = 0; i < 5; ++i) {
            EXPECT_EQ(GetInQLen(5), COM_ERR_NOT_OPEN);
            EXPECT_EQ(ComRd(5, &byte, 1), COM_ERR_NOT_OPEN);
            EXPECT_EQ(FlushInQ(5), COM_ERR_NOT_OPEN);
        }
    });
    EXPECT_EQ(line_count(err), 1) << err;
}

TEST(LibraryErrors, EachPortIsReportedForItself)
{
    PortRig rig({});
    const std::string err = stderr_of([] {
        for (int i = 0; i < 3; ++i) {
            GetInQLen(5);
            GetInQLen(6);
        }
    });
    EXPECT_EQ(line_count(err), 2) << err;
}

TEST(LibraryErrors, SameFailureIsPrintedAgainAfterASuccess)
{
    PortRig rig({7});
    const std::string err = stderr_of([] {
        GetInQLen(7);
        GetInQLen(7);
        ASSERT_EQ(OpenCom(7, ""), 0);
        ASSERT_EQ(CloseCom(7), 0);
        GetInQLen(7);
        GetInQLen(7);
    });
    EXPECT_EQ(line_count(err), 2) << err;
}

TEST(LibraryErrors, DisabledPrintsNothingAndEnabledPrintsAgain)
{
    PortRig rig({});
    DisableBreakOnLibraryErrors();
    const std::string quiet = stderr_of([] {
        EXPECT_EQ(OpenCom(2, ""), COM_ERR_NO_DEVICE);
        EXPECT_EQ(GetInQLen(2), COM_ERR_NOT_OPEN);
        EXPECT_EQ(RT_OpenFile("no-such-dir/x.dat", 2, 1, 0), -1);
        EXPECT_EQ(RT_CloseFile(33), -1);
        EXPECT_EQ(MakeDir("no-such-dir/day"), -1);
    });
    EXPECT_EQ(quiet, "");
    EnableBreakOnLibraryErrors();
    const std::string loud = stderr_of([] { OpenCom(2, ""); });
    EXPECT_EQ(line_count(loud), 1) << loud;
}

TEST(LibraryErrors, FileFailureNamesTheFileOnce)
{
    TempDir dir;
    const std::string err = stderr_of([] {
        for (int i = 0; i < 3; ++i)
            EXPECT_EQ(RT_OpenFile("no-such-dir/C3.dat", 2, 1, 0), -1);
    });
    EXPECT_EQ(line_count(err), 1) << err;
    EXPECT_NE(err.find("no-such-dir/C3.dat"), std::string::npos) << err;
}

TEST(LibraryErrors, OneThreadsSwitchLeavesAnotherThreadsLinesAlone)
{
    PortRig rig({});
    DisableBreakOnLibraryErrors();
    const std::string err = stderr_of([] {
        EXPECT_EQ(GetInQLen(4), COM_ERR_NOT_OPEN);
        std::thread other([] { EXPECT_EQ(GetInQLen(5), COM_ERR_NOT_OPEN); });
        other.join();
    });
    EnableBreakOnLibraryErrors();
    EXPECT_EQ(line_count(err), 1) << err;
    EXPECT_NE(err.find("COM5"), std::string::npos) << err;
}

// A journal that has stopped reading: one thread's report waits for room in
// stderr, and the other ports' bytes still come in and are handed over.
TEST(LibraryErrors, AReportWaitingOnStderrHoldsUpNoPortsBytes)
{
    PortRig rig({3});
    ASSERT_EQ(OpenComConfig(3, "", 115200, 0, 8, 1, 32000, 512), 0);
    int journal[2];
    ASSERT_EQ(::pipe(journal), 0);
    ::fcntl(journal[1], F_SETFL, O_NONBLOCK);
    const std::string block(4096, 'x');
    while (::write(journal[1], block.data(), block.size()) > 0) {
    }
    ::fcntl(journal[1], F_SETFL, 0);
    std::fflush(stderr);
    const int savedStderr = ::dup(2);
    ::dup2(journal[1], 2);
    std::atomic<bool> reporting{false};
    std::thread stuck([&reporting] {
        reporting = true;
        GetInQLen(5); // its line waits for room in the full pipe
    });
    while (!reporting) {
        std::this_thread::yield();
    }
    rig.pty(3).write("abc");
    const bool handedOver = testing_support::eventually([] { return GetInQLen(3) == 3; }, 5000);
    ::fcntl(journal[0], F_SETFL, O_NONBLOCK);
    char sink[4096];
    while (::read(journal[0], sink, sizeof sink) > 0) {
    } // room again: the report goes out
    stuck.join();
    ::dup2(savedStderr, 2);
    EXPECT_TRUE(handedOver);
}
