// Files read at start-up and files replaced whole: only a regular file is
// read, and a replacement is made afresh, never through a link, then takes
// the old file's place in one step.
#include "engine.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <sys/stat.h>
#include <unistd.h>

using testing_support::file_exists;
using testing_support::read_file;
using testing_support::TempDir;
using testing_support::write_file;

class StartupFile : public ::testing::TestWithParam<testing_support::Hostile> {};

TEST_P(StartupFile, OnlyARegularFileIsOpenedAndNothingWaits)
{
    const testing_support::Hostile kind = GetParam();
    TempDir dir;
    testing_support::make_hostile("table", kind);
    ::testing::internal::CaptureStderr();
    std::FILE *file = RT_OpenRegularFile("table");
    const std::string err = ::testing::internal::GetCapturedStderr();
    if (kind == testing_support::Hostile::Huge) {
        // A large regular file is the reader's to read as far as it wants.
        ASSERT_NE(file, nullptr);
        EXPECT_EQ(std::fgetc(file), 0);
        std::fclose(file);
        EXPECT_EQ(err, "");
        return;
    }
    EXPECT_EQ(file, nullptr);
    EXPECT_EQ(err, "vornacq4: table: not a regular file; not read\n");
}

INSTANTIATE_TEST_SUITE_P(Kinds, StartupFile, ::testing::ValuesIn(testing_support::all_hostile()),
                         [](const auto &info) { return std::string(testing_support::hostile_name(info.param)); });

TEST(FileReplace, ReplacementIsMadeAfreshWithTheOldPermissionsNeverThroughALink)
{
    TempDir dir;
    ASSERT_EQ(mkdir("elsewhere", 0755), 0);
    write_file("elsewhere/victim", "not yours");
    write_file("table", "old table");
    ASSERT_EQ(chmod("table", 0640), 0);
    ASSERT_EQ(symlink(dir.file("elsewhere/victim").c_str(), "table.new"), 0);
    const mode_t before = umask(077); // would narrow the bits of a file made as usual

    std::FILE *f = RT_CreateReplacement("table.new", "table");
    umask(before);
    ASSERT_NE(f, nullptr);
    std::fputs("new table", f);
    std::fclose(f);
    EXPECT_EQ(read_file("elsewhere/victim"), "not yours");
    EXPECT_EQ(RT_ReplaceFile("table.new", "table"), 0);
    EXPECT_EQ(read_file("table"), "new table");
    struct stat st;
    ASSERT_EQ(lstat("table", &st), 0);
    EXPECT_TRUE(S_ISREG(st.st_mode));
    EXPECT_EQ(st.st_mode & 0777, 0640u);
}

TEST(FileReplace, NewContentsTakeTheOldFilesPlaceWhole)
{
    TempDir dir;
    write_file("table", "old table");
    std::FILE *f = std::fopen("table.new", "wb");
    ASSERT_NE(f, nullptr);
    std::fputs("new table", f);
    EXPECT_EQ(RT_SyncFile(f), 0);
    std::fclose(f);
    EXPECT_EQ(read_file("table.new"), "new table") << "synced means written out";
    EXPECT_EQ(RT_ReplaceFile("table.new", dir.file("table").c_str()), 0);
    EXPECT_EQ(read_file("table"), "new table");
    EXPECT_FALSE(file_exists("table.new"));
}

TEST(FileReplace, FailuresLeaveTheOldFileAlone)
{
    TempDir dir;
    DisableBreakOnLibraryErrors();
    write_file("table", "old table");
    EXPECT_EQ(RT_ReplaceFile("missing.new", "table"), -1);
    EXPECT_EQ(read_file("table"), "old table");
    std::FILE *full = std::fopen("/dev/full", "wb");
    ASSERT_NE(full, nullptr);
    std::fputs("does not fit", full);
    EXPECT_EQ(RT_SyncFile(full), -1) << "a full disk is reported";
    std::fclose(full);
    EXPECT_EQ(RT_SyncFile(nullptr), -1);
    EnableBreakOnLibraryErrors();
}
