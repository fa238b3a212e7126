// The index reader that follows a growing index (as the uplink does) gives
// exactly the records a reader of the whole index gives: the index is
// written to a real file a few bytes at a time, the follower resumed after
// each write, and its records compared with a fresh reading of the end.
#include "index.h"
#include "index_encoder.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

namespace {

using testing_support::TempDir;
using testing_support::write_file;

constexpr long long kT0 = 1781000000000000LL; // microseconds, 2026

// A record of `bytes` bytes arriving `ms` after kT0, and the running
// previous first time the encoder needs.
struct Writer {
    std::string out;
    long long previous = 0;
    void mark(long long offset)
    {
        out += shore::segment_mark(offset);
        previous = 0;
    }
    void data(long long bytes, long long ms)
    {
        out += shore::data_record(bytes, kT0 + ms * 1000, kT0 + ms * 1000 + 900, previous);
        previous = kT0 + ms * 1000;
    }
    void gap(long long missing, long long ms)
    {
        out += shore::gap_record(missing, kT0 + ms * 1000, kT0 + ms * 1000 + 10, previous);
        previous = kT0 + ms * 1000;
    }
};

std::string one_segment()
{
    Writer w;
    w.mark(0);
    for (int i = 1; i <= 12; ++i)
        w.data(100 * i, 250 * i);
    return w.out;
}

std::string restarted_with_gap()
{
    Writer w;
    w.mark(0);
    w.data(300, 0);
    w.gap(4096, 300);
    w.data(5000, 500);
    w.mark(5300); // the logger started again on the same file
    w.data(20000, 90000);
    w.gap(7, 90100);
    w.gap(9, 90200);
    w.data(1, 90300);
    return w.out;
}

std::string damaged_and_torn()
{
    Writer w;
    w.mark(0);
    w.data(50, 0);
    w.out += std::string("\x00", 1) + "junk\x81"; // a zero count, then no mark
    w.data(60, 10);
    const std::string torn = shore::data_record(70, kT0 + 20000, kT0 + 20900, w.previous);
    w.out += torn.substr(0, torn.size() - 1); // cut by a kill
    w.mark(110);
    w.data(10, 30);
    w.out += "\x00VTI"; // a mark that never was
    w.data(1, 40);
    w.mark(121);
    w.data(5, 50);
    return w.out;
}

struct Growth {
    const char *name;
    std::string (*index)();
};

const Growth kGrowths[] = {
    {"one segment", one_segment},
    {"a restart and gaps", restarted_with_gap},
    {"damage and a torn record", damaged_and_torn},
};

constexpr long long kDataSize = 1 << 20; // every record's bytes are there

std::vector<when::Burst> read_whole(const std::string &path)
{
    long long length = 0;
    std::string error;
    const int fd = when::open_regular(path, length, error);
    std::vector<when::Burst> got;
    when::IndexReader reader(fd, length, kDataSize);
    for (when::Burst b{}; reader.next(b);)
        got.push_back(b);
    when::close_file(fd);
    return got;
}

bool same(const when::Burst &a, const when::Burst &b)
{
    return a.offset == b.offset && a.count == b.count && a.first == b.first && a.last == b.last && a.gap == b.gap;
}

TEST(IndexFollow, ResumedReadingGivesTheRecordsOfAWholeReading)
{
    for (const Growth &growth : kGrowths)
        for (const std::size_t step : {std::size_t{1}, std::size_t{3}, std::size_t{17}}) {
            SCOPED_TRACE(std::string(growth.name) + ", written " + std::to_string(step) + " bytes at a time");
            TempDir dir;
            const std::string path = dir.file("index"), index = growth.index();
            write_file(path, "");
            long long length = 0;
            std::string error;
            const int fd = when::open_regular(path, length, error);
            ASSERT_GE(fd, 0) << error;
            when::IndexReader follower(fd, 0, kDataSize);
            follower.follow();
            std::vector<when::Burst> followed;
            const int appender = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
            for (std::size_t written = 0; written < index.size();) {
                const std::size_t more = std::min(index.size() - written, step);
                ASSERT_EQ(::write(appender, index.data() + written, more), static_cast<ssize_t>(more));
                written += more;
                ASSERT_TRUE(follower.resume(static_cast<long long>(written), kDataSize));
                for (when::Burst b{}; follower.next(b);)
                    followed.push_back(b);
            }
            ::close(appender);
            when::close_file(fd);
            const std::vector<when::Burst> whole = read_whole(path);
            ASSERT_EQ(followed.size(), whole.size());
            for (std::size_t i = 0; i < whole.size(); ++i)
                EXPECT_TRUE(same(followed[i], whole[i])) << "record " << i;
        }
}

TEST(IndexFollow, AShorterIndexIsNotResumed)
{
    TempDir dir;
    write_file(dir.file("index"), one_segment());
    long long length = 0;
    std::string error;
    const int fd = when::open_regular(dir.file("index"), length, error);
    when::IndexReader follower(fd, length, kDataSize);
    follower.follow();
    int records = 0;
    for (when::Burst b{}; follower.next(b);)
        ++records;
    EXPECT_EQ(records, 12);
    EXPECT_FALSE(follower.resume(length - 1, kDataSize));
    when::close_file(fd);
}

} // namespace
