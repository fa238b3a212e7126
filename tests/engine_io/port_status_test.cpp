// What the engine tells the operator about a port: the device it stands for,
// and bytes, silence and absence as the reader thread sees them, on the
// engine's clock that a test moves.
#include "engine.h"
#include "engine_seams.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <cstring>

using testing_support::eventually;
using testing_support::PortRig;
using testing_support::TempDir;

namespace {

ComStatus status_of(int port)
{
    ComStatus s;
    std::memset(&s, 0xff, sizeof s);
    EXPECT_EQ(GetComStatus(port, &s), 0);
    return s;
}

} // namespace

TEST(PortStatus, CountsBytesSilenceAndTheDevicesAbsence)
{
    TempDir dir;
    PortRig rig({4});
    SeamSetClock(2024, 2, 14, 10, 0, 0);
    ASSERT_EQ(OpenCom(4, ""), 0);
    ComStatus s = status_of(4);
    EXPECT_EQ(s.open, 1);
    EXPECT_EQ(s.gone, 0);
    EXPECT_EQ(s.bytes, 0);
    EXPECT_EQ(s.open_result, 0);

    rig.pty(4).write("12345");
    EXPECT_TRUE(eventually([] { return status_of(4).bytes == 5; }));
    SeamSetClock(2024, 2, 14, 10, 0, 42);
    EXPECT_EQ(status_of(4).idle_seconds, 42);

    rig.pty(4).close(); // pulled out
    EXPECT_TRUE(eventually([] { return status_of(4).gone == 1; }));
    SeamSetClock(2024, 2, 14, 10, 1, 12);
    s = status_of(4);
    EXPECT_EQ(s.open, 1) << "the program still has the port";
    EXPECT_EQ(s.gone_seconds, 30);
    EXPECT_EQ(s.bytes, 5) << "what came before stays counted";

    CloseCom(4);
    EXPECT_EQ(status_of(4).open, 0);
    SeamUseRealClock();
}

TEST(PortStatus, KeepsTheResultOfTheLastOpenAndTellsEachPortsDevice)
{
    TempDir dir;
    PortRig rig({2});
    DisableBreakOnLibraryErrors();
    EXPECT_EQ(OpenCom(3, ""), COM_ERR_NO_DEVICE);
    EnableBreakOnLibraryErrors();
    EXPECT_EQ(status_of(3).open, 0);
    EXPECT_EQ(status_of(3).open_result, COM_ERR_NO_DEVICE);

    char name[64];
    EXPECT_EQ(GetComDevice(2, name), 0);
    EXPECT_EQ(name, rig.pty(2).path());
    EXPECT_EQ(GetComDevice(3, name), COM_ERR_NO_DEVICE);
    EXPECT_STREQ(name, "");
    char shortName[6];
    EXPECT_EQ(GetComDevice(2, shortName), 0);
    EXPECT_EQ(std::string(shortName), rig.pty(2).path().substr(0, 5)) << "cut off at the buffer's size";
    EXPECT_EQ(GetComDevice(19, name), COM_ERR_BAD_PORT);
    ComStatus s;
    EXPECT_EQ(GetComStatus(0, &s), COM_ERR_BAD_PORT);
}
