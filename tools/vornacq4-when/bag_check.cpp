// bag --verify: whether a bag is valid (RFC 8493): bagit.txt as it must be,
// every file in data/ listed in every payload manifest and nothing listed
// that is not there, every checksum right, the Payload-Oxum right, and the
// tag files as the tag manifests say. Each thing wrong is named on stderr.
#include "bag.h"

#include "commands.h"
#include "files.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <map>
#include <system_error>

namespace when {

namespace {

namespace fs = std::filesystem;

constexpr std::size_t kLongestLine = 64 * 1024; // a path, a checksum and room to spare

struct Listed {
    std::string sum[kAlgorithms];
    bool seen = false;
};

struct Check {
    std::string bag;
    bool manifest[kAlgorithms] = {};
    std::map<std::string, Listed> payload; // by path, "data/..."
    long long problems = 0, bytes = 0, files = 0;

    void problem(const std::string &what)
    {
        std::fprintf(stderr, "vornacq4-when: %s: %s\n", bag.c_str(), what.c_str());
        ++problems;
    }
};

// The lines of a tag file, read in pieces; a line too long to be one is an
// error, and so is a file that cannot be read.
bool read_lines(Check &c, const std::string &name, std::vector<std::string> &lines)
{
    std::string error, line;
    long long length = 0;
    const int fd = open_regular(join_path(c.bag, name), length, error);
    if (fd < 0) {
        c.problem(error);
        return false;
    }
    static char buffer[64 * 1024];
    bool ok = true;
    for (long long at = 0; ok && at < length;) {
        const long long n = read_at(fd, at, buffer, std::min<long long>(length - at, sizeof buffer));
        ok = n > 0;
        for (long long i = 0; i < n && ok; ++i)
            if (buffer[i] == '\n') {
                lines.push_back(line.size() > 0 && line.back() == '\r' ? line.substr(0, line.size() - 1) : line);
                line.clear();
            } else {
                line += buffer[i];
                ok = line.size() <= kLongestLine;
            }
        at += n;
    }
    close_file(fd);
    if (!line.empty())
        lines.push_back(line);
    if (!ok)
        c.problem(name + " cannot be read, or has a line too long to be one");
    return ok;
}

// "checksum  path": false, with the problem named, when it is not.
bool parse_entry(Check &c, const std::string &name, const std::string &line, Algorithm a, std::string &sum,
                 std::string &path)
{
    const std::size_t gap = line.find_first_of(" \t"), start = line.find_first_not_of(" \t", gap);
    sum = line.substr(0, gap);
    for (char &ch : sum)
        ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    const std::size_t length = a == kMd5 ? 32 : 64;
    if (gap == std::string::npos || start == std::string::npos || sum.size() != length ||
        sum.find_first_not_of("0123456789abcdef") != std::string::npos || !decode_path(line.substr(start), path)) {
        c.problem(name + ": not a manifest line: " + line.substr(0, 200));
        return false;
    }
    return true;
}

// Whether a manifest's path stays inside `top` ("data/", or "" for the
// bag's own tag files): no empty, "." or ".." part, whichever separator
// the system takes (Windows reads a backslash as one too).
bool stays_inside(const std::string &path, const std::string &top)
{
    if (path.compare(0, top.size(), top) != 0 || path.size() == top.size())
        return false;
    for (std::size_t at = top.size(), end = 0; at <= path.size(); at = end + 1) {
        end = std::min(path.find_first_of("/\\", at), path.size());
        const std::string part = path.substr(at, end - at);
        if (part.empty() || part == "." || part == "..")
            return false;
    }
    return true;
}

// A payload manifest's lines into c.payload.
void read_manifest(Check &c, Algorithm a)
{
    const std::string name = std::string("manifest-") + algorithm_name(a) + ".txt";
    std::vector<std::string> lines;
    if (!read_lines(c, name, lines))
        return;
    c.manifest[a] = true;
    for (const std::string &line : lines) {
        std::string sum, path;
        if (!parse_entry(c, name, line, a, sum, path))
            continue;
        if (!stays_inside(path, "data/"))
            c.problem(name + " lists " + path + ", which is not in data/");
        else if (!c.payload[path].sum[a].empty())
            c.problem(name + " lists " + path + " twice");
        else
            c.payload[path].sum[a] = sum;
    }
}

// One file of data/: listed in every manifest, with the checksums it has.
void check_payload_file(Check &c, const std::string &rel)
{
    const auto it = c.payload.find(rel);
    if (it == c.payload.end())
        return c.problem(rel + " is in data/ but in no manifest");
    it->second.seen = true;
    Digests d;
    std::string error;
    const long long n = stream_file(join_path(c.bag, rel), d, nullptr, error);
    if (n < 0)
        return c.problem(error);
    c.bytes += n;
    c.files += 1;
    const Sums sums = d.finish();
    for (int a = 0; a < kAlgorithms; ++a) {
        const char *alg = algorithm_name(static_cast<Algorithm>(a));
        if (c.manifest[a] && it->second.sum[a].empty())
            c.problem(rel + " is not in manifest-" + alg + ".txt");
        else if (c.manifest[a] && it->second.sum[a] != sums[a])
            c.problem(rel + ": its " + alg + " is not the one manifest-" + alg + ".txt gives: the file has changed");
    }
}

void check_payload(Check &c)
{
    std::error_code ec;
    const fs::path data = fs::u8path(join_path(c.bag, "data"));
    if (!fs::is_directory(data, ec))
        return c.problem("there is no data/ directory");
    for (fs::recursive_directory_iterator it(data, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string rel = "data/" + fs::relative(it->path(), data, ec).generic_u8string();
        std::error_code kind;
        if (it->is_directory(kind))
            continue;
        if (!fs::is_regular_file(it->symlink_status(kind)))
            c.problem(rel + " is not a regular file");
        else
            check_payload_file(c, rel);
    }
    if (ec)
        c.problem("data/ cannot be read through: " + ec.message());
    for (const auto &listed : c.payload)
        if (!listed.second.seen)
            c.problem(listed.first + " is listed in the manifests but missing from data/");
}

void check_declaration(Check &c)
{
    std::vector<std::string> lines;
    if (!read_lines(c, "bagit.txt", lines))
        return;
    if (lines.size() < 2 || lines[0].compare(0, 15, "BagIt-Version: ") != 0 ||
        lines[1] != "Tag-File-Character-Encoding: UTF-8")
        c.problem("bagit.txt does not declare a BagIt bag in UTF-8");
}

void check_oxum(Check &c)
{
    std::vector<std::string> lines;
    std::error_code ec;
    if (!fs::exists(fs::u8path(join_path(c.bag, "bag-info.txt")), ec) || !read_lines(c, "bag-info.txt", lines))
        return;
    const std::string counted = std::to_string(c.bytes) + "." + std::to_string(c.files);
    for (const std::string &line : lines)
        if (line.compare(0, 14, "Payload-Oxum: ") == 0 && line.substr(14) != counted)
            c.problem("bag-info.txt's Payload-Oxum is " + line.substr(14) + ", data/ holds " + counted);
}

void check_tags(Check &c, Algorithm a)
{
    const std::string name = std::string("tagmanifest-") + algorithm_name(a) + ".txt";
    std::vector<std::string> lines;
    std::error_code ec;
    if (!fs::exists(fs::u8path(join_path(c.bag, name)), ec) || !read_lines(c, name, lines))
        return;
    for (const std::string &line : lines) {
        std::string sum, path, error;
        if (!parse_entry(c, name, line, a, sum, path))
            continue;
        if (path.compare(0, 5, "data/") == 0 || !stays_inside(path, "")) {
            c.problem(name + " lists " + path + ", which is no tag file");
            continue;
        }
        Digests d;
        if (stream_file(join_path(c.bag, path), d, nullptr, error) < 0)
            c.problem(error);
        else if (d.finish()[a] != sum)
            c.problem(path + ": its " + algorithm_name(a) + " is not the one " + name + " gives: it has changed");
    }
}

} // namespace

int check_bag(const std::string &bag)
{
    Check c;
    c.bag = bag;
    check_declaration(c);
    std::error_code ec;
    for (int a = 0; a < kAlgorithms; ++a)
        if (fs::exists(fs::u8path(join_path(bag, std::string("manifest-") +
                                                     algorithm_name(static_cast<Algorithm>(a)) + ".txt")), ec))
            read_manifest(c, static_cast<Algorithm>(a));
    if (!c.manifest[kMd5] && !c.manifest[kSha256])
        c.problem("there is no manifest-md5.txt or manifest-sha256.txt to check data/ against");
    check_payload(c);
    check_oxum(c);
    for (int a = 0; a < kAlgorithms; ++a)
        check_tags(c, static_cast<Algorithm>(a));
    if (c.problems > 0)
        return fail(bag + " is not a valid bag: " + std::to_string(c.problems) +
                    (c.problems == 1 ? " problem" : " problems"));
    std::printf("%s: a valid bag: %lld files, %lld bytes, every checksum right\n", bag.c_str(), c.files, c.bytes);
    return 0;
}

} // namespace when
