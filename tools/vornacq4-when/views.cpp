// The views over whole recordings: lines (a text instrument's lines with
// the time each began) and coverage (what time each file covers, and where
// its instrument fell silent).
#include "commands.h"

#include "times.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace when {

namespace {

// Lines, across consecutive files: a line ends at LF, CR LF or CR, and a
// CR LF may be split between two files. Bytes are written as they are read,
// so a line of any length costs no memory.
struct LineWriter {
    bool csv = false;
    bool utc = false;
    bool inLine = false;
    bool afterCr = false;
    long long lines = 0;

    void start(const Burst *b, long long offset)
    {
        const std::string time = b != nullptr ? format_time(byte_time(*b, offset), utc) : std::string();
        std::fputs(time.c_str(), stdout);
        std::fputs(csv ? ",\"" : "\t", stdout);
        inLine = true;
    }
    void end()
    {
        std::fputs(csv ? "\"\r\n" : "\n", stdout);
        inLine = false;
        ++lines;
    }
    // Byte `c` at `offset`, dated by `b` (null: the index does not date it).
    void take(int c, const Burst *b, long long offset)
    {
        const bool swallow = afterCr && c == '\n';
        afterCr = c == '\r';
        if (swallow)
            return;
        if (!inLine)
            start(b, offset);
        if (c == '\n' || c == '\r')
            return end();
        if (csv && c == '"')
            std::putchar('"');
        std::putchar(c);
    }
};

// Feeds data bytes [from, to) of the recording to the writer.
bool feed(const Recording &r, long long from, long long to, const Burst *b, LineWriter &w)
{
    static char buffer[64 * 1024];
    while (from < to) {
        const long long n = read_at(r.dataFd, from, buffer, std::min<long long>(to - from, sizeof buffer));
        if (n <= 0)
            return false;
        for (long long i = 0; i < n; ++i)
            w.take(static_cast<unsigned char>(buffer[i]), b, from + i);
        from += n;
    }
    return true;
}

// One file's bytes in order, each dated by the record that holds it; bytes
// no record holds begin lines with no time.
bool feed_file(const Recording &r, LineWriter &w)
{
    IndexReader reader(r);
    long long at = 0;
    for (Burst b{}; reader.next(b);) {
        const long long end = b.offset + b.count;
        if (end <= at)
            continue; // a stretch an earlier record already dated
        if (!feed(r, at, b.offset, nullptr, w) || !feed(r, std::max(at, b.offset), end, &b, w))
            return false;
        at = end;
    }
    warn_damage(r, reader.summary());
    return feed(r, at, r.size, nullptr, w);
}

} // namespace

int cmd_lines(Args args)
{
    CommandLine line;
    if (!parse_options(args, {{"utc", 0, false}, {"csv", 0, false}}, line) || line.operands.empty())
        return usage();
    LineWriter w;
    w.utc = line.has("utc");
    w.csv = line.has("csv");
    args = line.operands;
    if (w.csv)
        std::printf("time,line\r\n");
    for (const std::string &path : args) {
        Recording r;
        std::string error;
        if (!open_checked(path, r, error))
            return fail(error);
        if (!feed_file(r, w))
            return fail(path + " cannot be read");
    }
    if (w.inLine)
        w.end(); // the last line, unended
    return 0;
}

namespace {

// The data files in a directory, in name order; indexes set aside are not.
bool files_of(const std::string &dir, Args &files)
{
    Args names, paths;
    if (!regular_files_in(dir, names))
        return false;
    for (const std::string &name : names)
        if (name[0] != '.' && !is_set_aside(name))
            paths.push_back(join_path(dir, name));
    std::sort(paths.begin(), paths.end());
    files.insert(files.end(), paths.begin(), paths.end());
    return true;
}

// One file's coverage: a line for the file, then one for each silence.
int cover(const std::string &path, long long gapUs, bool utc)
{
    Recording r;
    std::string error;
    if (!open_checked(path, r, error))
        return fail(error);
    Extent e;
    IndexReader whole(r);
    for (Burst b{}; whole.next(b);)
        extend(e, b, whole.summary().records == 1);
    if (whole.summary().records == 0) {
        std::printf("%s: %lld bytes, none of them dated\n", path.c_str(), r.size);
        return 0;
    }
    std::printf("%s: %s to %s, %lld bytes, %lld of them dated\n", path.c_str(), format_time(e.earliest, utc).c_str(),
                format_time(e.latest, utc).c_str(), r.size, e.covered);
    IndexReader reader(r);
    Burst b{};
    for (long long lastSeen = -1; reader.next(b); lastSeen = std::max(lastSeen, b.last))
        if (lastSeen >= 0 && b.first - lastSeen > gapUs)
            std::printf("  silent %s to %s (%.0f s)\n", format_time(lastSeen, utc).c_str(),
                        format_time(b.first, utc).c_str(), (b.first - lastSeen) / 1e6);
    warn_damage(r, reader.summary());
    return 0;
}

} // namespace

int cmd_coverage(Args args)
{
    CommandLine line;
    if (!parse_options(args, {{"utc", 0, false}, {"gap", 0, true}}, line) || line.operands.empty())
        return usage();
    const bool utc = line.has("utc");
    const std::string gap = line.value("gap", "60");
    char *end = nullptr;
    const double seconds = std::strtod(gap.c_str(), &end);
    if (gap.empty() || *end != '\0' || !(seconds >= 0 && seconds <= 1e9))
        return usage();
    args = line.operands;
    Args files;
    for (const std::string &arg : args) {
        if (is_directory(arg)) {
            if (!files_of(arg, files))
                return fail(arg + " cannot be read");
        } else {
            files.push_back(arg);
        }
    }
    int status = 0;
    for (const std::string &file : files)
        status = std::max(status, cover(file, static_cast<long long>(seconds * 1e6), utc));
    return status;
}

} // namespace when
