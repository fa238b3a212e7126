// The instrument simulator: the map and port table it leaves for the logger,
// what each kind of instrument says, its report, an instrument unplugged and
// back, and the command lines it refuses.
#include "instrument_sim.h"
#include "pattern.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <csignal>
#include <functional>
#include <regex>
#include <set>
#include <sys/stat.h>
#include <unistd.h>

using testing_support::config_bytes;
using testing_support::eventually;
using testing_support::file_exists;
using testing_support::PortRecord;
using testing_support::read_file;
using testing_support::TempDir;

namespace {

constexpr int kReadMs = 5000;
constexpr int kExitMs = 5000;

// The simulator's directory inside a fresh temporary one.
class SimDir : public ::testing::Test {
protected:
    SimDir() : m_dir(m_top.path() + "/run") { mkdir(m_dir.c_str(), 0755); }
    const std::string &dir() const { return m_dir; }

private:
    TempDir m_top;
    std::string m_dir;
};

bool regenerated(const std::string &bytes, std::uint64_t seed, std::uint64_t offset)
{
    return sim::pattern_matches(seed, offset, reinterpret_cast<const unsigned char *>(bytes.data()), bytes.size());
}

// The complete lines of a text stream, without their CRLF.
std::vector<std::string> crlf_lines(const std::string &text)
{
    std::vector<std::string> lines;
    for (std::size_t start = 0, end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2)
        lines.push_back(text.substr(start, end - start));
    return lines;
}

void expect_nmea(const std::string &bytes)
{
    const std::regex sentence(R"(\$(GP[A-Z]{3},[^*$]*)\*([0-9A-F]{2}))");
    std::set<std::string> types;
    for (const std::string &line : crlf_lines(bytes)) {
        std::smatch m;
        ASSERT_TRUE(std::regex_match(line, m, sentence)) << line;
        unsigned sum = 0;
        for (char c : m[1].str())
            sum ^= static_cast<unsigned char>(c);
        EXPECT_EQ(std::stoul(m[2].str(), nullptr, 16), sum) << line;
        types.insert(m[1].str().substr(0, 5));
    }
    EXPECT_EQ(types, (std::set<std::string>{"GPGGA", "GPGSA", "GPGSV", "GPRMC", "GPVTG"}));
}

void expect_weather(const std::string &bytes)
{
    const std::regex line(R"(0R0,Dm=\d{3}D,Sm=\d+\.\dM,Ta=-?\d+\.\dC,Ua=\d+\.\dP,Pa=\d+\.\dH,Rc=\d+\.\d\dM)");
    const std::vector<std::string> lines = crlf_lines(bytes);
    ASSERT_FALSE(lines.empty());
    for (const std::string &l : lines)
        EXPECT_TRUE(std::regex_match(l, line)) << l;
}

// Records back to back from record 0, each with its CRC-16/CCITT; every
// byte value turns up in their payloads.
void expect_binary(const std::string &bytes)
{
    const auto *b = reinterpret_cast<const unsigned char *>(bytes.data());
    std::set<int> values;
    unsigned number = 0;
    for (std::size_t at = 0; at + 39 <= bytes.size(); at += 39, ++number) {
        ASSERT_EQ(b[at], 0xA5);
        ASSERT_EQ(b[at + 1], 0x5A);
        ASSERT_EQ(b[at + 2] | b[at + 3] << 8, number);
        ASSERT_EQ(b[at + 4], 32);
        unsigned crc = 0xFFFF;
        for (std::size_t i = at + 2; i < at + 37; ++i) {
            crc ^= static_cast<unsigned>(b[i]) << 8;
            for (int bit = 0; bit < 8; ++bit)
                crc = (crc & 0x8000) != 0 ? ((crc << 1) ^ 0x1021) & 0xFFFF : (crc << 1) & 0xFFFF;
            values.insert(b[i]);
        }
        ASSERT_EQ(b[at + 37] | b[at + 38] << 8, crc) << "record " << number;
    }
    EXPECT_EQ(values.size(), 256u);
}

void expect_chatty(const std::string &bytes)
{
    const std::vector<std::string> lines = crlf_lines(bytes);
    ASSERT_GT(lines.size(), 10u);
    for (std::size_t n = 0; n < lines.size(); ++n) {
        EXPECT_EQ(lines[n].substr(0, 8), std::string(8 - std::to_string(n).size(), '0') + std::to_string(n));
        for (char c : lines[n])
            ASSERT_TRUE(c >= 0x20 && c < 0x7F) << lines[n];
    }
}

} // namespace

TEST_F(SimDir, NamesItsInstrumentsInTheMapAndSetsTheLoggerUpToShowThem)
{
    Simulator sim(dir(), {"-c", "COM2=nmea", "COM3=binary", "COM5=weather", "COM7=pattern:19200",
                          "COM9=chatty", "COM11=nmea"});
    ASSERT_TRUE(sim.ready()) << sim.stderr_text();

    std::map<int, std::string> links;
    for (int port : {2, 3, 5, 7, 9, 11}) {
        links[port] = dir() + "/sim/COM" + std::to_string(port);
        const int fd = open_device(links[port]);
        EXPECT_TRUE(fd >= 0 && isatty(fd)) << links[port];
        close(fd);
    }
    const std::string map = sim.map_text();
    EXPECT_EQ(map.substr(0, 27), "# written by instrument-sim");
    const std::string expected = testing_support::port_map_text(links);
    EXPECT_EQ(map.substr(map.find('\n')), expected.substr(expected.find('\n')));

    const std::vector<PortRecord> table = testing_support::port_table({{2, {4800, 1, 1, 0}}, {3, {38400, 1, 2, 1}},
                                                                       {5, {9600, 1, 3, 0}}, {7, {19200, 1, 4, 1}},
                                                                       {9, {115200, 1, 5, 0}}, {11, {4800, 1, 0, 0}}});
    EXPECT_EQ(read_file(dir() + "/coms.cfg"), config_bytes(table));

    sim.process().signal(SIGINT);
    EXPECT_EQ(sim.process().wait_exit(kExitMs), 0);
    EXPECT_FALSE(file_exists(dir() + "/sim")) << "the devices go with the simulator";
    EXPECT_EQ(sim.map_text(), map) << "the map stays, naming nothing that is there";
}

TEST_F(SimDir, EachKindOfInstrumentSpeaksItsOwnLanguage)
{
    struct Case {
        int port;
        std::string arg;
        std::size_t bytes; // more than the first second's message, if it has one
        std::function<void(const std::string &)> check;
    };
    const std::uint64_t seed = 41;
    const std::vector<Case> cases = {
        {1, "COM1=nmea", 450, expect_nmea},
        {2, "COM2=weather", 70, expect_weather},
        {3, "COM3=binary", 39 * 20, expect_binary},
        {4, "COM4=chatty:57600", 3000, expect_chatty},
        {5, "COM5=pattern:19200", 3000,
         [&](const std::string &b) { EXPECT_TRUE(regenerated(b, seed + 5, 0)); }},
    };
    std::vector<std::string> args = {"-s", std::to_string(seed)};
    for (const Case &c : cases)
        args.push_back(c.arg);
    Simulator sim(dir(), args);
    ASSERT_TRUE(sim.ready()) << sim.stderr_text();

    for (const Case &c : cases) {
        SCOPED_TRACE(c.arg);
        const int fd = open_device(sim.device(c.port));
        const std::string bytes = read_device(fd, c.bytes, kReadMs);
        close(fd);
        ASSERT_EQ(bytes.size(), c.bytes);
        c.check(bytes);
    }
}

TEST_F(SimDir, SigtermStopsItWithAReportWhoseCountsAddUp)
{
    // COM1 is read to the end; nobody reads COM2, so its line soon fills up.
    Simulator sim(dir(), {"COM1=pattern:115200", "COM2=pattern:460800"});
    ASSERT_TRUE(sim.ready()) << sim.stderr_text();
    const int fd = open_device(sim.device(1));
    std::string got = read_device(fd, 12000, kReadMs);
    sim.process().signal(SIGTERM);
    got += read_device(fd, SIZE_MAX, kReadMs);
    close(fd);
    ASSERT_EQ(sim.process().wait_exit(kExitMs), 0);

    const std::map<int, SimReport> report = sim.report();
    ASSERT_EQ(report.size(), 2u) << read_file(dir() + ".sim-report");
    const SimReport &read = report.at(1), &unread = report.at(2);
    EXPECT_EQ(read.kind, "pattern");
    EXPECT_EQ(read.seed, 2u);
    EXPECT_EQ(read.refused, 0u);
    EXPECT_EQ(read.sent - read.undelivered, got.size());
    EXPECT_TRUE(regenerated(got, read.seed, 0));

    EXPECT_GT(unread.refused, 0u);
    EXPECT_EQ(unread.undelivered, unread.sent) << "all it took was taken back";
    EXPECT_EQ(unread.intactFrom, unread.sent + unread.refused) << "refused to the end";
}

TEST_F(SimDir, AnUnpluggedInstrumentReturnsUnderItsNameWhereItsStreamLeftOff)
{
    Simulator sim(dir(), {"-s", "9", "-u", "COM4:2:1", "COM4=pattern:38400"});
    ASSERT_TRUE(sim.ready()) << sim.stderr_text();
    const std::string link = sim.device(4);

    int fd = open_device(link);
    struct stat device {};
    ASSERT_EQ(fstat(fd, &device), 0) << link;
    std::string got = read_device(fd, SIZE_MAX, kReadMs); // to the hang-up
    // While this side stays open the terminal's number is not given to
    // another: whatever is under the name now, it is not the one that hung up.
    struct stat named {};
    EXPECT_TRUE(::stat(link.c_str(), &named) != 0 || named.st_rdev != device.st_rdev) << "gone when unplugged";
    close(fd);
    const std::size_t before = got.size();
    ASSERT_TRUE(eventually([&] { return file_exists(link); }, kReadMs));

    fd = open_device(link);
    got += read_device(fd, 2000, kReadMs);
    sim.process().signal(SIGTERM);
    got += read_device(fd, SIZE_MAX, kReadMs);
    close(fd);
    ASSERT_EQ(sim.process().wait_exit(kExitMs), 0);

    EXPECT_TRUE(regenerated(got, 9 + 4, 0)) << "nothing lost or repeated across the unplug";
    const SimReport r = sim.report().at(4);
    EXPECT_EQ(r.unpluggedAt, std::vector<std::uint64_t>{before});
    EXPECT_EQ(r.sent - r.undelivered, got.size());
}

TEST_F(SimDir, AWrongCommandLineIsRefusedWithStatusTwoAndLeavesNothing)
{
    const std::vector<std::vector<std::string>> wrong = {
        {},
        {"COM0=nmea"},
        {"COM19=nmea"},
        {"COM1=radio"},
        {"COM1=nmea:0"},
        {"COM1=nmea", "COM1=weather"},
        {"-u", "COM2:1:1", "COM1=nmea"},
        {"-u", "COM1:1:2", "-u", "COM1:2:1", "COM1=nmea"},
        {"-t", "soon", "COM1=nmea"},
    };
    for (const auto &args : wrong) {
        LoggerProcess::Options o;
        o.binary = INSTRUMENT_SIM_BINARY;
        o.args = {"-d", dir()};
        o.args.insert(o.args.end(), args.begin(), args.end());
        o.startDir = dir();
        o.stderrPath = dir() + ".stderr";
        LoggerProcess sim(o);
        EXPECT_EQ(sim.wait_exit(kExitMs), 2) << ::testing::PrintToString(args);
        EXPECT_NE(sim.stderr_text(), "");
    }
    EXPECT_TRUE(testing_support::list_dir(dir()).empty());
}
