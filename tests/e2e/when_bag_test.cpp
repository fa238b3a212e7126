// vornacq4-when bag, the real binary: a start-up directory bagged whole,
// checked by --verify and by md5sum and sha256sum, and a damaged bag named.
#include "logger_process.h"
#include "test_support.h"
#include "when_recordings.h"

#include <gtest/gtest.h>

#include <ctime>
#include <sys/time.h>

using testing_support::read_file;

namespace {

// A start-up directory: the shared recording as a period closed two hours
// ago, a set the logger began just now, and two configuration files.
struct BagStation {
    TempDir dir;
    std::string closed, current;
    long long bytes = 0;

    BagStation()
    {
        const std::string fixture = WHEN_FIXTURE_DIR;
        const std::string data = read_file(fixture + "/D045/04550400.C01"), index = read_file(fixture + "/T045/04550400.C01");
        closed = recording(dir, "04550400.C01", data, index);
        const timeval old[2] = {{time(nullptr) - 7200, 0}, {time(nullptr) - 7200, 0}};
        for (const std::string &f : {closed, dir.file("T045/04550400.C01")}) utimes(f.c_str(), old);
        current = recording(dir, "04553000.C01", "$GPGGA now\r\n", segment(2, 0, {{12, k1403, k1403}}));
        write_file(dir.file("coms.cfg"), std::string(288, '\1'));
        write_file(dir.file("comports.map"), "COM1 none\n");
        bytes = data.size() + index.size() + 12 + segment(2, 0, {{12, k1403, k1403}}).size() + 288 + 10;
    }
    ToolRun bag(const std::string &name, std::vector<std::string> options = {})
    {
        std::vector<std::string> args = {"bag", dir.file(name)};
        args.insert(args.end(), options.begin(), options.end());
        args.push_back(dir.path());
        return run_when(args);
    }
};

TEST(WhenBag, ARunsDirectoryBagsWholeAndChecksWithVerifyAndWithMd5sumAndSha256sum)
{
    BagStation s;
    const ToolRun made = s.bag("bag", {"--info", "Source-Organization=R/V_Test"});
    ASSERT_EQ(made.status, 0) << made.both();
    EXPECT_TRUE(has(made.both(), "D045/04553000.C01 may still be being written")) << made.both();
    EXPECT_FALSE(has(made.both(), "04550400.C01")) << "a closed period is not named";
    struct stat st {};
    stat(s.closed.c_str(), &st);
    EXPECT_EQ(st.st_nlink, 2u) << "a closed file is hard-linked";
    const std::string info = read_file(s.dir.file("bag/bag-info.txt"));
    EXPECT_TRUE(has(info, "Payload-Oxum: " + std::to_string(s.bytes) + ".6\n")) << info;
    EXPECT_TRUE(has(info, "Source-Organization: R/V_Test\n")) << info;
    const ToolRun verified = run_when({"bag", "--verify", s.dir.file("bag")});
    EXPECT_EQ(verified.status, 0) << verified.both();
    for (const std::string sum : {"md5", "sha256"}) {
        LoggerProcess::Options check;
        check.binary = "/usr/bin/" + sum + "sum";
        check.args = {"-c", "--quiet", "manifest-" + sum + ".txt", "tagmanifest-" + sum + ".txt"};
        check.startDir = s.dir.file("bag");
        const ToolRun checked = run_tool(check);
        EXPECT_EQ(checked.status, 0) << check.binary << ": " << checked.both();
    }

    ASSERT_EQ(s.bag("closed", {"--closed-only", "--from", "44", "--to", "D045"}).status, 0);
    EXPECT_EQ(run_when({"bag", "--verify", s.dir.file("closed")}).status, 0);
    EXPECT_TRUE(read_file(s.dir.file("closed/data/D045/04553000.C01")).empty()) << "--closed-only took it";
    EXPECT_FALSE(read_file(s.dir.file("closed/data/D045/04550400.C01")).empty());
    EXPECT_TRUE(has(s.bag("none", {"--from", "100", "--to", "120"}).both(), "no bag made")) << "days without a directory";
}

TEST(WhenBag, AChangedByteAMissingFileOrAnExtraFileFailsVerifyAndIsNamed)
{
    BagStation s;
    const struct {
        const char *name;
        std::function<void(const std::string &)> damage;
        const char *says;
    } cases[] = {
        {"changed", [](const std::string &b) { write_file(b + "/data/D045/04553000.C01", "$GPGGA new\r\n"); },
         "data/D045/04553000.C01: its sha256 is not the one"},
        {"missing", [](const std::string &b) { unlink((b + "/data/T045/04550400.C01").c_str()); },
         "data/T045/04550400.C01 is listed in the manifests but missing"},
        {"extra", [](const std::string &b) { write_file(b + "/data/D045/stray", "x"); },
         "data/D045/stray is in data/ but in no manifest"},
        {"tag", [](const std::string &b) { write_file(b + "/bag-info.txt", "Bag-Size: 1 byte\n"); },
         "bag-info.txt: its sha256 is not the one tagmanifest-sha256.txt gives"},
    };
    for (const auto &c : cases) {
        ASSERT_EQ(s.bag(c.name).status, 0) << c.name;
        c.damage(s.dir.file(c.name));
        const ToolRun out = run_when({"bag", "--verify", s.dir.file(c.name)});
        EXPECT_EQ(out.status, 1) << c.name << "\n" << out.both();
        EXPECT_TRUE(has(out.both(), c.says)) << c.name << "\n" << out.both();
    }
    EXPECT_EQ(read_file(s.closed).size(), 3072u) << "the station's files are untouched";
}

} // namespace
