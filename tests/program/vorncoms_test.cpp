// The port table: probing, defaults, loading and repairing coms.cfg, saving it.
#include "logger_fixture.h"

#include <algorithm>
#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

using testing_support::file_exists;
using testing_support::read_file;
using testing_support::write_file;

namespace {

std::vector<PortRecord> records_of_table()
{
    std::vector<PortRecord> records;
    for (int port = 1; port <= MAX_PORT; ++port)
        records.push_back({baudrate[port], RS232Sel[port], RS232Disp[port], HEXDisp[port]});
    return records;
}

// 18 records of the same kind, with some changed.
std::vector<PortRecord> uniform(PortRecord r)
{
    return std::vector<PortRecord>(MAX_PORT, r);
}

// The defaults when the listed ports fail the probe.
std::vector<PortRecord> expected_defaults(const std::vector<int> &failed)
{
    std::vector<PortRecord> records;
    int slot = 1;
    for (int port = 1; port <= MAX_PORT; ++port) {
        const bool bad = std::find(failed.begin(), failed.end(), port) != failed.end();
        if (bad)
            records.push_back({9600, 0, 0, 0});
        else
            records.push_back({9600, 1, slot <= 5 ? slot++ : 0, 0});
    }
    return records;
}

void fail_probe(const std::vector<int> &ports)
{
    for (int port = 1; port <= MAX_PORT; ++port)
        RS232Err[port] = 0;
    for (int port : ports)
        RS232Err[port] = COM_ERR_NO_DEVICE;
}

} // namespace

class PortTable : public LoggerTest {
};

TEST_F(PortTable, ProbeRecordsEachPortAndLeavesNoneOpen)
{
    testing_support::PortRig rig({2, 5, 17});
    RS232Sel[1] = RS232Sel[2] = 1;
    check_ports();
    for (int port = 1; port <= MAX_PORT; ++port) {
        const bool present = port == 2 || port == 5 || port == 17;
        EXPECT_EQ(RS232Err[port] == 0, present) << "COM" << port;
        EXPECT_EQ(GetInQLen(port), COM_ERR_NOT_OPEN) << "COM" << port << " left open";
    }
    EXPECT_EQ(RS232Err[1], COM_ERR_NO_DEVICE);
    EXPECT_EQ(RS232Sel[1], 0);
    EXPECT_EQ(RS232Sel[2], 1);
}

TEST_F(PortTable, MissingFileIsReplacedByTheDefaultsByteForByte)
{
    fail_probe({1, 3, 4});
    init_bauds();
    const std::string saved = read_file("coms.cfg");
    ASSERT_EQ(saved.size(), 288u);
    EXPECT_EQ(saved, config_bytes(expected_defaults({1, 3, 4})));
}

TEST_F(PortTable, DefaultsGiveSlotsToTheFirstFivePortsThatPassTheProbe)
{
    struct Case {
        std::vector<int> failed;
    };
    for (const Case &c : {Case{{}}, Case{{1, 3, 4}}, Case{{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18}}}) {
        fail_probe(c.failed);
        init_ports();
        const std::vector<PortRecord> expected = expected_defaults(c.failed);
        for (int port = 1; port <= MAX_PORT; ++port) {
            const PortRecord &e = expected[port - 1];
            EXPECT_EQ(baudrate[port], e.rate);
            EXPECT_EQ(RS232Sel[port], e.logged) << "COM" << port;
            EXPECT_EQ(RS232Disp[port], e.slot) << "COM" << port;
            EXPECT_EQ(HEXDisp[port], 0);
        }
    }
}

TEST_F(PortTable, ShortFileIsReplacedByTheDefaults)
{
    fail_probe({});
    std::string bytes = config_bytes(uniform({19200, 0, 0, 1}));
    bytes.pop_back();
    write_file("coms.cfg", bytes);
    init_bauds();
    EXPECT_EQ(read_file("coms.cfg"), config_bytes(expected_defaults({})));
    EXPECT_EQ(baudrate[18], 9600);
}

TEST_F(PortTable, LongFileIsReadFromItsFirst288BytesAndLeftAsItIs)
{
    fail_probe({});
    std::vector<PortRecord> records = uniform({115200, 0, 0, 0});
    records[0] = {110, 1, 2, 1};
    const std::string bytes = config_bytes(records) + std::string(12, '\x7f');
    write_file("coms.cfg", bytes);
    init_bauds();
    EXPECT_EQ(baudrate[1], 110);
    EXPECT_EQ(RS232Disp[1], 2);
    EXPECT_EQ(HEXDisp[1], 1);
    EXPECT_EQ(baudrate[18], 115200);
    EXPECT_EQ(read_file("coms.cfg"), bytes);
}

TEST_F(PortTable, ZeroFilledFileLeavesEveryPortUnselectedAt9600WithoutSlot)
{
    fail_probe({});
    write_file("coms.cfg", std::string(288, '\0'));
    init_bauds();
    for (int port = 1; port <= MAX_PORT; ++port) {
        EXPECT_EQ(baudrate[port], 9600);
        EXPECT_EQ(RS232Sel[port], 0);
        EXPECT_EQ(RS232Disp[port], 0);
    }
}

TEST_F(PortTable, FieldsAreReadExactlyAsTheFileHoldsThem)
{
    fail_probe({});
    // Port 1's record as literal bytes, so the reader is checked against the
    // file's layout rather than against the tests' own encoder: 57600, 1, 0
    // and bytes that a text-mode read would translate (CR, LF, ^Z).
    const std::string first("\x00\xE1\x00\x00\x01\x00\x00\x00\x00\x00\x00\x00\x0D\x1A\x0A\x0D", 16);
    write_file("coms.cfg", first + config_bytes(uniform({9600, 0, 0, 0})).substr(16));
    init_bauds();
    EXPECT_EQ(baudrate[1], 57600);
    EXPECT_EQ(RS232Sel[1], 1);
    EXPECT_EQ(HEXDisp[1], 0x0D0A1A0D);
}

// Each row: what one port holds in coms.cfg (others: 9600, unselected, slot
// 0), whether its probe fails, and what the table holds after loading.
struct RepairCase {
    const char *name; // names the test case
    const char *what;
    int port;
    PortRecord stored;
    bool probeFails;
    PortRecord expected;
    std::vector<std::pair<int, PortRecord>> others; // other ports' stored records
};

PRINTED_AS_WHAT(RepairCase)

class RepairRules : public LoggerTest, public ::testing::WithParamInterface<RepairCase> {
};

TEST_P(RepairRules, RepairTheTableInMemoryOnly)
{
    const RepairCase &c = GetParam();
    std::vector<PortRecord> records = uniform({9600, 0, 0, 0});
    for (const auto &other : c.others)
        records[other.first - 1] = other.second;
    records[c.port - 1] = c.stored;
    write_config_file(records);
    const std::string before = read_file("coms.cfg");
    fail_probe(c.probeFails ? std::vector<int>{c.port} : std::vector<int>{});
    init_bauds();
    EXPECT_EQ(baudrate[c.port], c.expected.rate) << c.what;
    EXPECT_EQ(RS232Sel[c.port], c.expected.logged) << c.what;
    EXPECT_EQ(RS232Disp[c.port], c.expected.slot) << c.what;
    EXPECT_EQ(HEXDisp[c.port], c.expected.hex) << c.what;
    EXPECT_EQ(read_file("coms.cfg"), before) << "a file read whole is not rewritten at start-up";
}

INSTANTIATE_TEST_SUITE_P(
    PortTable, RepairRules,
    ::testing::Values(
        RepairCase{"Rate110Kept", "rate 110 kept", 3, {110, 1, 0, 0}, false, {110, 1, 0, 0}, {}},
        RepairCase{"Rate115200Kept", "rate 115200 kept", 3, {115200, 1, 0, 0}, false, {115200, 1, 0, 0}, {}},
        RepairCase{"Rate0Becomes9600", "rate 0 becomes 9600", 3, {0, 1, 0, 0}, false, {9600, 1, 0, 0}, {}},
        RepairCase{"Rate100Becomes9600", "rate 100 becomes 9600", 3, {100, 1, 0, 0}, false, {9600, 1, 0, 0}, {}},
        RepairCase{"Selection7DropsSlotAndHex", "selection 7 selects and drops the slot; hex cleared as a lower port has slot 0",
                   4, {9600, 7, 3, 1}, false, {9600, 1, 0, 0}, {{2, {9600, 0, 0, 0}}}},
        RepairCase{"Selection7KeepsHexWithoutLowerSlot0", "selection 7 keeps the hex flag when no lower port has slot 0", 4, {9600, 7, 5, 1}, false,
                   {9600, 1, 0, 1}, {{1, {9600, 1, 1, 0}}, {2, {9600, 1, 2, 0}}, {3, {9600, 1, 3, 0}}}},
        RepairCase{"Selection7OnMissingPortUnselects", "selection 7 on a port that fails the probe unselects it", 4, {9600, 7, 3, 0}, true,
                   {9600, 0, 0, 0}, {}},
        RepairCase{"PortMarkedNoneIsUnselected", "a selected port marked none is unselected, slot kept", 6, {9600, 1, 4, 1}, true,
                   {9600, 0, 4, 1}, {}},
        RepairCase{"SlotHeldBelowIsLost", "a slot held by a lower port is lost with its hex flag", 9, {9600, 1, 3, 1}, false,
                   {9600, 1, 0, 0}, {{2, {9600, 1, 3, 0}}}},
        RepairCase{"LowerPortKeepsSharedSlot", "the lower port keeps a shared slot", 2, {9600, 1, 3, 1}, false, {9600, 1, 3, 1},
                   {{9, {9600, 1, 3, 0}}}},
        RepairCase{"Slot6Becomes0", "slot 6 becomes 0 with its hex flag", 7, {9600, 1, 6, 1}, false, {9600, 1, 0, 0}, {}},
        RepairCase{"SlotMinus1Becomes0", "slot -1 becomes 0 with its hex flag", 7, {9600, 1, -1, 1}, false, {9600, 1, 0, 0}, {}},
        RepairCase{"Port1KeepsHexWithSlot0", "port 1 with slot 0 keeps its hex flag", 1, {9600, 1, 0, 1}, false, {9600, 1, 0, 1}, {}},
        RepairCase{"Port5LosesHexWithSlot0", "port 5 with slot 0 loses its hex flag when a lower port has slot 0", 5, {9600, 1, 0, 1},
                   false, {9600, 1, 0, 0}, {}}),
    [](const ::testing::TestParamInfo<RepairCase> &info) { return std::string(info.param.name); });

TEST_F(PortTable, SavingWritesExactly288BytesOverALongerFile)
{
    fail_probe({});
    write_file("coms.cfg", std::string(300, '\x01'));
    init_ports();
    write_config();
    EXPECT_EQ(read_file("coms.cfg"), config_bytes(expected_defaults({})));
    EXPECT_FALSE(file_exists("coms.cfg.new"));
}

TEST_F(PortTable, SaveThatCannotBeWrittenLeavesTheOldFileWhole)
{
    struct Case {
        const char *what;
        int (*obstruct)();  // makes the file written aside fail
        bool asideRemains;  // what stood in its place is not the save's to remove
    };
    const Case cases[] = {
        {"disk full", [] {
             // Room for 100 bytes only, as on a disk that is nearly full.
             std::signal(SIGXFSZ, SIG_IGN);
             rlimit room{};
             getrlimit(RLIMIT_FSIZE, &room);
             room.rlim_cur = 100;
             return setrlimit(RLIMIT_FSIZE, &room);
         }, false},
        {"cannot create", [] { return mkdir("coms.cfg.new", 0755); }, true},
    };
    const std::string old = config_bytes(uniform({19200, 1, 0, 0}));
    rlimit usual{};
    getrlimit(RLIMIT_FSIZE, &usual);
    for (const Case &c : cases) {
        write_file("coms.cfg", old);
        ASSERT_EQ(c.obstruct(), 0) << c.what;
        init_ports();
        write_config();
        EXPECT_EQ(read_file("coms.cfg"), old) << c.what;
        EXPECT_EQ(file_exists("coms.cfg.new"), c.asideRemains) << c.what;
        rmdir("coms.cfg.new");
        setrlimit(RLIMIT_FSIZE, &usual);
    }
}

TEST_F(PortTable, SaveNeverWritesThroughALinkInTheWay)
{
    const std::string outside = start_dir() + "-outside";
    write_file(outside, "someone else's file");
    ASSERT_EQ(symlink(outside.c_str(), "coms.cfg.new"), 0);
    fail_probe({});
    init_ports();
    write_config();
    EXPECT_EQ(read_file(outside), "someone else's file");
    EXPECT_EQ(read_file("coms.cfg"), config_bytes(expected_defaults({})));
    EXPECT_FALSE(file_exists("coms.cfg.new"));
    std::remove(outside.c_str());
}

class HostileConfig : public PortTable, public ::testing::WithParamInterface<testing_support::Hostile> {};

TEST_P(HostileConfig, IsTakenAsUnreadableAndTheDefaultsAreSavedInItsPlace)
{
    fail_probe({3});
    testing_support::make_hostile("coms.cfg", GetParam());
    const std::string err = testing_support::stderr_of([&] { init_bauds(); });
    EXPECT_EQ(config_bytes(records_of_table()), config_bytes(expected_defaults({3})));
    // First: why it was not read (a directory cannot be replaced either: a second line).
    EXPECT_EQ(err.rfind("vornacq4: coms.cfg: not a regular file; not read\n", 0), 0u) << err;
    if (GetParam() == testing_support::Hostile::Directory) {
        EXPECT_TRUE(testing_support::is_directory("coms.cfg")) << "a file cannot take a directory's place";
    } else {
        struct stat st;
        ASSERT_EQ(lstat("coms.cfg", &st), 0);
        EXPECT_TRUE(S_ISREG(st.st_mode));
        EXPECT_EQ(read_file("coms.cfg"), config_bytes(expected_defaults({3})));
    }
    EXPECT_FALSE(file_exists("coms.cfg.new"));
}

INSTANTIATE_TEST_SUITE_P(Kinds, HostileConfig,
                         ::testing::Values(testing_support::Hostile::Fifo, testing_support::Hostile::Directory,
                                           testing_support::Hostile::DeviceLink),
                         [](const auto &info) { return std::string(testing_support::hostile_name(info.param)); });

TEST_F(PortTable, SavedTableLoadsBackUnchanged)
{
    fail_probe({});
    init_ports();
    baudrate[7] = 115200;
    HEXDisp[2] = 1;
    RS232Sel[18] = 0;
    const std::vector<PortRecord> saved = records_of_table();
    write_config();
    init_ports();
    init_bauds();
    const std::vector<PortRecord> loaded = records_of_table();
    for (int port = 1; port <= MAX_PORT; ++port) {
        EXPECT_EQ(loaded[port - 1].rate, saved[port - 1].rate);
        EXPECT_EQ(loaded[port - 1].logged, saved[port - 1].logged);
        EXPECT_EQ(loaded[port - 1].slot, saved[port - 1].slot);
        EXPECT_EQ(loaded[port - 1].hex, saved[port - 1].hex);
    }
}

// Ports whose device is missing at the probe (comports.map names a path
// where nothing is): logged still if coms.cfg logs them, their slots settled
// after those of the ports that are there.
TEST_F(PortTable, APortLoggedWhoseDeviceIsMissingStaysLoggedAndYieldsItsSlot)
{
    std::map<int, std::string> paths;
    for (int port : {2, 3, 6, 8})
        paths[port] = start_dir() + "/missing-" + std::to_string(port);
    write_file("comports.map", testing_support::port_map_text(paths));
    SeamReloadPortMap();
    std::vector<PortRecord> records = uniform({9600, 0, 0, 0});
    records[2 - 1] = {19200, 1, 3, 1}; // its slot is a present port's
    records[3 - 1] = {9600, 1, 5, 1};  // keeps its slot
    records[6 - 1] = {9600, 7, 1, 0};  // no selection at all
    records[8 - 1] = {9600, 1, 5, 0};  // a lower missing port claims the slot
    records[9 - 1] = {9600, 1, 3, 0};
    records[12 - 1] = {9600, 1, 4, 0}; // marked none
    write_config_file(records);
    const std::string before = read_file("coms.cfg");
    fail_probe({2, 3, 6, 8, 12});
    init_bauds();

    std::vector<PortRecord> expected = records;
    expected[2 - 1] = {19200, 1, 0, 0};
    expected[6 - 1] = {9600, 0, 0, 0};
    expected[8 - 1] = {9600, 1, 0, 0};
    expected[12 - 1] = {9600, 0, 4, 0};
    EXPECT_EQ(config_bytes(records_of_table()), config_bytes(expected));
    EXPECT_EQ(read_file("coms.cfg"), before);
}
