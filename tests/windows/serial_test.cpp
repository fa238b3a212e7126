// The Win32 serial back end under wine: ports are socat's pseudo-terminals
// linked into the prefix (com_pair.h), each test on COM numbers of its own.
#include "com_pair.h"

#include "engine.h"
#include "run_state.h"
#include "serial/serial_backend.h"
#include "serial/serial_win32.h"
#include "vornacq4.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <chrono>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr auto kPatience = std::chrono::seconds(10);

// Every byte value, sixteen times over: 4 KiB, XON, XOFF and zero included.
std::vector<unsigned char> every_byte_value()
{
    std::vector<unsigned char> bytes;
    for (int round = 0; round < 16; ++round)
        for (int value = 0; value < 256; ++value)
            bytes.push_back(static_cast<unsigned char>(value));
    return bytes;
}

// The port's state as another handle on it reads it; wine shares a port.
DCB state_of(const std::string &path)
{
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    const std::wstring wide(path.begin(), path.end());
    HANDLE h = CreateFileW(wide.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_NE(h, INVALID_HANDLE_VALUE) << path;
    EXPECT_TRUE(GetCommState(h, &dcb)) << path;
    CloseHandle(h);
    return dcb;
}

// Takes through the engine what the port receives until want bytes came or
// kPatience passed.
std::vector<unsigned char> engine_read(int port, std::size_t want)
{
    std::vector<unsigned char> got;
    char buffer[COM_QUEUE_MAX];
    const auto deadline = std::chrono::steady_clock::now() + kPatience;
    while (got.size() < want && std::chrono::steady_clock::now() < deadline) {
        const int waiting = GetInQLen(port);
        if (waiting < 0)
            break;
        const int n = ComRd(port, buffer, waiting > 0 ? waiting : 1);
        if (n < 0)
            break;
        got.insert(got.end(), buffer, buffer + n);
    }
    return got;
}

// Reads through the back end alone until want bytes came or kPatience passed,
// a few bytes at a time: what one read took in is handed out in pieces.
std::string backend_read(serialdev::Handle h, std::size_t want)
{
    std::string got;
    unsigned char buffer[3];
    const auto deadline = std::chrono::steady_clock::now() + kPatience;
    while (got.size() < want && std::chrono::steady_clock::now() < deadline) {
        serialdev::Readiness ready;
        serialdev::wait(&h, &ready, 1, 200);
        const long n = serialdev::read_some(h, buffer, sizeof buffer);
        if (n < 0)
            break;
        got.append(reinterpret_cast<char *>(buffer), static_cast<std::size_t>(n));
    }
    return got;
}

struct RateCase {
    int baud;
    int port;       // the logger's port; its device is \\.\COM<port>
    int otherPort;  // the instrument's end
};

// How ctest names a case.
void PrintTo(const RateCase &c, std::ostream *out)
{
    *out << c.baud << " baud on COM" << c.port;
}

class EveryByte : public ::testing::TestWithParam<RateCase> {};

} // namespace

TEST(WindowsSerialErrors, OpenErrorsMapToTheComErrors)
{
    const struct {
        DWORD code;
        int expected;
    } cases[] = {
        {ERROR_FILE_NOT_FOUND, COM_ERR_NO_DEVICE},    {ERROR_PATH_NOT_FOUND, COM_ERR_NO_DEVICE},
        {ERROR_INVALID_NAME, COM_ERR_NO_DEVICE},      {ERROR_BAD_PATHNAME, COM_ERR_NO_DEVICE},
        {ERROR_DEV_NOT_EXIST, COM_ERR_NO_DEVICE},     {ERROR_DEVICE_NOT_CONNECTED, COM_ERR_NO_DEVICE},
        {ERROR_NOT_READY, COM_ERR_NO_DEVICE},         {ERROR_GEN_FAILURE, COM_ERR_NO_DEVICE},
        {ERROR_SEM_TIMEOUT, COM_ERR_NO_DEVICE},       {ERROR_ACCESS_DENIED, COM_ERR_BUSY},
        {ERROR_SHARING_VIOLATION, COM_ERR_BUSY},      {ERROR_INVALID_FUNCTION, COM_ERR_NOT_SERIAL},
        {ERROR_NOT_SUPPORTED, COM_ERR_NOT_SERIAL},    {ERROR_NOT_ENOUGH_MEMORY, COM_ERR_SYSTEM},
        {ERROR_TOO_MANY_OPEN_FILES, COM_ERR_SYSTEM},
    };
    for (const auto &c : cases)
        EXPECT_EQ(serialdev::win32_open_error(c.code), c.expected) << "error " << c.code;
}

TEST(WindowsSerialErrors, ReadErrorsTellAWaitFromAGoneDevice)
{
    const struct {
        DWORD code;
        bool cancelledHere;
        long expected;
    } cases[] = {
        {ERROR_IO_PENDING, false, 0},
        {ERROR_IO_INCOMPLETE, false, 0},
        {ERROR_TIMEOUT, false, 0},
        {ERROR_COUNTER_TIMEOUT, false, 0},
        {ERROR_OPERATION_ABORTED, true, 0},
        {ERROR_OPERATION_ABORTED, false, COM_ERR_DEVICE_GONE},
        {ERROR_ACCESS_DENIED, false, COM_ERR_DEVICE_GONE},
        {ERROR_BAD_COMMAND, false, COM_ERR_DEVICE_GONE},
        {ERROR_DEVICE_NOT_CONNECTED, false, COM_ERR_DEVICE_GONE},
        {ERROR_GEN_FAILURE, false, COM_ERR_DEVICE_GONE},
        {ERROR_DEV_NOT_EXIST, false, COM_ERR_DEVICE_GONE},
        {ERROR_BROKEN_PIPE, false, COM_ERR_DEVICE_GONE},
        {ERROR_INVALID_HANDLE, false, COM_ERR_DEVICE_GONE},
        {ERROR_NOT_ENOUGH_MEMORY, false, COM_ERR_DEVICE_GONE},
    };
    for (const auto &c : cases)
        EXPECT_EQ(serialdev::win32_read_error(c.code, c.cancelledHere), c.expected)
            << "error " << c.code << (c.cancelledHere ? " cancelled here" : "");
}

TEST(WindowsSerialErrors, ClearCommErrorsFlagsCountOneOfTheirKind)
{
    const struct {
        DWORD errors;
        std::vector<long long> expected; // overrun, buffer overrun, framing, parity, break
    } cases[] = {
        {0, {0, 0, 0, 0, 0}},
        {CE_OVERRUN, {1, 0, 0, 0, 0}},
        {CE_RXOVER, {0, 1, 0, 0, 0}},
        {CE_FRAME, {0, 0, 1, 0, 0}},
        {CE_RXPARITY, {0, 0, 0, 1, 0}},
        {CE_BREAK, {0, 0, 0, 0, 1}},
        {CE_FRAME | CE_RXPARITY | CE_BREAK, {0, 0, 1, 1, 1}},
        {CE_TXFULL | 0x8000, {0, 0, 0, 0, 0}}, // not the line's: nothing counted
    };
    for (const auto &c : cases) {
        serialdev::LineCounts counts;
        serialdev::add_comm_errors(c.errors, counts);
        serialdev::add_comm_errors(c.errors, counts); // a second look adds as much again
        for (int k = 0; k < COM_LINE_KINDS; ++k)
            EXPECT_EQ(counts.kind[k], 2 * c.expected[k]) << "errors " << c.errors << ", " << ComLineErrorName(k);
    }
}

TEST(WindowsSerialIdentity, InstanceIdGivesTheUsbSerialNumberOrNothing)
{
    const struct {
        const char *instanceId;
        const char *expected;
    } cases[] = {
        {"USB\\VID_0403&PID_6001\\A1B2C3", "usb 0403:6001 serial A1B2C3"},
        {"USB\\VID_10C4&PID_EA60\\0001", "usb 10c4:ea60 serial 0001"},
        {"USB\\VID_0403&PID_6010&MI_01\\FT4X2Y", "usb 0403:6010 serial FT4X2Y interface 01"},
        {"FTDIBUS\\VID_0403+PID_6001+A50285BIA\\0000", "usb 0403:6001 serial A50285BIA"},
        {"USB\\VID_067B&PID_2303\\5&2A7B3C1&0&2", ""},         // no serial number: Windows' own
        {"USB\\VID_0403&PID_6010&MI_00\\7&1F2E3D&0&0000", ""},
        {"ACPI\\PNP0501\\1", ""},                               // a port on the board
        {"FTDIBUS\\VID_0403+PID_6001\\0000", ""},
        {"FTDIBUS\\VID_0403+PID_6001+5&2A7B3C1&0&2\\0000", ""}, // no serial number: the socket's
        {"USB\\VID_0403&PID_6001\\", ""},
        {"", ""},
    };
    for (const auto &c : cases)
        EXPECT_EQ(serialdev::identity_from_instance_id(c.instanceId), c.expected) << c.instanceId;
}

// Through the program's own opening of the run's ports: the port table's
// rate, 8 data bits, no parity, 1 stop bit, no flow control, and every byte
// value the instrument sends handed over by the engine unaltered and in order.
TEST_P(EveryByte, ArrivesUnalteredAndInOrderThroughTheRunsPorts)
{
    const RateCase c = GetParam();
    ComPair pair(c.port, c.otherPort);
    ASSERT_TRUE(pair.up()) << "socat could not link COM" << c.port << " and COM" << c.otherPort;
    RS232Sel[c.port] = 1;
    file_stat[c.port] = 1;
    baudrate[c.port] = c.baud;
    open_ports();
    ASSERT_EQ(GetInQLen(c.port), 0);

    const DCB dcb = state_of(pair.loggerPath());
    EXPECT_EQ(dcb.BaudRate, static_cast<DWORD>(c.baud));
    EXPECT_EQ(dcb.ByteSize, 8);
    EXPECT_EQ(dcb.Parity, NOPARITY);
    EXPECT_EQ(dcb.StopBits, ONESTOPBIT);
    EXPECT_FALSE(dcb.fOutX || dcb.fInX || dcb.fOutxCtsFlow) << "no flow control in the run's settings";
    EXPECT_TRUE(dcb.fBinary);
    EXPECT_FALSE(dcb.fNull || dcb.fErrorChar || dcb.fAbortOnError || dcb.fDsrSensitivity || dcb.fParity)
        << "nothing may drop, replace or mark a byte";
    EXPECT_EQ(serialdev::identity(pair.loggerPath().c_str()), "") << "wine knows no USB device behind a port";

    const std::vector<unsigned char> sent = every_byte_value();
    ASSERT_TRUE(pair.write(sent.data(), sent.size()));
    EXPECT_EQ(engine_read(c.port, sent.size()), sent);
    ComStatus status{};
    ASSERT_EQ(GetComStatus(c.port, &status), 0);
    for (long long errors : status.line_errors)
        EXPECT_EQ(errors, 0) << "a clean line has no errors to count";
    EXPECT_EQ(CloseCom(c.port), 0);
    RS232Sel[c.port] = 0;
}

INSTANTIATE_TEST_SUITE_P(WindowsSerial, EveryByte,
                         ::testing::Values(RateCase{9600, 3, 203}, RateCase{115200, 4, 204}),
                         [](const ::testing::TestParamInfo<RateCase> &info) {
                             return "At" + std::to_string(info.param.baud) + "Baud";
                         });

// Half a megabyte sent while nothing takes it: the engine's queue fills and
// the rest waits behind it, read after read of the back end's buffer, and
// all of it comes out in order. A byte dropped or repeated at a read's edge
// shifts everything after it.
TEST(WindowsSerial, EveryByteBehindAFullQueueComesOutInOrder)
{
    ComPair pair(5, 205);
    ASSERT_TRUE(pair.up());
    ASSERT_EQ(OpenComConfig(5, "", 115200, 0, 8, 1, COM_QUEUE_MAX, 512), 0);
    std::vector<unsigned char> sent(512 * 1024);
    for (std::size_t i = 0; i < sent.size(); ++i)
        sent[i] = static_cast<unsigned char>(i * 7 + i / 256);
    ASSERT_TRUE(pair.write(sent.data(), sent.size()));
    EXPECT_TRUE(engine_read(5, sent.size()) == sent) << "bytes lost, repeated or out of order";
    EXPECT_EQ(CloseCom(5), 0);
}

// Every setting read back through another handle. A pseudo-terminal takes
// a new rate but keeps 8 data bits, and keeps its rate when asked for one no
// line has: those opens are refused and the port left as it was.
TEST(WindowsSerial, SettingsAreAppliedOrRefusedWithThePortLeftAsFound)
{
    ComPair pair(213, 214);
    ASSERT_TRUE(pair.up());
    serialdev::Settings s;
    s.baud = 19200;
    s.stopBits = 2;
    s.xonxoff = true;
    serialdev::Handle h = serialdev::open(pair.loggerPath().c_str(), s);
    ASSERT_GE(h, 0);
    serialdev::close(h);
    const DCB taken = state_of(pair.loggerPath());
    EXPECT_EQ(taken.BaudRate, 19200u);
    EXPECT_EQ(taken.StopBits, TWOSTOPBITS);
    EXPECT_TRUE(taken.fOutX && taken.fInX);

    s.baud = 38400;
    s.dataBits = 7;
    EXPECT_EQ(serialdev::open(pair.loggerPath().c_str(), s), COM_ERR_BAD_SETTING);
    EXPECT_EQ(state_of(pair.loggerPath()).BaudRate, 19200u) << "the rate that took is undone";

    s.dataBits = 8;
    h = serialdev::open(pair.loggerPath().c_str(), s);
    ASSERT_GE(h, 0);
    s.baud = 12345;
    EXPECT_EQ(serialdev::apply(h, s), COM_ERR_BAD_SETTING);
    serialdev::close(h);
}

// What a completed read already took in, handed out in part or not at all, is
// discarded with the driver's input.
TEST(WindowsSerial, FlushInputDiscardsWhatTheReadUnderWayTookIn)
{
    ComPair pair(215, 216);
    ASSERT_TRUE(pair.up());
    serialdev::Settings s;
    const serialdev::Handle h = serialdev::open(pair.loggerPath().c_str(), s);
    ASSERT_GE(h, 0);
    unsigned char none[16];
    EXPECT_EQ(serialdev::read_some(h, none, sizeof none), 0); // starts the first read
    ASSERT_TRUE(pair.write("before", 6));
    serialdev::Readiness ready = serialdev::Idle;
    serialdev::wait(&h, &ready, 1, 5000);
    ASSERT_EQ(ready, serialdev::Readable);
    serialdev::flush_input(h);
    ASSERT_TRUE(pair.write("after the flush", 15));
    EXPECT_EQ(backend_read(h, 15), "after the flush");

    ASSERT_TRUE(pair.write("before", 6));
    EXPECT_EQ(backend_read(h, 3), "bef"); // the rest waits in the back end's buffer
    serialdev::flush_input(h);
    ASSERT_TRUE(pair.write("after", 5));
    EXPECT_EQ(backend_read(h, 5), "after");
    serialdev::close(h);
}

TEST(WindowsSerial, AMissingPortIsNoDevice)
{
    // No test links COM17 and the map names none: the port is \\.\COM17 itself.
    EXPECT_EQ(OpenComConfig(17, "", 9600, 0, 8, 1, COM_QUEUE_MAX, 512), COM_ERR_NO_DEVICE);
    EXPECT_EQ(GetInQLen(17), COM_ERR_NOT_OPEN);
}

// A line that hangs up (socat ended, as a USB adapter pulled out) leaves the
// port open and gone; what it queued before is still handed over.
TEST(WindowsSerial, AHungUpLineIsADeviceGoneAfterItsQueuedBytes)
{
    ComPair pair(7, 207);
    ASSERT_TRUE(pair.up());
    ASSERT_EQ(OpenComConfig(7, "", 9600, 0, 8, 1, COM_QUEUE_MAX, 512), 0);
    ASSERT_TRUE(pair.write("last", 4));
    ComStatus status{};
    const auto deadline = std::chrono::steady_clock::now() + kPatience;
    while (GetComStatus(7, &status) == 0 && status.waiting < 4 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    ASSERT_EQ(status.waiting, 4);
    pair.hangUp();
    while (GetComStatus(7, &status) == 0 && status.gone == 0 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(status.open, 1);
    ASSERT_EQ(status.gone, 1);
    char got[8] = "";
    EXPECT_EQ(ComRd(7, got, 4), 4);
    EXPECT_EQ(std::string(got, 4), "last");
    EXPECT_EQ(GetInQLen(7), COM_ERR_DEVICE_GONE);
    EXPECT_EQ(CloseCom(7), 0);
}
