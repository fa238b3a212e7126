// Serial ports on real pseudo-terminals: a device that goes away while the
// port is open, its last bytes delivered first, and what comes back under its
// name.
#include "engine.h"
#include "engine_seams.h"
#include "io_helpers.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <termios.h>
#include <thread>

TEST(SerialGone, QueuedBytesAreDeliveredBeforeTheDeviceIsReportedGone)
{
    PortRig rig({15});
    ASSERT_EQ(OpenCom(15, ""), 0);
    ASSERT_EQ(SetComTime(15, 2.0), 0);
    const std::string sent = testing_support::stream_bytes(0, 100);
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
    testing_support::StderrCapture said(dir.file("stderr.txt"));
    plug(other);
    // The stranger is left alone, and said so once: once it is said, a few
    // more reopen rounds (fewer on a loaded machine, never a second line).
    ASSERT_TRUE(eventually([&] { return said.text().find("serial OTHER") != std::string::npos; }, 20000));
    std::this_thread::sleep_for(std::chrono::milliseconds(2000));
    const std::string err = said.text();
    EXPECT_EQ(GetInQLen(6), COM_ERR_DEVICE_GONE);
    termios tio{};
    ASSERT_EQ(tcgetattr(other.slave(), &tio), 0);
    EXPECT_NE(tio.c_lflag & ICANON, 0u) << "the other adapter was opened";
    EXPECT_EQ(testing_support::line_count(err), 1) << err;
    EXPECT_NE(err.find("serial OTHER"), std::string::npos) << err;

    testing_support::Pty back; // its own adapter, plugged in again
    SeamSetDeviceIdentity(back.path(), "usb 0403:6001 serial OWN");
    plug(back);
    ASSERT_TRUE(eventually([] { return GetInQLen(6) == 0; }, 5000));
    back.write("resumed");
    EXPECT_EQ(read_port(6, 7), "resumed");
    CloseCom(6);
}
