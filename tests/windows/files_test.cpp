// The Win32 file back end, through the engine's file operations: real files
// in a fresh directory under the system's temporary directory.
#include "engine.h"
#include "files/file_backend.h"
#include "files/file_win32.h"
#include "base/utf16.h"
#include "run_state.h"
#include "vorncoms.h"
#include "scratch_tree.h"
#include "waiting_pipe.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <windows.h>

namespace {

using filesys::win32::Kind;

// Every byte value, rounds times, each round in another order, so that a
// byte dropped, altered or written twice shows.
std::string every_byte(int rounds)
{
    std::string bytes;
    for (int r = 0; r < rounds; ++r) {
        for (int b = 0; b < 256; ++b)
            bytes += static_cast<char>((b * (2 * r + 1) + r) & 0xFF);
    }
    return bytes;
}

std::string contents(const std::string &name)
{
    std::string text;
    const int result = filesys::read_regular(name.c_str(), 1 << 20, text);
    EXPECT_EQ(result, 0) << name << ": " << filesys::error_text(result);
    return text;
}

bool exists(const std::string &name)
{
    std::string text;
    return filesys::read_regular(name.c_str(), 1 << 20, text) != -ENOENT;
}

// Writes bytes to name through a data file's handle: write-only, action 0
// truncate, 1 append.
void write_data(const std::string &name, const std::string &bytes, int action)
{
    const int handle = RT_OpenFile(name.c_str(), 2, action, 0);
    ASSERT_GT(handle, 0) << name << ": " << RT_FileErrorText();
    EXPECT_EQ(RT_WriteFile(handle, bytes.data(), static_cast<int>(bytes.size())), static_cast<int>(bytes.size()));
    EXPECT_EQ(RT_CloseFile(handle), 0);
}

std::wstring wide(const std::string &utf8)
{
    std::wstring text;
    EXPECT_TRUE(utf16::from_utf8(utf8, text)) << utf8;
    return text;
}

// The program's current directory is a fresh directory for each test, and
// the one it started in again afterwards.
class WindowsFiles : public ::testing::Test {
protected:
    void SetUp() override
    {
        char start[PATH_LEN];
        ASSERT_EQ(GetDir(start), 0);
        m_start = start;
        char temp[MAX_PATH + 1];
        const DWORD n = GetTempPathA(sizeof temp, temp);
        ASSERT_GT(n, 0u);
        static int tests;
        m_root = std::string(temp, n) + "vorn-files-" + std::to_string(GetCurrentProcessId()) + "-" +
                 std::to_string(++tests);
        ASSERT_EQ(MakeDir(m_root.c_str()), 0) << RT_FileErrorText();
        ASSERT_EQ(SetDir(m_root.c_str()), 0);
    }
    void TearDown() override
    {
        SetDir(m_start.c_str());
        remove_tree(wide(m_root));
    }

    std::string m_start, m_root;
};

TEST_F(WindowsFiles, DataFilesKeepEveryByteAppendedAfterWhatTheyHeld)
{
    const std::string first = every_byte(4), second = every_byte(3).substr(100), third = "\r\n\x1a\n\0end";
    write_data("0453.C01", first, 1); // append creates a missing file
    write_data("0453.C01", second, 1);
    const int handle = RT_OpenFile("0453.C01", 0, 1, 0); // read/write, append
    ASSERT_GT(handle, 0);
    EXPECT_EQ(RT_FileLength(handle), static_cast<long long>(first.size() + second.size()));
    EXPECT_EQ(RT_WriteFile(handle, third.data(), static_cast<int>(third.size())), static_cast<int>(third.size()));
    EXPECT_EQ(RT_CloseFile(handle), 0);
    EXPECT_EQ(contents("0453.C01"), first + second + third);

    write_data("0453.C01", "x", 0); // truncate
    EXPECT_EQ(contents("0453.C01"), "x");
    EXPECT_EQ(RT_OpenFile("missing.C01", 2, 2, 0), -1); // keep: not created
    EXPECT_STREQ(RT_FileErrorText(), "No such file or directory");
    EXPECT_EQ(RT_OpenFile("bad\xff.C01", 2, 1, 0), -1);
    EXPECT_STREQ(RT_FileErrorText(), filesys::error_text(-EILSEQ));
}

TEST_F(WindowsFiles, FileBeingWrittenIsReadableAndMovableMeanwhile)
{
    const std::string before = every_byte(2), after = every_byte(1);
    const int handle = RT_OpenFile("0453.C02", 2, 1, 0);
    ASSERT_GT(handle, 0);
    ASSERT_EQ(RT_WriteFile(handle, before.data(), static_cast<int>(before.size())), static_cast<int>(before.size()));

    std::FILE *reader = RT_OpenRegularFile("0453.C02");
    ASSERT_NE(reader, nullptr);
    std::string seen(before.size() + 1, '\0');
    seen.resize(std::fread(&seen[0], 1, seen.size(), reader));
    std::fclose(reader);
    EXPECT_EQ(seen, before);
    EXPECT_EQ(RT_RenameFile("0453.C02", "moved.C02"), 0);

    ASSERT_EQ(RT_WriteFile(handle, after.data(), static_cast<int>(after.size())), static_cast<int>(after.size()));
    EXPECT_EQ(RT_CloseFile(handle), 0);
    EXPECT_EQ(contents("moved.C02"), before + after);
}

TEST_F(WindowsFiles, ConfigIsReplacedWholeAndRenamesNeverReplace)
{
    write_data("coms.cfg", "an older table", 0);
    write_data("coms.cfg.new", "a leftover", 0);
    SetFileAttributesW(wide(m_root + "\\coms.cfg.new").c_str(), FILE_ATTRIBUTE_READONLY);
    // Fields whose 288 bytes run through every byte value.
    std::string expected;
    for (int port = 1; port <= MAX_PORT; ++port) {
        int *fields[] = {&baudrate[port], &RS232Sel[port], &RS232Disp[port], &HEXDisp[port]};
        for (int *field : fields) {
            const std::size_t at = expected.size();
            for (int k = 0; k < 4; ++k)
                expected += static_cast<char>((at + k) & 0xFF);
            std::memcpy(field, expected.data() + at, 4); // little-endian, as coms.cfg
        }
    }
    write_config();
    EXPECT_EQ(contents("coms.cfg"), expected);
    EXPECT_FALSE(exists("coms.cfg.new"));

    write_data("a.T01", "first", 0);
    write_data("b.T01", "second", 0);
    EXPECT_EQ(RT_RenameFile("a.T01", "b.T01"), RENAME_EXISTS);
    EXPECT_EQ(contents("a.T01"), "first");
    EXPECT_EQ(contents("b.T01"), "second");
    EXPECT_EQ(RT_ReplaceFile("a.T01", "b.T01"), 0);
    EXPECT_EQ(contents("b.T01"), "first");
    EXPECT_FALSE(exists("a.T01"));
}

TEST_F(WindowsFiles, LongStartDirectoryHoldsDayDirectoriesAndTheirFiles)
{
    std::string deep = m_root;
    for (int level = 0; level < 8; ++level) {
        // UTF-8 names, as the program's are on Linux.
        const std::string name = "niveau-\xc3\xa9t\xc3\xa9-" + std::to_string(level) + "-" + std::string(45, 'x');
        ASSERT_EQ(MakeDir(name.c_str()), 0) << deep << ": " << RT_FileErrorText();
        ASSERT_EQ(SetDir(name.c_str()), 0);
        deep += "\\" + name;
    }
    ASSERT_GT(deep.size(), 400u);
    const std::wstring first_level = L"\\\\?\\" + wide(m_root) + L"\\niveau-\u00e9t\u00e9-0-" + std::wstring(45, L'x');
    EXPECT_NE(GetFileAttributesW(first_level.c_str()), INVALID_FILE_ATTRIBUTES) << "named in UTF-16 as in UTF-8";
    char dir[PATH_LEN];
    ASSERT_EQ(GetDir(dir), 0);
    EXPECT_EQ(dir, deep);

    // As a run starts there: the day's directory, a data file in it, and the
    // index beside it in its own directory.
    const std::string bytes = every_byte(8);
    ASSERT_EQ(SetDir(m_root.c_str()), 0);
    ASSERT_EQ(SetDir(deep.c_str()), 0);
    ASSERT_EQ(MakeDir("D045"), 0);
    EXPECT_EQ(MakeDir("D045"), MAKEDIR_EXISTS);
    ASSERT_EQ(SetDir("D045"), 0);
    write_data("04538405.C01", bytes, 1);
    ASSERT_EQ(MakeDir("../T045"), 0);
    write_data("../T045/04538405.C01", bytes.substr(7, 300), 1);
    ASSERT_EQ(SetDir(".."), 0);
    ASSERT_EQ(GetDir(dir), 0);
    EXPECT_EQ(dir, deep);

    EXPECT_EQ(contents("D045/04538405.C01"), bytes);
    EXPECT_EQ(contents("T045\\.\\04538405.C01"), bytes.substr(7, 300));
    std::string slashed = deep;
    for (char &c : slashed)
        c = c == '\\' ? '/' : c;
    EXPECT_EQ(contents(slashed + "/D045/../D045/04538405.C01"), bytes);
}

TEST_F(WindowsFiles, WhatIsNoRegularFileIsRefusedWithoutBeingOpened)
{
    ASSERT_EQ(MakeDir("adir"), 0);
    const std::wstring pipe_name = L"\\\\.\\pipe\\vorn-files-" + std::to_wstring(GetCurrentProcessId());
    WaitingPipe pipe(pipe_name);
    ASSERT_TRUE(pipe.made());
    const std::string pipe_utf8 = "\\\\.\\pipe\\vorn-files-" + std::to_string(GetCurrentProcessId());
    const std::string slashed_pipe = "//./pipe/vorn-files-" + std::to_string(GetCurrentProcessId());

    for (const std::string &name : {std::string("adir"), std::string("NUL"), std::string("con"),
                                    std::string("adir/COM1.txt"), std::string("\\\\.\\COM7"), pipe_utf8, slashed_pipe}) {
        SCOPED_TRACE(name);
        std::string text = "stale";
        EXPECT_EQ(filesys::read_regular(name.c_str(), 1000, text), filesys::NOT_REGULAR);
        EXPECT_EQ(text, "");
        EXPECT_EQ(RT_OpenRegularFile(name.c_str()), nullptr);
        EXPECT_EQ(filesys::permissions(name.c_str()), -1);
        const int created = filesys::create_new(name.c_str(), -1);
        EXPECT_EQ(created, name == "adir" ? -EISDIR : filesys::NOT_REGULAR);
    }

    EXPECT_TRUE(pipe.neverConnected());
}

TEST(WindowsFileNames, NamesResolveAgainstTheProgramsDirectory)
{
    struct Row {
        const char *cwd, *name;
        Kind kind;
        const char *path;
    };
    const Row rows[] = {
        {"C:\\data", "D045/04538405.C01", Kind::Disk, "\\\\?\\C:\\data\\D045\\04538405.C01"},
        {"C:\\data\\D045", "../T045/x.C01", Kind::Disk, "\\\\?\\C:\\data\\T045\\x.C01"},
        {"C:\\data", "..\\..\\..\\x", Kind::Disk, "\\\\?\\C:\\x"},
        {"C:\\data", "./a//b/.", Kind::Disk, "\\\\?\\C:\\data\\a\\b"},
        {"C:\\data", "dir./name. .", Kind::Disk, "\\\\?\\C:\\data\\dir\\name"},
        {"C:\\data", "/x", Kind::Disk, "\\\\?\\C:\\x"},
        {"C:\\data", "D:/y\\z", Kind::Disk, "\\\\?\\D:\\y\\z"},
        {"C:\\data", "c:rel", Kind::Disk, "\\\\?\\c:\\data\\rel"},
        {"C:\\data", "D:rel", Kind::Disk, "\\\\?\\D:\\rel"},
        {"C:\\", "..", Kind::Disk, "\\\\?\\C:\\"},
        {"\\\\srv\\share\\d", "f", Kind::Disk, "\\\\?\\UNC\\srv\\share\\d\\f"},
        {"\\\\srv\\share\\d", "/f/../..", Kind::Disk, "\\\\?\\UNC\\srv\\share\\"},
        {"C:\\data", "//srv/share/f", Kind::Disk, "\\\\?\\UNC\\srv\\share\\f"},
        {"C:\\data", "\\\\?\\C:\\as\\..\\is", Kind::Disk, "\\\\?\\C:\\as\\..\\is"},
        {"C:\\data", "\\\\.\\C:\\a/../b", Kind::Disk, "\\\\?\\C:\\b"},
        {"C:\\data", "COMET.C01", Kind::Disk, "\\\\?\\C:\\data\\COMET.C01"},
        {"C:\\data", "nul", Kind::Device, "\\\\.\\NUL"},
        {"C:\\data", "sub/com1 .txt", Kind::Device, "\\\\.\\COM1"},
        {"C:\\data", "\\\\.\\pipe\\p", Kind::Device, "\\\\.\\pipe\\p"},
        {"C:\\data", "//./COM7", Kind::Device, "\\\\.\\COM7"},
        {"C:\\data", "\\\\?\\GLOBALROOT\\Device\\Null", Kind::Device, "\\\\?\\GLOBALROOT\\Device\\Null"},
        {"C:\\data", "\\\\srv\\PIPE\\p", Kind::Device, "\\\\srv\\PIPE\\p"},
        {"C:\\data", "", Kind::Invalid, ""},
        {"C:\\data", "\\\\srv", Kind::Invalid, ""},
    };
    for (const Row &row : rows) {
        const filesys::win32::Target target = filesys::win32::resolve(row.cwd, row.name);
        EXPECT_EQ(target.kind, row.kind) << row.cwd << " + " << row.name;
        EXPECT_EQ(target.path, row.path) << row.cwd << " + " << row.name;
    }
    EXPECT_EQ(filesys::win32::plain("\\\\?\\C:\\"), "C:\\");
    EXPECT_EQ(filesys::win32::plain("\\\\?\\C:\\data\\"), "C:\\data");
    EXPECT_EQ(filesys::win32::plain("\\\\?\\UNC\\srv\\share\\d"), "\\\\srv\\share\\d");
}

TEST(WindowsFileErrors, Win32CodesBecomeErrnoWithLinuxTexts)
{
    const struct {
        unsigned long win32;
        int error;
    } rows[] = {
        {ERROR_FILE_NOT_FOUND, -ENOENT},     {ERROR_PATH_NOT_FOUND, -ENOENT},
        {ERROR_ACCESS_DENIED, -EACCES},      {ERROR_SHARING_VIOLATION, -EBUSY},
        {ERROR_DISK_FULL, -ENOSPC},          {ERROR_HANDLE_DISK_FULL, -ENOSPC},
        {1295 /* disk quota */, -ENOSPC},    {ERROR_ALREADY_EXISTS, -EEXIST},
        {ERROR_FILE_EXISTS, -EEXIST},        {ERROR_DIRECTORY, -ENOTDIR},
        {ERROR_FILENAME_EXCED_RANGE, -ENAMETOOLONG}, {ERROR_NO_UNICODE_TRANSLATION, -EILSEQ},
        {ERROR_INVALID_NAME, -EINVAL},       {ERROR_NOT_SAME_DEVICE, -EXDEV},
        {ERROR_WRITE_PROTECT, -EROFS},       {ERROR_DIR_NOT_EMPTY, -ENOTEMPTY},
        {ERROR_INVALID_HANDLE, -EBADF},      {ERROR_CRC, -EIO},
    };
    for (const auto &row : rows)
        EXPECT_EQ(filesys::win32::errno_of(row.win32), row.error) << "Win32 error " << row.win32;

    EXPECT_STREQ(filesys::error_text(-ENOSPC), "No space left on device");
    EXPECT_STREQ(filesys::error_text(-ENAMETOOLONG), "File name too long");
    EXPECT_STREQ(filesys::error_text(-EILSEQ), "Invalid or incomplete multibyte or wide character");
    EXPECT_STREQ(filesys::error_text(filesys::NOT_REGULAR), "not a regular file");
}

} // namespace
