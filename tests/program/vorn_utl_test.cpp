// Days of the year, day directories, data-file names and opening data files.
#include "logger_fixture.h"

#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

using testing_support::file_exists;
using testing_support::is_directory;
using testing_support::read_file;
using testing_support::write_file;

namespace {

std::string current_dir()
{
    char dir[PATH_LEN];
    return GetDir(dir) == 0 ? std::string(dir) : std::string();
}

} // namespace

TEST(Calendar, LeapYearsFollowTheGregorianRule)
{
    const struct {
        int year, leap;
    } cases[] = {{2000, 1}, {1900, 0}, {2100, 0}, {2024, 1}, {2023, 0}, {2400, 1}, {1996, 1}};
    for (const auto &c : cases)
        EXPECT_EQ(isleap(c.year), c.leap) << c.year;
}

TEST(Calendar, DayOfYearCountsFromFirstJanuary)
{
    const struct {
        int month, day, year, expected;
    } cases[] = {
        {1, 1, 2023, 1},    {1, 31, 2023, 31},   {2, 1, 2023, 32},   {2, 29, 2024, 60},
        {3, 1, 2023, 60},   {3, 1, 2024, 61},    {12, 31, 2023, 365}, {12, 31, 2024, 366},
        {2, 14, 2024, 45},  {12, 8, 2026, 342},  {7, 4, 2000, 186},  {3, 1, 1900, 60},
    };
    for (const auto &c : cases)
        EXPECT_EQ(calc_julian(c.month, c.day, c.year), c.expected) << c.year << "-" << c.month << "-" << c.day;
}

class DayChange : public LoggerTest {
};

TEST_F(DayChange, FirstCheckSetsTodayAndLaterChecksSeeOnlyANewDay)
{
    SeamSetClock(2024, 12, 31, 23, 59, 59);
    EXPECT_EQ(ck_julian(), 0);
    EXPECT_EQ(jday, 366);
    SeamSetClock(2024, 12, 31, 0, 0, 0);
    EXPECT_EQ(ck_julian(), 1);
    EXPECT_EQ(jday, 366);
    SeamSetClock(2025, 1, 1, 0, 0, 0);
    EXPECT_EQ(ck_julian(), 0);
    EXPECT_EQ(jday, 1);
    SeamSetClock(2026, 1, 1, 12, 0, 0); // only the day of year counts, not the year
    EXPECT_EQ(ck_julian(), 1);
}

class FileNames : public LoggerTest {
};

TEST_F(FileNames, NameCarriesDayOfYearSecondsOfDayAndPort)
{
    const struct {
        int year, month, day, hour, minute, second, port;
        const char *name;
    } cases[] = {
        {2024, 2, 14, 0, 1, 5, 7, "04500065.C07"},
        {2024, 2, 14, 0, 1, 5, 12, "04500065.C12"},
        {2023, 1, 1, 0, 0, 0, 1, "00100000.C01"},
        {2024, 12, 31, 23, 59, 59, 18, "36686399.C18"},
        {2023, 12, 31, 12, 0, 0, 9, "36543200.C09"},
    };
    for (const auto &c : cases) {
        SeamSetClock(c.year, c.month, c.day, c.hour, c.minute, c.second);
        create_fn_base();
        char name[PATH_LEN];
        std::memset(name, 'z', sizeof name);
        create_fn(name, c.port);
        EXPECT_STREQ(name, c.name);
        EXPECT_EQ(std::string(file_nm_base), std::string(c.name, 10));
    }
}

TEST_F(FileNames, DayDirectoryIsMadeInTheBaseDirectoryAndEntered)
{
    GetDir(base_dir);
    const struct {
        int day;
        const char *dir;
    } cases[] = {{1, "D001"}, {45, "D045"}, {366, "D366"}};
    for (const auto &c : cases) {
        jday = c.day;
        ASSERT_EQ(create_ddr(), 1);
        EXPECT_STREQ(data_dir, c.dir);
        EXPECT_EQ(current_dir(), start_dir() + "/" + c.dir);
        ASSERT_EQ(back_ddr(), 1);
        EXPECT_EQ(current_dir(), start_dir());
    }
    EXPECT_TRUE(SeamPopupsShown().empty());
}

TEST_F(FileNames, ExistingDayDirectoryIsEnteredAndKeepsItsFiles)
{
    GetDir(base_dir);
    ASSERT_EQ(mkdir("D045", 0755), 0);
    write_file("D045/old", "kept");
    jday = 45;
    ASSERT_EQ(create_ddr(), 1);
    EXPECT_EQ(read_file("old"), "kept");
    EXPECT_TRUE(SeamPopupsShown().empty());
}

TEST_F(FileNames, DayDirectoryThatCannotBeMadeShowsTheDiskErrorAndFails)
{
    GetDir(base_dir);
    write_file("D045", "a plain file in the way");
    jday = 45;
    EXPECT_EQ(create_ddr(), 0);
    EXPECT_EQ(current_dir(), start_dir());
    ASSERT_EQ(SeamPopupsShown().size(), 1u);
    EXPECT_EQ(SeamPopupsShown()[0].kind, "message");
    EXPECT_EQ(SeamPopupsShown()[0].title, "Disk ERROR!");
    EXPECT_EQ(SeamPopupsShown()[0].message, "A Data Subdirectory Error has occured, Quiting!");
}

TEST_F(FileNames, LostBaseDirectoryShowsTheDiskErrorAndFails)
{
    std::strcpy(base_dir, (start_dir() + "/gone").c_str());
    EXPECT_EQ(back_ddr(), 0);
    ASSERT_EQ(SeamPopupsShown().size(), 1u);
    EXPECT_EQ(SeamPopupsShown()[0].title, "Disk ERROR!");
    EXPECT_EQ(SeamPopupsShown()[0].message, "Cannot Return to Base Directory, Quiting!");
}

class DataFile : public LoggerTest {
protected:
    void SetUp() override
    {
        LoggerTest::SetUp();
        start_logger();
    }

    void prepare(int port, int slot, int rate, const char *name)
    {
        RS232Disp[port] = slot;
        baudrate[port] = rate;
        file_stat[port] = 1;
        std::strcpy(file_name[port], name);
    }
};

TEST_F(DataFile, OpenedFileLabelsTheDisplaySlot)
{
    prepare(12, 4, 115200, "04538405.C12");
    EXPECT_EQ(ck_file_stat(12), 255);
    EXPECT_GT(file_handle[12], 0);
    EXPECT_TRUE(file_exists("04538405.C12"));
    const int led = pl_idx[4], box = pc_idx[4], nameBox = pf_idx[4];
    EXPECT_EQ(led, 10);
    EXPECT_EQ(SeamCtrlLabel(panelHandle, led), "COMM12 Logging");
    EXPECT_EQ(SeamCtrlValue(panelHandle, led), 1);
    EXPECT_EQ(SeamCtrlAttribute(panelHandle, led, ATTR_ON_COLOR), COLOR_GREEN);
    EXPECT_EQ(SeamCtrlLabel(panelHandle, box), "COMM12 @ 115200 Baud");
    EXPECT_EQ(SeamCtrlText(panelHandle, nameBox), "04538405.C12");
    EXPECT_TRUE(SeamPopupsShown().empty());
}

TEST_F(DataFile, PortWithoutSlotGetsItsFileAndLeavesThePanelAlone)
{
    std::vector<std::string> labels;
    for (int slot = 1; slot <= MAX_SLOT; ++slot)
        labels.push_back(SeamCtrlLabel(panelHandle, pl_idx[slot]) + SeamCtrlLabel(panelHandle, pc_idx[slot]) +
                         SeamCtrlText(panelHandle, pf_idx[slot]));
    prepare(7, 0, 9600, "04538405.C07");
    EXPECT_EQ(ck_file_stat(7), 255);
    EXPECT_TRUE(file_exists("04538405.C07"));
    for (int slot = 1; slot <= MAX_SLOT; ++slot)
        EXPECT_EQ(SeamCtrlLabel(panelHandle, pl_idx[slot]) + SeamCtrlLabel(panelHandle, pc_idx[slot]) +
                      SeamCtrlText(panelHandle, pf_idx[slot]),
                  labels[slot - 1]);
}

TEST_F(DataFile, ExistingFileOfTheSameNameKeepsItsBytes)
{
    // Names carry no year: the same name a year later must not destroy the
    // earlier recording.
    write_file("04538405.C03", std::string("last year\r\n\0\xff", 13));
    prepare(3, 0, 9600, "04538405.C03");
    ASSERT_EQ(ck_file_stat(3), 255);
    ASSERT_EQ(RT_WriteFile(file_handle[3], "this year", 9), 9);
    EXPECT_EQ(read_file("04538405.C03"), std::string("last year\r\n\0\xffthis year", 22));
}

TEST_F(DataFile, FileThatCannotBeOpenedAsksWhetherToGoOn)
{
    for (int answer : {1, 0}) {
        SeamClearPopups();
        SeamAnswerPopups(answer);
        const std::string name = answer ? "04538405.C07" : "04538405.C08";
        ASSERT_EQ(mkdir(name.c_str(), 0755), 0); // a directory in the file's place
        const int port = answer ? 7 : 8;
        prepare(port, 2, 9600, name.c_str());
        const std::string ledLabel = SeamCtrlLabel(panelHandle, pl_idx[2]);

        EXPECT_EQ(ck_file_stat(port), answer ? 255 : 0);
        EXPECT_EQ(file_handle[port], -1);
        EXPECT_EQ(file_stat[port], answer ? 0 : 1);
        ASSERT_EQ(SeamPopupsShown().size(), 1u);
        EXPECT_EQ(SeamPopupsShown()[0].kind, "confirm");
        EXPECT_EQ(SeamPopupsShown()[0].title, answer ? "FILE 7 ERROR" : "FILE 8 ERROR");
        EXPECT_EQ(SeamPopupsShown()[0].message, "CONTINUE");
        EXPECT_EQ(SeamCtrlLabel(panelHandle, pl_idx[2]), ledLabel) << "the panel is not changed";
        EXPECT_EQ(SeamCtrlValue(panelHandle, pl_idx[2]), 0);
    }
}
