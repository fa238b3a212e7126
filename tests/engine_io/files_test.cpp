// Files and directories: data files are appended to, unbuffered, so what was
// written survives the process; directories are made and entered.
#include "engine.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using testing_support::file_exists;
using testing_support::read_file;
using testing_support::TempDir;
using testing_support::write_file;

namespace {

// Opens, writes everything, closes; false on any failure.
bool write_whole(const std::string &name, int action, const std::string &bytes)
{
    const int h = RT_OpenFile(name.c_str(), 2, action, 0);
    if (h <= 0)
        return false;
    const bool ok = RT_WriteFile(h, bytes.data(), static_cast<int>(bytes.size())) == static_cast<int>(bytes.size());
    return RT_CloseFile(h) == 0 && ok;
}

} // namespace

// --- Opening

struct OpenCase {
    const char *what;
    int action;
    bool existing;        // the file exists beforehand, holding "earlier|"
    const char *expected; // contents after writing "later"
};

PRINTED_AS_WHAT(OpenCase)

class FileOpenAction : public ::testing::TestWithParam<OpenCase> {};

TEST_P(FileOpenAction, KeepsOrReplacesEarlierContents)
{
    const OpenCase &c = GetParam();
    TempDir dir;
    if (c.existing)
        write_file("data.txt", "earlier|");
    ASSERT_TRUE(write_whole("data.txt", c.action, "later"));
    EXPECT_EQ(read_file("data.txt"), c.expected);
}

INSTANTIATE_TEST_SUITE_P(Actions, FileOpenAction,
                         ::testing::Values(OpenCase{"AppendExisting", 1, true, "earlier|later"},
                                           OpenCase{"AppendMissing", 1, false, "later"},
                                           OpenCase{"TruncateExisting", 0, true, "later"},
                                           OpenCase{"TruncateMissing", 0, false, "later"}),
                         [](const auto &info) { return std::string(info.param.what); });

TEST(FileOpen, AppendingTwiceKeepsBothRuns)
{
    TempDir dir;
    ASSERT_TRUE(write_whole("run.dat", 1, "first run\r\n"));
    ASSERT_TRUE(write_whole("run.dat", 1, "second run\r\n"));
    EXPECT_EQ(read_file("run.dat"), "first run\r\nsecond run\r\n");
}

TEST(FileOpen, KeepDoesNotCreateAMissingFile)
{
    TempDir dir;
    DisableBreakOnLibraryErrors();
    EXPECT_EQ(RT_OpenFile("missing.dat", 2, 2, 0), -1);
    EXPECT_FALSE(file_exists("missing.dat"));
}

TEST(FileOpen, HandlesAreSmallPositiveAndDistinct)
{
    TempDir dir;
    const int a = RT_OpenFile("a.dat", 2, 1, 0);
    const int b = RT_OpenFile("b.dat", 2, 1, 1);
    EXPECT_GE(a, 1);
    EXPECT_GE(b, 1);
    EXPECT_LE(a, 64);
    EXPECT_LE(b, 64);
    EXPECT_NE(a, b);
    // Each handle writes its own file.
    EXPECT_EQ(RT_WriteFile(a, "A", 1), 1);
    EXPECT_EQ(RT_WriteFile(b, "B", 1), 1);
    EXPECT_EQ(RT_CloseFile(a), 0);
    EXPECT_EQ(RT_CloseFile(b), 0);
    EXPECT_EQ(read_file("a.dat"), "A");
    EXPECT_EQ(read_file("b.dat"), "B");
}

TEST(FileOpen, EighteenPortsWithRolloverNeverRunOutOfHandles)
{
    TempDir dir;
    // A day of hourly files for 18 ports, each closed before the next opens.
    for (int hour = 0; hour < 24; ++hour) {
        int handles[18];
        for (int port = 0; port < 18; ++port) {
            const std::string name = "p" + std::to_string(port) + "h" + std::to_string(hour);
            handles[port] = RT_OpenFile(name.c_str(), 2, 1, 0);
            ASSERT_GT(handles[port], 0) << name;
        }
        for (int h : handles)
            ASSERT_EQ(RT_CloseFile(h), 0);
    }
}

struct BadOpen {
    const char *what;
    const char *name;
    int mode, action, type;
};

PRINTED_AS_WHAT(BadOpen)

class FileOpenFailure : public ::testing::TestWithParam<BadOpen> {};

TEST_P(FileOpenFailure, GivesMinusOne)
{
    const BadOpen &c = GetParam();
    TempDir dir;
    ASSERT_EQ(mkdir("subdir", 0777), 0);
    DisableBreakOnLibraryErrors();
    EXPECT_EQ(RT_OpenFile(c.name, c.mode, c.action, c.type), -1);
    EXPECT_FALSE(file_exists("no-such-dir"));
}

INSTANTIATE_TEST_SUITE_P(Causes, FileOpenFailure,
                         ::testing::Values(BadOpen{"MissingDirectory", "no-such-dir/data.txt", 2, 1, 0},
                                           BadOpen{"DirectoryName", "subdir", 2, 1, 0},
                                           BadOpen{"NullName", nullptr, 2, 1, 0},
                                           BadOpen{"BadMode", "x.dat", 3, 1, 0},
                                           BadOpen{"BadAction", "x.dat", 2, 3, 0},
                                           BadOpen{"BadType", "x.dat", 2, 1, 2}),
                         [](const auto &info) { return std::string(info.param.what); });

// --- Writing

TEST(FileWrite, WritesEveryByteValueUnaltered)
{
    TempDir dir;
    // Text type too: this platform translates nothing.
    for (int type : {0, 1}) {
        const std::string name = "bytes" + std::to_string(type);
        const int h = RT_OpenFile(name.c_str(), 2, 0, type);
        ASSERT_GT(h, 0);
        const std::string bytes = testing_support::byte_values();
        EXPECT_EQ(RT_WriteFile(h, bytes.data(), 256), 256);
        EXPECT_EQ(RT_CloseFile(h), 0);
        EXPECT_TRUE(read_file(name) == bytes) << "type " << type;
    }
}

TEST(FileWrite, WritesAMebibyteInOneCall)
{
    TempDir dir;
    std::string big(1 << 20, '\0');
    for (std::size_t i = 0; i < big.size(); ++i)
        big[i] = static_cast<char>((i * 7) ^ (i >> 8));
    const int h = RT_OpenFile("big.dat", 2, 0, 0);
    ASSERT_GT(h, 0);
    EXPECT_EQ(RT_WriteFile(h, big.data(), static_cast<int>(big.size())), static_cast<int>(big.size()));
    EXPECT_EQ(RT_WriteFile(h, big.data(), 0), 0);
    EXPECT_EQ(RT_CloseFile(h), 0);
    EXPECT_TRUE(read_file("big.dat") == big);
}

TEST(FileWrite, BadHandlesAreRefused)
{
    TempDir dir;
    DisableBreakOnLibraryErrors();
    const int h = RT_OpenFile("x.dat", 2, 0, 0);
    ASSERT_GT(h, 0);
    ASSERT_EQ(RT_CloseFile(h), 0);
    for (int bad : {0, -1, 65, 9999, h}) {
        EXPECT_EQ(RT_WriteFile(bad, "x", 1), -1) << bad;
        EXPECT_EQ(RT_CloseFile(bad), -1) << bad;
    }
    EXPECT_EQ(read_file("x.dat"), "");
}

TEST(FileWrite, ReadOnlyHandleCannotWrite)
{
    TempDir dir;
    write_file("ro.dat", "keep");
    DisableBreakOnLibraryErrors();
    const int h = RT_OpenFile("ro.dat", 1, 0, 0);
    ASSERT_GT(h, 0);
    EXPECT_EQ(RT_WriteFile(h, "x", 1), -1);
    EXPECT_EQ(RT_CloseFile(h), 0);
    // Opening for reading never truncates.
    EXPECT_EQ(read_file("ro.dat"), "keep");
}

TEST(FileWrite, WrittenBytesSurviveTheWriterBeingKilled)
{
    TempDir dir;
    std::string bytes;
    for (int i = 0; i < 1000; ++i)
        bytes += "$GPGGA," + std::to_string(i) + ",4807.038,N,01131.000,E*47\r\n";
    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        // The file services need no user interface: nothing else is started.
        const int h = RT_OpenFile("log.dat", 2, 1, 0);
        for (std::size_t at = 0; h > 0 && at < bytes.size(); at += 100)
            RT_WriteFile(h, bytes.data() + at, static_cast<int>(std::min<std::size_t>(100, bytes.size() - at)));
        const char done = 1;
        if (write(ready[1], &done, 1) != 1)
            _exit(1);
        for (;;)
            pause(); // still holding the file open when killed
    }
    close(ready[1]);
    char byte = 0;
    ASSERT_EQ(read(ready[0], &byte, 1), 1);
    close(ready[0]);
    ASSERT_EQ(kill(child, SIGKILL), 0);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFSIGNALED(status));
    EXPECT_TRUE(read_file("log.dat") == bytes) << read_file("log.dat").size() << " of " << bytes.size();
}

TEST(FileWrite, DiskFillingPartWayCountsWhatWasWritten)
{
    // The file may grow to 50 bytes only, as on a disk with 50 bytes left:
    // the 50 that reached the file are counted, so nothing is written twice.
    TempDir dir;
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{50, 50};
        setrlimit(RLIMIT_FSIZE, &limit);
        DisableBreakOnLibraryErrors();
        const int h = RT_OpenFile("full.dat", 2, 0, 0);
        const std::string bytes(100, 'x');
        const int first = RT_WriteFile(h, bytes.data(), 100);
        const int second = RT_WriteFile(h, bytes.data(), 10);
        _exit(first == 50 && second == -1 ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_EQ(testing_support::read_file("full.dat"), std::string(50, 'x'));
}

// --- Directories

TEST(Directories, MakeDirTellsCreatedFromExisting)
{
    TempDir dir;
    DisableBreakOnLibraryErrors();
    EXPECT_EQ(MakeDir("day"), 0);
    EXPECT_TRUE(testing_support::is_directory("day"));
    EXPECT_EQ(MakeDir("day"), MAKEDIR_EXISTS);
    write_file("plain", "");
    const int onFile = MakeDir("plain");
    EXPECT_LT(onFile, 0);
    EXPECT_NE(onFile, MAKEDIR_EXISTS);
    const int noParent = MakeDir("missing/day");
    EXPECT_LT(noParent, 0);
    EXPECT_NE(noParent, MAKEDIR_EXISTS);
    EXPECT_FALSE(file_exists("missing"));
}

TEST(Directories, SetDirAndGetDirAgree)
{
    TempDir dir;
    DisableBreakOnLibraryErrors();
    ASSERT_EQ(MakeDir("2024060"), 0);
    ASSERT_EQ(SetDir("2024060"), 0);
    char here[PATH_LEN];
    ASSERT_EQ(GetDir(here), 0);
    EXPECT_EQ(std::string(here), dir.path() + "/2024060");
    EXPECT_EQ(SetDir("no-such-dir"), -1);
    ASSERT_EQ(GetDir(here), 0);
    EXPECT_EQ(std::string(here), dir.path() + "/2024060") << "a failed SetDir moved";
    EXPECT_EQ(SetDir(dir.path().c_str()), 0);
    ASSERT_EQ(GetDir(here), 0);
    EXPECT_EQ(std::string(here), dir.path());
}

TEST(Directories, GetDirFailsCleanlyWhenTheBufferIsTooSmall)
{
    TempDir dir;
    DisableBreakOnLibraryErrors();
    char tiny[8] = "garbage";
    EXPECT_EQ(GetDir(tiny), -1);
    EXPECT_STREQ(tiny, "");
    // Exactly the path and its zero fits; one less does not.
    const std::size_t need = dir.path().size() + 1;
    std::vector<char> buffer(need, 'x');
    EXPECT_EQ(GetDirInto(buffer.data(), need), 0);
    EXPECT_EQ(std::string(buffer.data()), dir.path());
    EXPECT_EQ(GetDirInto(buffer.data(), need - 1), -1);
    EXPECT_EQ(buffer[0], '\0');
}
