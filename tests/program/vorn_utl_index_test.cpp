// The arrival-time index beside the data files, as a run writes it and as
// vornacq4-when reads it back: burst times, slices, rollover and pause, and
// a replay logged again.
#include "run_fixture.h"

#include <chrono>
#include <cstdio>
#include <cstring>
#include <csignal>
#include <ctime>
#include <sys/resource.h>

using testing_support::is_directory;

namespace {

long long wall_us()
{
    return std::chrono::duration_cast<std::chrono::microseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

// Runs vornacq4-when with the arguments; its first line of output.
std::string tool(const std::string &args, int *status = nullptr)
{
    return testing_support::command_line_output(std::string(VORNACQ4_WHEN_BINARY) + " " + args, status);
}

std::string at_us(long long us)
{
    char text[32];
    std::snprintf(text, sizeof text, "@%lld.%06lld", us / 1000000, us % 1000000);
    return text;
}

long long parse_iso(const std::string &text)
{
    std::tm t{};
    double seconds = 0;
    std::sscanf(text.c_str(), "%d-%d-%dT%d:%d:%lfZ", &t.tm_year, &t.tm_mon, &t.tm_mday, &t.tm_hour, &t.tm_min,
                &seconds);
    t.tm_year -= 1900;
    t.tm_mon -= 1;
    return static_cast<long long>(timegm(&t)) * 1000000 + static_cast<long long>(seconds * 1e6 + 0.5);
}

} // namespace

class ArrivalIndex : public Acquisition {
protected:
    // Sends the bursts 300 ms apart into port 2 and ticks once; notes when
    // each was sent and when the queue held it: it arrived in between.
    void send_bursts(const std::vector<std::string> &bursts)
    {
        for (const std::string &b : bursts) {
            sent_at.push_back(wall_us());
            send(2, b);
            queued_at.push_back(wall_us());
            ::usleep(300 * 1000);
        }
        tick();
    }

    std::string path(long when, int port = 2) const { return start_dir() + "/" + data_file(when, port); }
    std::vector<long long> sent_at, queued_at;
};

TEST_F(ArrivalIndex, TellsWhenEachBurstArrivedAndSlicesByTime)
{
    start_run(at(10, 40, 5));
    const std::vector<std::string> bursts = {"$GPGGA,first*00\r\n", std::string("\0\x01\xff binary", 10),
                                             "$GPRMC,third*00\r\n"};
    send_bursts(bursts);
    const std::string data = path(at(10, 40, 5));
    long long offset = 0;
    for (std::size_t i = 0; i < bursts.size(); ++i) {
        const long long when = parse_iso(tool("when --utc " + data + " " + std::to_string(offset)));
        EXPECT_TRUE(when >= sent_at[i] && when <= queued_at[i]) << "burst " << i << ": " << when - sent_at[i];
        offset += static_cast<long long>(bursts[i].size());
    }
    const std::string slice = start_dir() + "/slice";
    int status = -1;
    tool("slice " + data + " " + at_us(sent_at[1] - 100000) + " " + at_us(sent_at[1] + 100000) + " -o " + slice,
         &status);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(read_file(slice), bursts[1]);
    tool("when " + data + " " + std::to_string(offset), &status);
    EXPECT_EQ(status, 1) << "past the end";
}

TEST_F(ArrivalIndex, FollowsRolloverAndPauseAndNeverClaimsMoreThanTheData)
{
    start_run(at(10, 5, 30), 1);
    send(2, "before;");
    tick();
    ASSERT_TRUE(SeamClick(panelHandle, pause_button));
    send(2, "paused;");
    tick();
    ASSERT_TRUE(SeamClick(panelHandle, pause_button));
    set_clock(at(10, 6, 0));
    send(2, "rolled;");
    tick();
    send(2, "after;");
    tick();
    // The period before the rollover: two bursts, none while paused; after it, one.
    for (const auto &file : {std::make_pair(at(10, 5, 30), "before;rolled;"), std::make_pair(at(10, 6, 0), "after;")}) {
        int status = -1;
        const std::string summary = tool("check " + path(file.first), &status);
        EXPECT_EQ(status, 0) << summary;
        EXPECT_EQ(read_file(path(file.first)), file.second);
        const std::string size = std::to_string(std::strlen(file.second));
        const std::string records = file.first == at(10, 6, 0) ? "1" : "2";
        EXPECT_NE(summary.find(size + " bytes, " + records + " records covering " + size + " bytes"),
                  std::string::npos)
            << summary;
    }
}

TEST_F(ArrivalIndex, DiskThatRefusesPartOfAWriteLosesOnlyThatAndTheIndexStaysTrue)
{
    start_run(at(10, 40, 5));
    // The disk takes 100 bytes, then none, then takes again.
    ::signal(SIGXFSZ, SIG_IGN);
    rlimit limit{100, RLIM_INFINITY};
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limit), 0);
    const std::string first = testing_support::stream_bytes(0, 150);
    send(2, first);
    tick();
    send(2, "refused;");
    tick();
    limit.rlim_cur = RLIM_INFINITY;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limit), 0);
    send(2, "tail;");
    tick();
    EXPECT_EQ(read_file(path(at(10, 40, 5))), first.substr(0, 100) + "tail;");
    int status = -1;
    const std::string summary = tool("check " + path(at(10, 40, 5)), &status);
    EXPECT_EQ(status, 0) << summary;
    EXPECT_NE(summary.find("105 bytes, 2 records covering 105 bytes"), std::string::npos) << summary;
    EXPECT_NEAR(static_cast<double>(parse_iso(tool("when --utc " + path(at(10, 40, 5)) + " 100"))),
                static_cast<double>(wall_us()), 1000000.0);
}

TEST_F(ArrivalIndex, CanBeTurnedOffWithoutChangingTheData)
{
    index_enabled = 0;
    start_run(at(10, 40, 5));
    send(2, "no index;");
    tick();
    EXPECT_EQ(read_file(path(at(10, 40, 5))), "no index;");
    EXPECT_FALSE(is_directory(start_dir() + "/T045"));
}

TEST_F(ArrivalIndex, ReplayKeepsTheBytesAndTheirSpacing)
{
    start_run(at(10, 40, 5));
    send_bursts({"one;", "two;", "three;"});
    // Replayed onto a new pseudo-terminal, which port 4 then logs again.
    std::FILE *replay = popen((std::string(VORNACQ4_WHEN_BINARY) + " replay --delay 0.5 " +
                               path(at(10, 40, 5))).c_str(), "r");
    char device[256] = {};
    ASSERT_NE(std::fgets(device, sizeof device, replay), nullptr);
    device[std::strcspn(device, "\n")] = '\0';
    ASSERT_EQ(OpenComConfig(4, device, 9600, 0, 8, 1, 0, 0), 0);
    std::string again;
    std::vector<ComArrival> marks;
    ASSERT_TRUE(testing_support::eventually(
        [&] {
            const int n = GetInQLen(4);
            char buffer[64];
            ComArrival arrived[8];
            if (n > 0 && ComRd(4, buffer, n) == n) {
                again.append(buffer, static_cast<std::size_t>(n));
                const int count = ComRdArrivals(4, arrived, 8);
                marks.insert(marks.end(), arrived, arrived + count);
            }
            return again.size() >= 14;
        },
        5000));
    pclose(replay);
    EXPECT_EQ(again, "one;two;three;");
    ASSERT_EQ(marks.size(), 3u);
    for (std::size_t i = 1; i < 3; ++i)
        EXPECT_NEAR(static_cast<double>(marks[i].first - marks[0].first),
                    static_cast<double>(sent_at[i] - sent_at[0]), 50000.0)
            << "spacing of burst " << i;
}
