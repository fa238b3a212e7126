// Index inputs: the arrival-time index encoded as the logger writes it
// (segments of versions 1, 2 and 3, the last with gaps), generated with numbers sound and extreme,
// and the fixed sample of the nastiest index files.
#include "hostile_inputs.h"

namespace hostile {

namespace {

constexpr std::uint64_t kFeb2024 = 1707919380000000ull; // microseconds since 1970
constexpr std::uint64_t kHour = 3600000000ull;
const std::uint64_t kExtremes[] = {0, 1, 127, 128, 1ull << 40, (1ull << 40) + 10, (1ull << 63) - 1, 1ull << 63,
                                   0xFFFFFFFFFFFFFFFFull - (1ull << 40) + 1, 0xFFFFFFFFFFFFFFFFull};

std::string varint(std::uint64_t v)
{
    std::string s;
    for (; v >= 0x80; v >>= 7)
        s += static_cast<char>((v & 0x7F) | 0x80);
    return s + static_cast<char>(v);
}

// The difference of two times, zigzag-encoded, in modular arithmetic.
std::uint64_t zigzag_difference(std::uint64_t to, std::uint64_t from)
{
    const std::uint64_t d = to - from;
    return (d >> 63) != 0 ? ((~d) << 1) | 1 : d << 1;
}

std::string mark(int version, std::uint64_t offset, std::uint64_t flags)
{
    std::string s = std::string(1, '\0') + "VTI" + static_cast<char>('0' + version) + varint(offset);
    return version >= 2 ? s + varint(flags) : s;
}

// A record: its times stored plus one from version 2 on, so no byte of it is
// 0; in version 3 its count doubled, odd for a gap (bytes missing there).
std::string record(int version, std::uint64_t count, std::uint64_t first, std::uint64_t previous, std::uint64_t span,
                   bool gap = false)
{
    const std::uint64_t plus = version >= 2 ? 1 : 0;
    const std::uint64_t stored = version >= 3 ? 2 * count + (gap ? 1 : 0) : count;
    return varint(stored) + varint(zigzag_difference(first, previous) + plus) + varint(span + plus);
}

// One segment from `offset` on; `odd` when a number in it is extreme.
std::string segment(Random &r, std::uint64_t &offset, bool &odd)
{
    const int version = 1 + static_cast<int>(r.below(3));
    if (r.chance(10)) {
        offset = r.pick(kExtremes);
        odd = true;
    }
    std::string s = mark(version, offset, r.below(4));
    std::uint64_t previous = 0, t = kFeb2024 + r.below(1000000000);
    for (std::size_t records = r.below(12); records > 0; --records) {
        const bool extreme = r.chance(5);
        const std::uint64_t count = extreme ? r.pick(kExtremes) : 1 + r.below(300);
        const bool gap = version == 3 && r.chance(10); // covers no byte of the data
        const std::size_t step = r.below(100);
        t = step < 10 ? t - kHour : step < 20 ? t + kHour : step < 23 ? r.pick(kExtremes) : t + r.below(2000000);
        const std::uint64_t span = r.chance(95) ? r.below(50000) : r.pick(kExtremes);
        odd = odd || extreme || (step >= 20 && step < 23) || span >= kHour || (version == 3 && count >= 1ull << 62);
        s += record(version, count, t, previous, span, gap);
        previous = t;
        offset += gap ? 0 : count;
    }
    return s;
}

} // namespace

void generate_index(Random &r, Input &in)
{
    std::uint64_t offset = 0;
    bool odd = false;
    in.bytes.clear();
    for (std::size_t segments = 1 + r.below(4); segments > 0; --segments)
        in.bytes += segment(r, offset, odd);
    const std::uint64_t claimed = offset;
    const std::uint64_t length = r.chance(60) ? claimed : r.below(claimed + 1);
    if (odd || claimed > kDataLengthMask) {
        in.extra = static_cast<std::uint32_t>(r.below(kDataLengthMask + 1));
        return;
    }
    in.extra = static_cast<std::uint32_t>(length) | (length < claimed ? kExpectDamage : kExpectClean);
}

std::uint32_t valid_index_data_length()
{
    return 600;
}

std::string valid_index()
{
    // An hour's two openings; the clock set back an hour inside the second.
    std::string s = mark(1, 0, 0) + record(1, 100, kFeb2024, 0, 5000) + record(1, 200, kFeb2024 + 1000000, kFeb2024, 20000);
    s += mark(2, 300, 1) + record(2, 100, kFeb2024 + 60000000, 0, 0);
    s += record(2, 100, kFeb2024 - kHour, kFeb2024 + 60000000, 15000);
    // A third, with 5000 bytes missing between its two records.
    s += mark(3, 500, 1) + record(3, 50, kFeb2024 + 120000000, 0, 0);
    s += record(3, 5000, kFeb2024 + 121000000, kFeb2024 + 120000000, 9000000, true);
    return s + record(3, 50, kFeb2024 + 131000000, kFeb2024 + 121000000, 0);
}

std::vector<Input> index_sample()
{
    Random r(2024);
    std::string noise;
    for (int i = 0; i < 5000; ++i)
        noise += static_cast<char>(r.next());
    const std::uint32_t length = valid_index_data_length();
    std::string empty, overlong = mark(2, 0, 1) + std::string(12, '\x85') + "\x01\x01";
    for (int i = 0; i < 20000; ++i)
        empty += mark(2, 0, i % 2);
    const std::uint64_t huge = 0xFFFFFFFFFFFFFFFFull - (1ull << 40) + 1, count = (1ull << 40) + 10;
    return {{Kind::Bytes, noise, length},
            {Kind::Bytes, mark(1, 0, 0) + noise, length},
            {Kind::Bytes, mark(1, huge, 0) + record(1, count, kFeb2024, 0, 5), length | kExpectDamage},
            {Kind::Bytes, mark(2, huge, 1) + record(2, count, kFeb2024, 0, 5), length | kExpectDamage},
            {Kind::Bytes, mark(2, 0, 1) + record(2, count, kFeb2024, 0, 5), length | kExpectDamage},
            {Kind::Bytes, overlong, length | kExpectDamage},
            {Kind::Bytes, empty, length | kExpectClean},
            {Kind::Bytes, valid_index().substr(0, valid_index().size() - 1), length | kExpectClean},
            {Kind::Bytes, valid_index(), (length - 1) | kExpectDamage},
            {Kind::Bytes, mark(2, 0, 1) + record(2, 10, kFeb2024 * 10, 0, 5), length | kExpectDamage},
            {Kind::LinkToBytes, valid_index(), length | kExpectClean}};
}

} // namespace hostile
