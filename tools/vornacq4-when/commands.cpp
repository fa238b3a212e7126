// The commands that answer from one data file and its index: when, slice,
// check and records.
#include "commands.h"

#include "times.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>

namespace when {

int usage()
{
    std::fprintf(stderr,
                 "usage: vornacq4-when when FILE OFFSET [--utc]\n"
                 "       vornacq4-when slice FILE FROM TO [-o OUT]\n"
                 "       vornacq4-when replay FILE... [--to DEVICE [--baud N]] [--speed N] [--delay S] [--max-gap S]\n"
                 "       vornacq4-when check FILE [--utc]\n"
                 "       vornacq4-when records FILE [--csv] [--utc]\n"
                 "       vornacq4-when lines FILE... [--csv] [--utc]\n"
                 "       vornacq4-when coverage DIR|FILE... [--gap S] [--utc]\n"
                 "       vornacq4-when bag OUT [--from DAY --to DAY] [--info KEY=VALUE]... [--closed-only] DIR\n"
                 "       vornacq4-when bag --verify BAG\n"
                 "times: 2024-02-14T15:03:00[.fraction] local time, followed by Z for UTC or\n"
                 "       +hh:mm/-hh:mm for that offset; or @seconds since 1970; shown in local\n"
                 "       time with the offset, or in UTC with --utc\n"
                 "exit status: 0 done, 1 the files do not tell (nothing found), 2 a wrong command line\n");
    return 2;
}

int fail(const std::string &message)
{
    std::fprintf(stderr, "vornacq4-when: %s\n", message.c_str());
    return 1;
}

bool open_checked(const std::string &path, Recording &r, std::string &error)
{
    if (!open_recording(path, r, error))
        return false;
    IndexReader reader(r);
    if (reader.is_index())
        return true;
    error = index_path(path) + " is not an arrival-time index";
    return false;
}

void warn_damage(const Recording &r, const IndexSummary &s)
{
    if (s.damagedTotal() > 0)
        std::fprintf(stderr, "vornacq4-when: %s: %lld damaged segments of the index were skipped\n", r.path.c_str(),
                     s.damagedTotal());
}

void extend(Extent &e, const Burst &b, bool firstOne)
{
    e.covered += b.count;
    e.end = std::max(e.end, b.offset + b.count);
    e.earliest = firstOne ? b.first : std::min(e.earliest, b.first);
    e.latest = firstOne ? b.last : std::max(e.latest, b.last);
}

namespace {

// A byte offset: digits only, no sign, within range.
bool parse_offset(const std::string &text, long long &offset)
{
    if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos)
        return false;
    errno = 0;
    offset = std::strtoll(text.c_str(), nullptr, 10);
    return errno == 0;
}

// A time given on the command line; says on stderr when it is none.
bool time_operand(const std::string &text, long long &us)
{
    if (parse_time(text, us))
        return true;
    std::fprintf(stderr, "vornacq4-when: %s is no time (a day past its month's end, a local time the clocks "
                         "skipped, or not written as below)\n", text.c_str());
    return false;
}

// The first byte of the burst that arrived at or after `t` (the burst's end
// when none did). Times only grow within a burst.
long long first_at_or_after(const Burst &b, long long t)
{
    long long lo = b.offset, hi = b.offset + b.count;
    while (lo < hi) {
        const long long mid = lo + (hi - lo) / 2;
        if (byte_time(b, mid) < t)
            lo = mid + 1;
        else
            hi = mid;
    }
    return lo;
}

// Copies data bytes [from, to) to `out` in pieces. False when they cannot be
// read or written.
bool copy_bytes(int fd, long long from, long long to, std::FILE *out)
{
    static char buffer[64 * 1024];
    while (from < to) {
        const long long n = read_at(fd, from, buffer, std::min<long long>(to - from, sizeof buffer));
        if (n <= 0 || std::fwrite(buffer, 1, static_cast<std::size_t>(n), out) != static_cast<std::size_t>(n))
            return false;
        from += n;
    }
    return true;
}

} // namespace

int cmd_when(Args args)
{
    CommandLine line;
    long long offset = 0;
    if (!parse_options(args, {{"utc", 0, false}}, line) || line.operands.size() != 2 ||
        !parse_offset(line.operands[1], offset))
        return usage();
    const bool utc = line.has("utc");
    args = line.operands;
    Recording r;
    std::string error;
    if (!open_checked(args[0], r, error))
        return fail(error);
    if (offset >= r.size)
        return fail("offset " + args[1] + " is past the end of " + r.path);
    // The last record that holds the byte: a later segment wins.
    IndexReader reader(r);
    Burst b{}, found{};
    bool have = false;
    while (reader.next(b))
        if (offset >= b.offset && offset - b.offset < b.count) {
            found = b;
            have = true;
        }
    if (!have)
        return fail("the index does not tell when byte " + args[1] + " arrived");
    std::printf("%s\n", format_time(byte_time(found, offset), utc).c_str());
    return 0;
}

int cmd_slice(Args args)
{
    CommandLine line;
    long long from = 0, to = 0;
    if (!parse_options(args, {{"output", 'o', true}}, line) || line.operands.size() != 3)
        return usage();
    args = line.operands;
    const std::string out = line.value("output", "");
    if (!time_operand(args[1], from) || !time_operand(args[2], to))
        return usage();
    Recording r;
    std::string error;
    if (!open_checked(args[0], r, error))
        return fail(error);
    IndexReader reader(r);
    std::FILE *f = nullptr; // opened at the first byte found
    long long written = 0;
    bool ok = true;
    for (Burst b{}; ok && reader.next(b);) {
        if (b.last < from || b.first >= to)
            continue;
        const long long lo = first_at_or_after(b, from), hi = first_at_or_after(b, to);
        if (lo < hi && f == nullptr)
            f = out.empty() ? stdout : open_output(out);
        if (lo < hi && (f == nullptr || !copy_bytes(r.dataFd, lo, hi, f)))
            ok = false;
        written += hi - lo;
    }
    if (f != nullptr && f != stdout && std::fclose(f) != 0)
        ok = false;
    warn_damage(r, reader.summary());
    if (!ok)
        return fail(out.empty() ? "the bytes could not be written" : out + " cannot be written");
    if (written == 0)
        return fail("nothing in " + r.path + " arrived from " + args[1] + " to " + args[2]);
    return 0;
}

namespace {

void say_check_notes(const Recording &r, const IndexSummary &s, const Extent &e)
{
    if (e.end < r.size)
        std::printf("the last %lld bytes are not indexed (the logger stopped before indexing them, or is "
                    "writing them)\n", r.size - e.end);
    if (s.torn > 0)
        std::printf("%lld records cut short (a stop, or a write the disk refused) are left out\n", s.torn);
    if (s.unsynced > 0)
        std::printf("%lld of %lld segments began on an unsynchronised clock, the first at byte %lld: their times "
                    "may be off\n", s.unsynced, s.segments, s.firstUnsyncedOffset);
}

} // namespace

int cmd_check(Args args)
{
    CommandLine line;
    if (!parse_options(args, {{"utc", 0, false}}, line) || line.operands.size() != 1)
        return usage();
    const bool utc = line.has("utc");
    args = line.operands;
    Recording r;
    std::string error;
    if (!open_checked(args[0], r, error))
        return fail(error);
    IndexReader reader(r);
    Extent e;
    for (Burst b{}; reader.next(b);)
        extend(e, b, reader.summary().records == 1);
    const IndexSummary &s = reader.summary();
    std::printf("%s: %lld bytes, %lld records covering %lld bytes", r.path.c_str(), r.size, s.records, e.covered);
    if (s.records > 0)
        std::printf(", from %s to %s", format_time(e.earliest, utc).c_str(), format_time(e.latest, utc).c_str());
    std::printf("\n");
    say_check_notes(r, s, e);
    if (s.damagedTotal() == 0) {
        std::printf("the index (%lld segments) agrees with the data file\n", s.segments);
        return 0;
    }
    for (int d = 0; d < kDamageKinds; ++d)
        if (s.damaged[d] > 0)
            std::printf("%lld damaged segments: %s\n", s.damaged[d], damage_text(static_cast<Damage>(d)));
    std::fflush(stdout);
    return fail("the index of " + r.path + " does not agree with it");
}

int cmd_records(Args args)
{
    CommandLine line;
    if (!parse_options(args, {{"utc", 0, false}, {"csv", 0, false}}, line) || line.operands.size() != 1)
        return usage();
    const bool utc = line.has("utc"), csv = line.has("csv");
    args = line.operands;
    Recording r;
    std::string error;
    if (!open_checked(args[0], r, error))
        return fail(error);
    IndexReader reader(r);
    const char *const format = csv ? "%lld,%lld,%s,%s\r\n" : "%lld\t%lld\t%s\t%s\n";
    if (csv)
        std::printf("offset,bytes,first,last\r\n");
    for (Burst b{}; reader.next(b);)
        std::printf(format, b.offset, b.count, format_time(b.first, utc).c_str(), format_time(b.last, utc).c_str());
    warn_damage(r, reader.summary());
    return 0;
}

} // namespace when
