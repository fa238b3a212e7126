// vornacq4-when.exe, the real program, started as a Windows program starts
// another (CreateProcessW, its output to files), on the recording the Linux
// tests slice too (tests/fixtures/when, copied beside the tests by the build).
// Its copies lie under names Windows makes hard: non-ASCII, deeper than
// MAX_PATH, held open for writing as by the logger.
#include "com_pair.h"
#include "scratch_tree.h"
#include "waiting_pipe.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <thread>
#include <vector>

namespace {

constexpr DWORD kRunMs = 60000; // no run of the program takes a second of it

std::wstring tests_dir()
{
    wchar_t path[MAX_PATH];
    const DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring dir(path, n);
    return dir.substr(0, dir.find_last_of(L"\\/"));
}

std::wstring widen(const char *ascii)
{
    return std::wstring(ascii, ascii + std::char_traits<char>::length(ascii));
}

const std::wstring kFixture = tests_dir() + L"\\when_fixture";
const std::wstring kRecording = L"D045\\04550400.C01";
const std::wstring kIndex = L"T045\\04550400.C01";

std::string read_all(const std::wstring &path)
{
    std::string bytes;
    const HANDLE h = CreateFileW(long_form(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                 OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return bytes;
    char buffer[4096];
    for (DWORD n = 0; ReadFile(h, buffer, sizeof buffer, &n, nullptr) && n > 0;)
        bytes.append(buffer, n);
    CloseHandle(h);
    return bytes;
}

// A directory of the temporary directory, removed with what it holds.
class Scratch {
public:
    Scratch()
    {
        wchar_t temp[MAX_PATH];
        GetTempPathW(MAX_PATH, temp);
        m_root = std::wstring(temp) + L"vorn-when-" + std::to_wstring(GetCurrentProcessId());
        CreateDirectoryW(long_form(m_root).c_str(), nullptr);
    }
    ~Scratch() { remove_tree(m_root); }
    const std::wstring &root() const { return m_root; }

    // A copy of the recording under root\sub (made with its parents).
    std::wstring copy_recording(const std::wstring &sub) const
    {
        const std::wstring base = m_root + L"\\" + sub;
        for (std::size_t at = base.find(L'\\', m_root.size() + 1);; at = base.find(L'\\', at + 1)) {
            CreateDirectoryW(long_form(base.substr(0, at)).c_str(), nullptr);
            if (at == std::wstring::npos)
                break;
        }
        for (const wchar_t *day : {L"\\D045", L"\\T045"})
            CreateDirectoryW(long_form(base + day).c_str(), nullptr);
        CopyFileW((kFixture + L"\\" + kRecording).c_str(), long_form(base + L"\\" + kRecording).c_str(), FALSE);
        CopyFileW((kFixture + L"\\" + kIndex).c_str(), long_form(base + L"\\" + kIndex).c_str(), FALSE);
        return base;
    }

private:
    std::wstring m_root;
};

struct Outcome {
    DWORD status;
    std::string out, err;
};

HANDLE output_file(const std::wstring &path)
{
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    return CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_ALWAYS, 0, nullptr);
}

// Runs vornacq4-when.exe with `args`, its stdout and stderr caught in files.
// Status 124 when it had to be ended.
Outcome run_when(const Scratch &scratch, const std::vector<std::wstring> &args)
{
    const std::wstring exe = tests_dir() + L"\\" + widen(VORNACQ4_WHEN_EXE);
    std::wstring line = L"\"" + exe + L"\"";
    for (const std::wstring &arg : args)
        line += L" \"" + arg + L"\"";
    const std::wstring outPath = scratch.root() + L"\\stdout", errPath = scratch.root() + L"\\stderr";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = output_file(outPath);
    startup.hStdError = output_file(errPath);
    PROCESS_INFORMATION process{};
    Outcome run{124, "", ""};
    if (CreateProcessW(exe.c_str(), &line[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &process)) {
        if (WaitForSingleObject(process.hProcess, kRunMs) != WAIT_OBJECT_0)
            TerminateProcess(process.hProcess, 124);
        WaitForSingleObject(process.hProcess, kRunMs);
        GetExitCodeProcess(process.hProcess, &run.status);
        CloseHandle(process.hProcess);
        CloseHandle(process.hThread);
    }
    CloseHandle(startup.hStdOutput);
    CloseHandle(startup.hStdError);
    run.out = read_all(outPath);
    run.err = read_all(errPath);
    return run;
}

// The data file and its index held open for writing, as the logger holds
// them while it records: sharing reading only, so a reader that would not
// share writing is refused.
class HeldByLogger {
public:
    explicit HeldByLogger(const std::wstring &base)
    {
        for (const std::wstring *file : {&kRecording, &kIndex})
            m_handles.push_back(CreateFileW(long_form(base + L"\\" + *file).c_str(), GENERIC_WRITE, FILE_SHARE_READ,
                                            nullptr, OPEN_EXISTING, 0, nullptr));
    }
    ~HeldByLogger()
    {
        for (HANDLE h : m_handles)
            if (h != INVALID_HANDLE_VALUE)
                CloseHandle(h);
    }
    bool held() const
    {
        for (HANDLE h : m_handles)
            if (h == INVALID_HANDLE_VALUE)
                return false;
        return true;
    }

private:
    std::vector<HANDLE> m_handles;
};

struct Place {
    const char *name;
    std::wstring sub;    // where the copy lies under the scratch directory
    std::wstring output; // -o OUT inside it, or stdout when empty
};

// The window, given in UTC, takes bytes of four bursts on both sides of a
// clock set back, every byte value among them: not one may change on the
// way out, to stdout (binary) or to a file.
TEST(WhenWindows, SliceGivesTheBytesTheLinuxBuildGivesWhereverTheRecordingLies)
{
    const std::string expected = read_all(kFixture + L"\\slice.bin");
    ASSERT_EQ(expected.size(), 768u) << "the fixture is missing beside the tests";
    const Place places[] = {
        {"plain names, to stdout", L"plain", L""},
        {"non-ASCII names, to a non-ASCII file", L"Mesures \u00e9t\u00e9 \u6e2c\u5b9a", L"sortie \u00fc.bin"},
        {"deeper than MAX_PATH", std::wstring(5, L'x') + L"\\" + std::wstring(120, L'd') + L"\\" +
                                     std::wstring(120, L'e'), L"out.bin"},
    };
    Scratch scratch;
    for (const Place &place : places) {
        SCOPED_TRACE(place.name);
        const std::wstring base = scratch.copy_recording(place.sub);
        const HeldByLogger logger(base);
        ASSERT_TRUE(logger.held());
        std::vector<std::wstring> args = {L"slice", base + L"\\" + kRecording, L"2024-02-14T14:03:02.35Z",
                                          L"2024-02-14T14:03:04.6Z"};
        if (!place.output.empty())
            args.insert(args.end(), {L"-o", base + L"\\" + place.output});
        const Outcome run = run_when(scratch, args);
        EXPECT_EQ(run.status, 0u) << run.err;
        const std::string got = place.output.empty() ? run.out : read_all(base + L"\\" + place.output);
        EXPECT_TRUE(got == expected) << got.size() << " bytes, not those of slice.bin";
    }
}

// A day directory under a non-ASCII name is listed, its file's span read
// from the index, and its name written back in UTF-8.
TEST(WhenWindows, CoverageListsADayDirectoryUnderANonASCIIName)
{
    Scratch scratch;
    const std::wstring base = scratch.copy_recording(L"Mesures \u00e9t\u00e9");
    const Outcome run = run_when(scratch, {L"coverage", L"--utc", base + L"\\D045"});
    EXPECT_EQ(run.status, 0u) << run.err;
    const std::string utf8Base = "\\Mesures \xC3\xA9t\xC3\xA9\\D045\\04550400.C01";
    EXPECT_NE(run.out.find(utf8Base + ": 2024-02-14T14:03:00.000000Z to 2024-02-14T14:03:12.200000Z, 3072 bytes, "
                                      "3072 of them dated\n"),
              std::string::npos)
        << run.out;
}

// Byte 2400 arrived at 14:03:00.825294Z (the tenth burst, 96 bytes in).
// The local time `when` prints for it, with its offset or without, reads
// back as that instant: a slice from it to a microsecond later is that byte.
// Whatever zone the system is in: wine takes the machine's (or TZ's when
// wine starts), so a run under TZ=Europe/Berlin checks an offset of +01:00.
TEST(WhenWindows, LocalTimesItPrintsReadBackAsTheInstantTheByteArrived)
{
    Scratch scratch;
    const std::wstring file = kFixture + L"\\" + kRecording;
    EXPECT_EQ(run_when(scratch, {L"when", L"--utc", file, L"2400"}).out, "2024-02-14T14:03:00.825294Z\n");
    const std::string local = run_when(scratch, {L"when", file, L"2400"}).out;
    ASSERT_EQ(local.size(), 33u) << local;
    const std::wstring withOffset = widen(local.substr(0, 32).c_str()), wall = withOffset.substr(0, 26);
    const std::string byte = read_all(file).substr(2400, 1);
    for (const std::wstring &from : {withOffset, wall}) {
        const Outcome one = run_when(scratch, {L"slice", file, from, L"2024-02-14T14:03:00.825295Z"});
        EXPECT_TRUE(one.status == 0 && one.out == byte) << local << one.err;
    }
}

struct Refusal {
    const char *name;
    std::vector<std::wstring> options;
    DWORD status;
    const char *says;
};

TEST(WhenWindows, ReplayWithoutACOMPortToWriteToIsRefusedAndWritesNothing)
{
    Scratch scratch;
    const std::wstring base = scratch.copy_recording(L"plain");
    const std::wstring victim = base + L"\\victim";
    const Refusal refusals[] = {
        {"no --to: Windows has no pseudo-terminals", {}, 2, "no pseudo-terminals"},
        {"a regular file", {L"--to", victim}, 1, "is not a serial port"},
        {"a COM port that leads nowhere", {L"--to", L"COM63"}, 1, "COM63"},
        {"an unknown option, never a file name", {L"--to", victim, L"--bogus"}, 2, "usage:"},
    };
    for (const Refusal &r : refusals) {
        SCOPED_TRACE(r.name);
        const HANDLE h = output_file(victim);
        DWORD written = 0;
        WriteFile(h, "keep me", 7, &written, nullptr);
        CloseHandle(h);
        std::vector<std::wstring> args = {L"replay", base + L"\\" + kRecording};
        args.insert(args.end(), r.options.begin(), r.options.end());
        const Outcome run = run_when(scratch, args);
        EXPECT_EQ(run.status, r.status) << run.err;
        EXPECT_NE(run.err.find(r.says), std::string::npos) << run.err;
        EXPECT_EQ(read_all(victim), "keep me");
    }
}

// A recording whose index is a named pipe: the index is refused by its name
// alone, and the program serving the pipe never sees vornacq4-when connect.
TEST(WhenWindows, AnIndexThatIsAPipeIsRefusedWithoutConnectingToIt)
{
    const std::wstring base = L"\\\\.\\pipe\\vorn-when-" + std::to_wstring(GetCurrentProcessId());
    WaitingPipe pipe(base + L"\\" + kIndex);
    ASSERT_TRUE(pipe.made());
    Scratch scratch;
    const Outcome run = run_when(scratch, {L"check", base + L"\\" + kRecording});
    EXPECT_EQ(run.status, 1u) << run.err;
    EXPECT_NE(run.err.find("04550400.C01 is not a regular file"), std::string::npos) << run.err;
    EXPECT_TRUE(pipe.neverConnected());
}

// A bag of a recording under a non-ASCII name: its manifests give what
// md5sum and sha256sum give on Linux, and it verifies; a byte changed in it
// is found.
TEST(WhenWindows, BagChecksumsAreThoseOfTheLinuxToolsAndAChangedByteFailsVerify)
{
    Scratch scratch;
    const std::wstring base = scratch.copy_recording(L"Mesures \u00e9t\u00e9"), bag = scratch.root() + L"\\bag \u00fc";
    const Outcome made = run_when(scratch, {L"bag", bag, base});
    ASSERT_EQ(made.status, 0u) << made.err;
    const char *const lines[] = {
        "7a8cdaad15468da3fac018960fa4c5e3  data/D045/04550400.C01\n",
        "e9fa3ee8429abb1d257e8a205f84d0fb87b794fd3a51d95d6e765e55e291591a  data/D045/04550400.C01\n"};
    EXPECT_NE(read_all(bag + L"\\manifest-md5.txt").find(lines[0]), std::string::npos);
    EXPECT_NE(read_all(bag + L"\\manifest-sha256.txt").find(lines[1]), std::string::npos);
    const Outcome good = run_when(scratch, {L"bag", L"--verify", bag});
    EXPECT_EQ(good.status, 0u) << good.err;
    const HANDLE h = CreateFileW(long_form(bag + L"\\data\\" + kRecording).c_str(), GENERIC_WRITE, 0, nullptr,
                                 OPEN_EXISTING, 0, nullptr);
    DWORD written = 0;
    SetFilePointer(h, 100, nullptr, FILE_BEGIN);
    EXPECT_TRUE(WriteFile(h, "?", 1, &written, nullptr) && written == 1);
    CloseHandle(h);
    const Outcome bad = run_when(scratch, {L"bag", L"--verify", bag});
    EXPECT_EQ(bad.status, 1u);
    EXPECT_NE(bad.err.find("data/D045/04550400.C01: its md5 is not the one"), std::string::npos) << bad.err;
}

// The other end of a COM pair, raw, read until `count` bytes came or the
// time is up.
std::string read_port(const std::wstring &port, std::size_t count, DWORD withinMs)
{
    const HANDLE h = CreateFileW(port.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    std::string got;
    if (h == INVALID_HANDLE_VALUE)
        return got;
    COMMTIMEOUTS timeouts{MAXDWORD, MAXDWORD, 100, 0, 0}; // a read waits at most 100 ms
    SetCommTimeouts(h, &timeouts);
    char buffer[4096];
    for (const ULONGLONG end = GetTickCount64() + withinMs; got.size() < count && GetTickCount64() < end;) {
        DWORD n = 0;
        if (!ReadFile(h, buffer, sizeof buffer, &n, nullptr))
            break;
        got.append(buffer, n);
    }
    CloseHandle(h);
    return got;
}

// Twelve seconds of recording, a hundred times faster: every byte of it
// reaches the other end of the line, in order and unaltered.
TEST(WhenWindows, ReplayOntoACOMPortSendsEveryByteOfTheRecordingUnaltered)
{
    ComPair pair(61, 62);
    ASSERT_TRUE(pair.up()) << "socat could not join COM61 and COM62";
    const std::string recording = read_all(kFixture + L"\\" + kRecording);
    ASSERT_EQ(recording.size(), 3072u);
    std::string got;
    std::thread reader([&] { got = read_port(L"\\\\.\\COM62", recording.size(), 20000); });
    Sleep(200); // the reading end open before the first byte leaves
    Scratch scratch;
    const Outcome run = run_when(scratch, {L"replay", kFixture + L"\\" + kRecording, L"--to", L"COM61", L"--baud",
                                       L"115200", L"--speed", L"100"});
    reader.join();
    EXPECT_EQ(run.status, 0u) << run.err;
    EXPECT_TRUE(got == recording) << got.size() << " bytes arrived, not those of the recording";
}

} // namespace
