// Bytes the logger could not keep: the tick held (as by a popup nobody
// answers) for longer than the backlogs' budget lasts. What the ports sent
// is either in their files or counted, to the byte; the index marks each gap
// where it lies; stderr, /metrics, /status.json and the status box agree.
#include "index_records.h"
#include "logger_process.h"
#include "run_fixture.h"

#include <sys/stat.h>

namespace {

// A port's bytes while the tick is held: more than the budget and its queue.
constexpr std::uint64_t kEach = 1500000;

// Ports 2 and 3 logged, with the monitoring endpoint on (the engine reads
// network.map where it starts) and the smallest budget, so that two ports
// spend it in a second.
class Loss : public Acquisition {
protected:
    void SetUp() override
    {
        testing_support::write_file(m_startDir.file("network.map"), "http " + std::to_string(m_http) + "\n");
        SetComBacklogBudget(COM_BACKLOG_BUDGET_MIN);
        Acquisition::SetUp();
    }
    void TearDown() override
    {
        Acquisition::TearDown();
        SetComBacklogBudget(COM_BACKLOG_BUDGET_DEFAULT);
    }

    // Floods both ports with the test stream from `offset` on; returns when
    // the engine has received all of it.
    void flood(std::uint64_t offset, std::uint64_t count)
    {
        testing_support::PacedWriter writer({pty(2).master(), pty(3).master()}, testing_support::PacedWriter::kFlood,
                                            count, offset);
        ASSERT_TRUE(testing_support::eventually([&] { return writer.finished(); }, 20000));
        for (int port : {2, 3})
            ASSERT_TRUE(testing_support::eventually([&] { return status(port).bytes == static_cast<long long>(offset + count); }));
    }

    static ComStatus status(int port)
    {
        ComStatus s{};
        GetComStatus(port, &s);
        return s;
    }

    std::string piece(int port)
    {
        EXPECT_TRUE(SeamTick(panelHandle, status_timer));
        const std::string text = SeamCtrlText(panelHandle, status_line);
        const std::size_t start = text.find("COM" + std::to_string(port) + ": ");
        return start == std::string::npos ? text : text.substr(start, text.find_first_of("|\n", start) - start);
    }

    int m_http = testing_support::free_tcp_port();

private:
    testing_support::TempDir m_startDir; // the engine's start-up directory
};

// Walks the port's index over its data file: every record's bytes are the
// stream's next ones, every gap skips as many of it. Returns the bytes the
// gaps skipped, after checking that data and gaps account for `sent`.
long long check_file_against_stream(const std::string &data, const std::string &index, std::uint64_t sent)
{
    std::uint64_t stream = 0;
    long long file = 0, skipped = 0;
    for (const testing_support::Segment &segment : testing_support::read_segments(index)) {
        EXPECT_EQ(segment.offset, file) << "a segment begins where the file did not end";
        for (const testing_support::Record &r : segment.records) {
            EXPECT_EQ(r.offset, file);
            if (r.gap) {
                stream += static_cast<std::uint64_t>(r.bytes);
                skipped += r.bytes;
                continue;
            }
            EXPECT_TRUE(testing_support::stream_intact(data.data() + file, static_cast<std::size_t>(r.bytes), stream))
                << "the bytes at " << file << " are not the stream's from " << stream;
            stream += static_cast<std::uint64_t>(r.bytes);
            file += r.bytes;
        }
    }
    EXPECT_EQ(file, static_cast<long long>(data.size()));
    EXPECT_EQ(stream, sent) << "the file and its gaps do not add up to what was sent";
    return skipped;
}

// What vornacq4-when check says of the data file, all of it.
std::string check_output(const std::string &data)
{
    return run_when({"check", data}).both();
}

} // namespace

TEST_F(Loss, HeldTickPastTheBudgetCostsBytesCountedToTheByteMarkedInTheIndexAndSaidOncePerPort)
{
    start_run(at(10, 40, 5));
    StderrCapture err(start_dir() + "/../stderr.txt");
    flood(0, kEach);

    // No tick meanwhile: the queues and the budget are full, the rest counted.
    long long waiting = 0;
    for (int port : {2, 3}) {
        const ComStatus s = status(port);
        EXPECT_GT(s.dropped, 0) << "COM" << port;
        EXPECT_EQ(s.dropped + s.waiting, static_cast<long long>(kEach)) << "COM" << port;
        EXPECT_EQ(s.dropping, 1);
        waiting += s.waiting;
    }
    EXPECT_LE(waiting, 2 * COM_QUEUE_MAX + COM_BACKLOG_BUDGET_MIN);
    const std::string metrics = testing_support::get(m_http, "/metrics");
    const std::string json = testing_support::get(m_http, "/status.json");
    for (int port : {2, 3}) {
        const std::string com = "COM" + std::to_string(port);
        const long long dropped = status(port).dropped;
        EXPECT_EQ(testing_support::series(metrics, "vornacq4_port_dropped_bytes_total{port=\"" + com + "\",reason=\"behind\"}"),
                  static_cast<double>(dropped)) << metrics;
        EXPECT_NE(json.find("\"dropped_bytes\":" + std::to_string(dropped) + ",\"dropping\":1"), std::string::npos) << json;
        EXPECT_NE(piece(port).find(", LOST "), std::string::npos) << piece(port);
    }

    // The tick comes back and drains the backlogs; the next bytes are kept.
    for (int ticks = 0; ticks < 100 && (GetInQLen(2) > 0 || GetInQLen(3) > 0); ++ticks)
        tick();
    flood(kEach, 5000);
    tick();
    set_clock(at(10, 40, 20)); // ten seconds and more without a loss: the episodes end
    ASSERT_TRUE(testing_support::eventually([&] { return status(2).dropping == 0 && status(3).dropping == 0; }));
    // The end lines are written once the engine has let go of its lock, just after the figures say so.
    testing_support::eventually([&] { return occurrences(err.text(), "bytes kept again: ") >= 2; });

    const std::string said = err.text();
    for (int port : {2, 3}) {
        SCOPED_TRACE("COM" + std::to_string(port));
        const std::string name = data_file(at(10, 40, 5), port);
        const std::string data = file(name);
        const long long dropped = status(port).dropped;
        EXPECT_EQ(static_cast<long long>(data.size()) + dropped, static_cast<long long>(kEach + 5000));
        EXPECT_EQ(check_file_against_stream(data, file("T" + name.substr(1)), kEach + 5000), dropped);
        const std::string com = "vornacq4: COM" + std::to_string(port) + ": ";
        EXPECT_EQ(occurrences(said, com + "losing bytes: "), 1) << said;
        EXPECT_EQ(occurrences(said, com + "bytes kept again: " + std::to_string(dropped) + " bytes lost in "), 1) << said;
        const std::string check = check_output(start_dir() + "/" + name);
        EXPECT_NE(check.find("gap: " + std::to_string(dropped) + " bytes missing at byte "), std::string::npos) << check;
    }
}
