// The order in which the uplink follows a port's files, over real files:
// round the New Year (D365 or D366, then D001, a set named just past
// midnight in the old day's directory), past last year's files in the same
// day directories (neither followed nor counted behind, unless the logger
// opened one again and appended to it), over a missing day, and on to the
// file the logger writes now when the clock was set back.
#include "engine.h"
#include "engine_seams.h"
#include "net/mqtt_link.h"
#include "net/uplink_files.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using testing_support::TempDir;
using testing_support::write_file;

namespace {

// "YYYY-MM-DD hh:mm:ss" local time, as seconds since 1970.
std::time_t local(const char *text)
{
    std::tm t{};
    std::sscanf(text, "%d-%d-%d %d:%d:%d", &t.tm_year, &t.tm_mon, &t.tm_mday, &t.tm_hour, &t.tm_min, &t.tm_sec);
    t.tm_year -= 1900;
    t.tm_mon -= 1;
    t.tm_isdst = -1;
    return std::mktime(&t);
}

struct File {
    const char *name;     // "Dddd/dddsssss.C01"
    const char *modified; // local time
    int size;
};

struct OrderCase {
    const char *what;
    const char *now;            // the local time the uplink sees
    std::vector<File> files;
    const char *from;           // a file, or a run's start key
    const char *next;           // what follows it ("" for none)
    long long behind;           // bytes past the end of `from` (or past a start key)
    const char *before;         // the file before `next`
};

const OrderCase kCases[] = {
    {"D365 then the set named past midnight in D365, then D001", "2027-01-01 00:01:30",
     {{"D365/36586340.C01", "2026-12-31 23:59:59", 10},
      {"D365/00100000.C01", "2027-01-01 00:00:59", 20},
      {"D001/00100060.C01", "2027-01-01 00:01:30", 30}},
     "D365/36586340.C01", "D365/00100000.C01", 50, "D365/36586340.C01"},
    {"a leap year's D366, then D001", "2029-01-01 00:30:00",
     {{"D365/36586340.C01", "2028-12-30 23:59:59", 10},
      {"D366/36600000.C01", "2028-12-31 23:59:59", 20},
      {"D001/00100000.C01", "2029-01-01 00:30:00", 30}},
     "D365/36586340.C01", "D366/36600000.C01", 50, "D365/36586340.C01"},
    {"last year's later hours and days are not the current file's successors", "2027-01-15 10:30:00",
     {{"D014/01482800.C01", "2027-01-14 23:59:59", 5},
      {"D015/01536000.C01", "2027-01-15 10:30:00", 10},
      {"D015/01539600.C01", "2026-01-15 11:59:59", 20},
      {"D016/01600000.C01", "2026-01-16 00:59:59", 30}},
     "D015/01536000.C01", "", 0, ""},
    {"a run's start key takes this run's file, not last year's", "2027-01-15 10:30:00",
     {{"D014/01482800.C01", "2027-01-14 23:59:59", 5},
      {"D015/01532400.C01", "2026-01-15 09:59:59", 40},
      {"D015/01536000.C01", "2027-01-15 10:30:00", 10},
      {"D015/01539600.C01", "2026-01-15 11:59:59", 20}},
     "D015/01536000", "D015/01536000.C01", 10, "D014/01482800.C01"},
    {"last year's name appended to this year follows", "2027-01-15 11:30:00",
     {{"D015/01536000.C01", "2027-01-15 11:00:00", 10},
      {"D015/01539600.C01", "2027-01-15 11:30:00", 25},
      {"D016/01600000.C01", "2026-01-16 00:59:59", 30}},
     "D015/01536000.C01", "D015/01539600.C01", 25, "D015/01536000.C01"},
    {"a day without its directory is passed over", "2027-03-03 00:10:00",
     {{"D060/06086340.C01", "2027-03-01 23:59:59", 10},
      {"D062/06200000.C01", "2027-03-03 00:10:00", 20}},
     "D060/06086340.C01", "D062/06200000.C01", 20, "D060/06086340.C01"},
};

void PrintTo(const OrderCase &c, std::ostream *out)
{
    *out << c.what;
}

class UplinkOrder : public ::testing::TestWithParam<OrderCase> {
protected:
    void SetUp() override { testing_support::start_engine(); }
    void TearDown() override { SeamUseRealClock(); }

    void make(const File &f)
    {
        ::mkdir((m_dir.path() + "/" + std::string(f.name, 4)).c_str(), 0755);
        const std::string path = m_dir.path() + "/" + f.name;
        write_file(path, std::string(static_cast<std::size_t>(f.size), 'x'));
        const timespec times[2] = {{local(f.modified), 0}, {local(f.modified), 0}};
        ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0) << path;
    }
    void set_clock(const char *now)
    {
        std::tm t{};
        const std::time_t at = local(now);
        localtime_r(&at, &t);
        SeamSetClock(t.tm_year + 1900, t.tm_mon + 1, t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec);
    }

    TempDir m_dir;
};

} // namespace

TEST_P(UplinkOrder, FollowsTheFilesInTheOrderTheyWereWritten)
{
    const OrderCase &c = GetParam();
    for (const File &f : c.files)
        make(f);
    set_clock(c.now);
    const std::string dir = m_dir.path(), from = c.from;
    EXPECT_EQ(uplink::next_file(dir, 1, from), c.next);
    long long fromSize = 0;
    for (const File &f : c.files)
        fromSize = from == f.name ? f.size : fromSize;
    EXPECT_EQ(uplink::bytes_behind(dir, 1, uplink::Position{from, fromSize, 0, false}), c.behind);
    if (*c.next != '\0') {
        EXPECT_EQ(uplink::previous_file(dir, 1, c.next), c.before);
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, UplinkOrder, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<OrderCase> &info) {
                             return "Case" + std::to_string(info.index);
                         });

TEST(UplinkOrder, DaysFollowRoundTheYearAndWithinADayByTheNamesTime)
{
    EXPECT_GT(mqtt_link::file_order("D001/00100000.C01", "D365/36586340.C01"), 0);
    EXPECT_GT(mqtt_link::file_order("D001/00100000.C01", "D366/36686340.C01"), 0);
    EXPECT_LT(mqtt_link::file_order("D200/20000000.C01", "D015/01500000.C01"), 0); // more than half a year on: earlier
    EXPECT_GT(mqtt_link::file_order("D365/00100000.C01", "D365/36586399.C01"), 0); // named past midnight
    EXPECT_LT(mqtt_link::file_order("D045/04500060.C01", "D045/04500120.C01"), 0);
    EXPECT_LT(mqtt_link::file_order("", "D045/04500120.C01"), 0);
}

// The clock set back: no file is written after the last one, so the uplink
// goes on with the file the logger has open now, and says so.
TEST(UplinkOrderClock, SetBackGoesOnWithTheLoggersFileAndSaysSo)
{
    testing_support::start_engine();
    TempDir dir;
    ::mkdir("D015", 0755);
    write_file("D015/01539600.C01", "before");
    const timespec later[2] = {{local("2027-01-15 11:05:00"), 0}, {local("2027-01-15 11:05:00"), 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, "D015/01539600.C01", later, 0), 0);
    SeamSetClock(2027, 1, 15, 10, 10, 0);
    ASSERT_EQ(::chdir("D015"), 0);
    const int handle = RT_OpenFile("01536600.C01", 2, 1, 0); // where the logger opens its data files
    ASSERT_GT(handle, 0);
    ASSERT_EQ(RT_WriteFile(handle, "after", 5), 5);
    ASSERT_EQ(::chdir(".."), 0);
    const timespec earlier[2] = {{local("2027-01-15 10:10:00"), 0}, {local("2027-01-15 10:10:00"), 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, "D015/01536600.C01", earlier, 0), 0);

    uplink::Source source;
    uplink::Position at{"D015/01539600.C01", 6, 0, true};
    uplink::Run run;
    unsigned char buffer[uplink::kMaxRun];
    testing::internal::CaptureStderr();
    // A file that has not grown for a second is looked past.
    const bool found = testing_support::eventually([&] { return source.next(dir.path(), 1, at, run, buffer); }, 10000);
    const std::string said = testing::internal::GetCapturedStderr();
    RT_CloseFile(handle);
    SeamUseRealClock();
    ASSERT_TRUE(found);
    EXPECT_EQ(run.file, "D015/01536600.C01");
    EXPECT_EQ(std::string(reinterpret_cast<char *>(buffer), static_cast<std::size_t>(run.count)), "after");
    EXPECT_EQ(run.previous, "D015/01539600.C01 6"); // so the shore takes it as the next file
    EXPECT_NE(said.find("D015/01539600.C01"), std::string::npos) << said;
    EXPECT_NE(said.find("may not have been sent"), std::string::npos) << said;
    EXPECT_EQ(uplink::next_file(dir.path(), 1, "D015/01539600.C01"), "");
}
