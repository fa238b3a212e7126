// The bag command: a BagIt bag of a start-up directory's day directories
// and its three configuration files (bag.h), or with --verify the check of
// one (bag_check.cpp).
//
// Files are copied, or hard-linked where the file system allows and the file
// is closed; never moved. The current period (the set of data files the
// logger last began, when a file of it changed within the last hour) may
// still be being written: its files are copied as they stand, each named on
// stderr, or left out with --closed-only. Each day's index directory is
// bagged before its data directory: the logger writes a tick's data before
// its index, so a bagged index never dates bytes the bagged data lack.
#include "bag.h"

#include "commands.h"
#include "files.h"
#include "zone.h"

#include <algorithm>
#include <chrono>
#include <ctime>
#include <filesystem>
#include <system_error>

namespace when {

namespace {

namespace fs = std::filesystem;

constexpr int kLastDay = 366;
constexpr auto kLongestPeriod = std::chrono::minutes(61); // hourly files, and a minute's grace
const char *const kConfigFiles[] = {"coms.cfg", "comports.map", "network.map"};
const char *const kReserved[] = {"Bagging-Date", "Payload-Oxum", "Bag-Size"}; // bag-info.txt's own

struct Plan {
    std::string out, dir;
    int from = 1, to = kLastDay;
    bool closedOnly = false;
    Args info; // "Key: Value"
};

// The set of data files the logger may still be writing: day and name base.
struct Current {
    int day = 0;
    std::string base;
};

struct Bagger {
    Plan plan;
    Current current;
    std::FILE *manifest[kAlgorithms] = {};
    long long bytes = 0, files = 0, links = 0;
};

// A day as the command line gives it: 45, 045 or D045.
bool parse_day(std::string text, int &day)
{
    if (!text.empty() && text[0] == 'D')
        text.erase(0, 1);
    if (text.empty() || text.size() > 3 || text.find_first_not_of("0123456789") != std::string::npos)
        return false;
    day = std::stoi(text);
    return day >= 1 && day <= kLastDay;
}

// The day of a day directory's name ("D045", "T045" with `letter`), or 0.
int day_of(const std::string &name, char letter)
{
    int day = 0;
    return name.size() == 4 && name[0] == letter && parse_day(name.substr(1), day) ? day : 0;
}

// Whether the plan takes `day`; --from after --to runs across the new year.
bool wanted(const Plan &p, int day)
{
    return p.from <= p.to ? day >= p.from && day <= p.to : day >= p.from || day <= p.to;
}

bool info_line(const std::string &given, std::string &line)
{
    const std::size_t eq = given.find('=');
    const std::string key = given.substr(0, eq);
    if (eq == std::string::npos || key.empty() || key.find_first_of(":\r\n \t") != std::string::npos ||
        given.find_first_of("\r\n") != std::string::npos)
        return false;
    for (const char *reserved : kReserved)
        if (key == reserved)
            return false;
    line = key + ": " + given.substr(eq + 1);
    return true;
}

bool parse_bag(const CommandLine &line, Plan &p)
{
    if (line.operands.size() != 2 || (line.has("from") != line.has("to")))
        return false;
    p.out = line.operands[0];
    p.dir = line.operands[1];
    p.closedOnly = line.has("closed-only");
    if (line.has("from") && (!parse_day(line.value("from", ""), p.from) || !parse_day(line.value("to", ""), p.to)))
        return false;
    for (const std::string &given : line.values("info")) {
        p.info.emplace_back();
        if (!info_line(given, p.info.back())) {
            std::fprintf(stderr, "vornacq4-when: --info %s: not KEY=VALUE on one line, or a key the bag sets "
                                 "itself\n", given.c_str());
            return false;
        }
    }
    return true;
}

// The names in `dir`, sorted: directories or regular files (links followed).
Args names_in(const std::string &dir, bool directories)
{
    Args names;
    std::error_code ec;
    for (fs::directory_iterator it(fs::u8path(dir), ec), end; !ec && it != end; it.increment(ec)) {
        std::error_code kind;
        if (directories ? it->is_directory(kind) : it->is_regular_file(kind))
            names.push_back(it->path().filename().u8string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

// The newest data file of the days bagged, when it changed within the last
// hour: its set is the current period.
Current current_period(const Plan &p)
{
    Current c;
    fs::file_time_type newest{};
    for (const std::string &dir : names_in(p.dir, true)) {
        const int day = day_of(dir, 'D');
        for (const std::string &name : day != 0 && wanted(p, day) ? names_in(join_path(p.dir, dir), false) : Args()) {
            std::error_code ec;
            const fs::file_time_type t = fs::last_write_time(fs::u8path(join_path(join_path(p.dir, dir), name)), ec);
            if (!ec && name.size() >= 10 && (c.day == 0 || t > newest)) {
                newest = t;
                c = {day, name.substr(0, 10)};
            }
        }
    }
    return c.day != 0 && fs::file_time_type::clock::now() - newest < kLongestPeriod ? c : Current();
}

bool is_current(const Current &c, int day, const std::string &name)
{
    return c.day == day && name.compare(0, c.base.size(), c.base) == 0;
}

// Whether `target` could be made a hard link to `source`: a regular file
// itself (a link to one is copied), on the same file system, which allows it.
bool hard_link(const std::string &source, const std::string &target)
{
    std::error_code ec;
    if (!fs::is_regular_file(fs::symlink_status(fs::u8path(source), ec)))
        return false;
    fs::create_hard_link(fs::u8path(source), fs::u8path(target), ec);
    return !ec;
}

// One file into the bag: data/`rel`, from `source`. Linked when `closed` and
// the file system allows, else copied; its manifest lines written.
bool bag_file(Bagger &b, const std::string &source, const std::string &target, const std::string &rel, bool closed,
              std::string &error)
{
    const bool link = closed && hard_link(source, target);
    Digests d;
    std::FILE *copy = link ? nullptr : open_output(target);
    if (!link && copy == nullptr) {
        error = target + " cannot be written";
        return false;
    }
    const long long n = stream_file(link ? target : source, d, copy, error);
    if (copy != nullptr && std::fclose(copy) != 0 && n >= 0) {
        error = target + " cannot be written";
        return false;
    }
    const Sums sums = d.finish();
    for (int a = 0; a < kAlgorithms; ++a)
        if (n >= 0 && (sums[a].empty() || std::fprintf(b.manifest[a], "%s  data/%s\n", sums[a].c_str(),
                                                      encode_path(rel).c_str()) < 0)) {
            error = std::string("the ") + algorithm_name(static_cast<Algorithm>(a)) + " manifest cannot be written";
            return false;
        }
    b.bytes += n > 0 ? n : 0;
    b.files += 1;
    b.links += link ? 1 : 0;
    return n >= 0;
}

// One day directory, "D045" or "T045", into data/.
bool bag_day(Bagger &b, const std::string &dir, int day, std::string &error)
{
    const std::string from = join_path(b.plan.dir, dir), to = join_path(join_path(b.plan.out, "data"), dir);
    std::error_code ec;
    if (!fs::create_directory(fs::u8path(to), ec) && ec) {
        error = to + " cannot be made: " + ec.message();
        return false;
    }
    for (const std::string &name : names_in(from, false)) {
        const bool current = is_current(b.current, day, name);
        if (current && b.plan.closedOnly)
            continue;
        if (current)
            std::fprintf(stderr, "vornacq4-when: %s/%s may still be being written: bagged as it stands now\n",
                         dir.c_str(), name.c_str());
        if (!bag_file(b, join_path(from, name), join_path(to, name), dir + "/" + name, !current, error))
            return false;
    }
    return true;
}

bool bag_payload(Bagger &b, std::string &error)
{
    const Args dirs = names_in(b.plan.dir, true);
    for (int day = 1; day <= kLastDay; ++day)
        for (const char letter : {'T', 'D'}) { // the index first: see above
            const std::string dir = std::string(1, letter) + (day < 10 ? "00" : day < 100 ? "0" : "") +
                                    std::to_string(day);
            if (wanted(b.plan, day) && std::binary_search(dirs.begin(), dirs.end(), dir) &&
                !bag_day(b, dir, day, error))
                return false;
        }
    for (const char *name : kConfigFiles) {
        const std::string source = join_path(b.plan.dir, name);
        std::error_code ec;
        if (fs::exists(fs::u8path(source), ec) &&
            !bag_file(b, source, join_path(join_path(b.plan.out, "data"), name), name, true, error))
            return false;
    }
    return true;
}

bool write_text(const std::string &path, const std::string &text)
{
    std::FILE *f = open_output(path);
    const bool written = f != nullptr && std::fwrite(text.data(), 1, text.size(), f) == text.size();
    return (f == nullptr || std::fclose(f) == 0) && written;
}

std::string bag_info(const Bagger &b)
{
    std::tm t{};
    long long east = 0;
    broken_down(static_cast<long long>(std::time(nullptr)), false, t, east);
    char date[32];
    std::snprintf(date, sizeof date, "%04d-%02d-%02d", t.tm_year + 1900, t.tm_mon + 1, t.tm_mday);
    std::string text = std::string("Bagging-Date: ") + date + "\nPayload-Oxum: " + std::to_string(b.bytes) + "." +
                       std::to_string(b.files) + "\nBag-Size: " + human_size(b.bytes) + "\n";
    for (const std::string &line : b.plan.info)
        text += line + "\n";
    return text;
}

// bagit.txt, bag-info.txt, then the tag manifests over them and the payload's.
bool write_tags(const Bagger &b, std::string &error)
{
    const std::string out = b.plan.out;
    if (!write_text(join_path(out, "bagit.txt"), "BagIt-Version: 1.0\nTag-File-Character-Encoding: UTF-8\n") ||
        !write_text(join_path(out, "bag-info.txt"), bag_info(b))) {
        error = "the tag files of " + out + " cannot be written";
        return false;
    }
    std::string lines[kAlgorithms];
    for (const char *tag : {"bagit.txt", "bag-info.txt", "manifest-md5.txt", "manifest-sha256.txt"}) {
        Digests d;
        if (stream_file(join_path(out, tag), d, nullptr, error) < 0)
            return false;
        const Sums sums = d.finish();
        for (int a = 0; a < kAlgorithms; ++a)
            lines[a] += sums[a] + "  " + tag + "\n";
    }
    for (int a = 0; a < kAlgorithms; ++a)
        if (!write_text(join_path(out, std::string("tagmanifest-") + algorithm_name(static_cast<Algorithm>(a)) +
                                           ".txt"), lines[a])) {
            error = "the tag manifests of " + out + " cannot be written";
            return false;
        }
    return true;
}

bool open_manifests(Bagger &b, std::string &error)
{
    std::error_code ec;
    if (!fs::create_directory(fs::u8path(b.plan.out), ec) || !fs::create_directory(fs::u8path(join_path(b.plan.out, "data")), ec)) {
        error = b.plan.out + (ec ? " cannot be made: " + ec.message() : " is there already: a bag is made afresh");
        return false;
    }
    for (int a = 0; a < kAlgorithms; ++a) {
        const std::string name = std::string("manifest-") + algorithm_name(static_cast<Algorithm>(a)) + ".txt";
        b.manifest[a] = open_output(join_path(b.plan.out, name));
        if (b.manifest[a] == nullptr) {
            error = join_path(b.plan.out, name) + " cannot be written";
            return false;
        }
    }
    return true;
}

bool close_manifests(Bagger &b)
{
    bool ok = true;
    for (std::FILE *&f : b.manifest)
        if (f != nullptr) {
            ok = std::fclose(f) == 0 && ok;
            f = nullptr;
        }
    return ok;
}

// Whether `dir` has a day directory of a day the plan takes: a bag of
// nothing is a wrong directory or wrong days, never a hand-over.
bool has_days(const Plan &p)
{
    for (const std::string &name : names_in(p.dir, true))
        for (const char letter : {'D', 'T'})
            if (day_of(name, letter) != 0 && wanted(p, day_of(name, letter)))
                return true;
    return false;
}

int make_bag(const Plan &plan)
{
    if (!is_directory(plan.dir))
        return fail(plan.dir + " is not a directory");
    if (!has_days(plan))
        return fail(plan.dir + " has no day directory (Dddd, Tddd) of the days asked: no bag made");
    Bagger b;
    b.plan = plan;
    b.current = current_period(plan);
    std::string error;
    if (!open_manifests(b, error)) {
        close_manifests(b);
        return fail(error);
    }
    bool ok = bag_payload(b, error);
    if (!close_manifests(b) && ok) {
        error = "the manifests of " + plan.out + " cannot be written";
        ok = false;
    }
    if (!ok || !write_tags(b, error))
        return fail(error + " (the bag in " + plan.out + " is not whole)");
    std::printf("%s: %lld files, %lld bytes (%lld of them hard links)\n", plan.out.c_str(), b.files, b.bytes,
                b.links);
    return 0;
}

} // namespace

int cmd_bag(Args args)
{
    CommandLine line;
    if (!parse_options(args, {{"verify", 0, false}, {"from", 0, true}, {"to", 0, true}, {"info", 0, true},
                              {"closed-only", 0, false}}, line))
        return usage();
    if (line.has("verify"))
        return line.operands.size() == 1 && line.given.size() == 1 ? check_bag(line.operands[0]) : usage();
    Plan plan;
    if (!parse_bag(line, plan))
        return usage();
    return make_bag(plan);
}

} // namespace when
