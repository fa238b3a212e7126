// Serial ports on real pseudo-terminals: opening one, holding it as its own
// against other programs, and every way an open or an operation fails, each
// with its own code.
#include "engine.h"
#include "engine_seams.h"
#include "io_helpers.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <csignal>
#include <fcntl.h>
#include <functional>
#include <set>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

// --- Opening and closing

TEST(SerialOpen, ClosedPortCanBeOpenedAgainByUsAndByOthers)
{
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

PRINTED_AS_WHAT(OpenFailure)

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

TEST(SerialOpen, RefusedSettingsLeaveTheTerminalAsFound)
{
    // A pseudo-terminal takes neither parity nor 7 data bits. Another program
    // holds the device open (the fixture's own descriptor) and must find it
    // shared and unchanged.
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

TEST(SerialOpen, DeviceMarkedByAnotherProgramsLockFileIsBusy)
{
    // Terminal programs such as minicom mark a port they use with a UUCP lock
    // file naming their process; the lock of a process that has ended is stale.
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
