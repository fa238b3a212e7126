// The order in which the uplink follows a port's files, over real files:
// round the New Year, past last year's files in the same day directories
// (unless the logger appended to one this year), over a missing day, and on
// to the file the logger writes now when the clock was set back.
#include "engine.h"
#include "engine_seams.h"
#include "net/uplink_files.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>

namespace {

// "YYYY-MM-DD hh:mm:ss" local time: sets the engine's clock there, or a
// file's modification time; the seconds since 1970.
std::time_t at(const char *text, const std::string &file = "")
{
    std::tm t{};
    std::sscanf(text, "%d-%d-%d %d:%d:%d", &t.tm_year, &t.tm_mon, &t.tm_mday, &t.tm_hour, &t.tm_min, &t.tm_sec);
    if (file.empty())
        SeamSetClock(t.tm_year, t.tm_mon, t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec);
    t.tm_year -= 1900, t.tm_mon -= 1, t.tm_isdst = -1;
    const timespec times[2] = {{std::mktime(&t), 0}, {std::mktime(&t), 0}};
    EXPECT_TRUE(file.empty() || ::utimensat(AT_FDCWD, file.c_str(), times, 0) == 0) << file;
    return times[0].tv_sec;
}

struct File {
    const char *name, *modified;
    int size;
};

struct OrderCase {
    const char *what, *now;
    std::vector<File> files;
    const char *from, *next; // a file or a run's start key; what follows it
    long long behind;        // bytes past the end of `from`
    const char *before;      // the file before `next`
};
void PrintTo(const OrderCase &c, std::ostream *out) { *out << c.what; }

const OrderCase kCases[] = {
    {"D365, the set named past midnight in D365, D001", "2027-01-01 00:01:30",
     {{"D365/36586340.C01", "2026-12-31 23:59:59", 10}, {"D365/00100000.C01", "2027-01-01 00:00:59", 20},
      {"D001/00100060.C01", "2027-01-01 00:01:30", 30}},
     "D365/36586340.C01", "D365/00100000.C01", 50, "D365/36586340.C01"},
    {"a leap year's D366, then D001", "2029-01-01 00:30:00",
     {{"D365/36586340.C01", "2028-12-30 23:59:59", 10}, {"D366/36600000.C01", "2028-12-31 23:59:59", 20},
      {"D001/00100000.C01", "2029-01-01 00:30:00", 30}},
     "D365/36586340.C01", "D366/36600000.C01", 50, "D365/36586340.C01"},
    {"last year's later hours and days neither follow nor are behind", "2027-01-15 10:30:00",
     {{"D015/01536000.C01", "2027-01-15 10:30:00", 10}, {"D015/01539600.C01", "2026-01-15 11:59:59", 20},
      {"D016/01600000.C01", "2026-01-16 00:59:59", 30}},
     "D015/01536000.C01", "", 0, ""},
    {"a run's start key takes this run's file, not last year's", "2027-01-15 10:30:00",
     {{"D014/01482800.C01", "2027-01-14 23:59:59", 5}, {"D015/01532400.C01", "2026-01-15 09:59:59", 40},
      {"D015/01536000.C01", "2027-01-15 10:30:00", 10}, {"D015/01539600.C01", "2026-01-15 11:59:59", 20}},
     "D015/01536000", "D015/01536000.C01", 10, "D014/01482800.C01"},
    {"last year's name appended to this year follows", "2027-01-15 11:30:00",
     {{"D015/01536000.C01", "2027-01-15 11:00:00", 10}, {"D015/01539600.C01", "2027-01-15 11:30:00", 25}},
     "D015/01536000.C01", "D015/01539600.C01", 25, "D015/01536000.C01"},
    {"a day without its directory is passed over", "2027-03-03 00:10:00",
     {{"D060/06086340.C01", "2027-03-01 23:59:59", 10}, {"D062/06200000.C01", "2027-03-03 00:10:00", 20}},
     "D060/06086340.C01", "D062/06200000.C01", 20, "D060/06086340.C01"},
};

class UplinkOrder : public ::testing::TestWithParam<OrderCase> {
protected:
    void SetUp() override { testing_support::start_engine(); }
    void TearDown() override { SeamUseRealClock(); }
    testing_support::TempDir m_dir;
};

} // namespace

TEST_P(UplinkOrder, FollowsTheFilesInTheOrderTheyWereWritten)
{
    const OrderCase &c = GetParam();
    long long fromSize = 0;
    for (const File &f : c.files) {
        ::mkdir(std::string(f.name, 4).c_str(), 0755);
        testing_support::write_file(f.name, std::string(static_cast<std::size_t>(f.size), 'x'));
        at(f.modified, f.name);
        fromSize = std::string(c.from) == f.name ? f.size : fromSize;
    }
    at(c.now);
    EXPECT_EQ(uplink::next_file(m_dir.path(), 1, c.from), c.next);
    EXPECT_EQ(uplink::bytes_behind(m_dir.path(), 1, uplink::Position{c.from, fromSize, 0, false}), c.behind);
    if (*c.next != '\0') {
        EXPECT_EQ(uplink::previous_file(m_dir.path(), 1, c.next), c.before);
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, UplinkOrder, ::testing::ValuesIn(kCases));

// No file was written after the last one: the uplink goes on with the file
// the logger has open now (opened as the logger opens its files), says so,
// and names the last one as the file before it, so the shore follows.
TEST_F(UplinkOrder, AClockSetBackGoesOnWithTheLoggersFileAndSaysSo)
{
    ::mkdir("D015", 0755);
    testing_support::write_file("D015/01539600.C01", "before");
    at("2027-01-15 11:05:00", "D015/01539600.C01");
    at("2027-01-15 10:10:00");
    ASSERT_EQ(::chdir("D015"), 0);
    const int handle = RT_OpenFile("01536600.C01", 2, 1, 0);
    ASSERT_EQ(RT_WriteFile(handle, "after", 5), 5);
    ASSERT_EQ(::chdir(".."), 0);
    at("2027-01-15 10:10:00", "D015/01536600.C01");

    uplink::Source source;
    uplink::Position position{"D015/01539600.C01", 6, 0, true};
    uplink::Run run;
    static unsigned char buffer[uplink::kMaxRun];
    testing::internal::CaptureStderr();
    const bool found = testing_support::eventually([&] { return source.next(m_dir.path(), 1, position, run, buffer); },
                                                   10000); // once the file has not grown for a second
    const std::string said = testing::internal::GetCapturedStderr();
    RT_CloseFile(handle);
    ASSERT_TRUE(found);
    EXPECT_EQ(run.file, "D015/01536600.C01");
    EXPECT_EQ(std::string(reinterpret_cast<char *>(buffer), static_cast<std::size_t>(run.count)), "after");
    EXPECT_EQ(run.previous, "D015/01539600.C01 6");
    EXPECT_NE(said.find("after D015/01539600.C01; going on with"), std::string::npos) << said;
    EXPECT_EQ(uplink::next_file(m_dir.path(), 1, "D015/01539600.C01"), "");
}
