#include "index_encoder.h"

#include "index_format.h"

namespace shore {

namespace {

void varint(std::string &out, unsigned long long v)
{
    while (v >= 0x80) {
        out += static_cast<char>((v & 0x7f) | 0x80);
        v >>= 7;
    }
    out += static_cast<char>(v);
}

unsigned long long zigzag(long long v)
{
    return (static_cast<unsigned long long>(v) << 1) ^ static_cast<unsigned long long>(v >> 63);
}

std::string record(unsigned long long head, long long first, long long last, long long previousFirst)
{
    std::string out;
    varint(out, head);
    varint(out, zigzag(first - previousFirst) + 1);
    varint(out, static_cast<unsigned long long>(last - first) + 1);
    return out;
}

} // namespace

std::string segment_mark(long long offset)
{
    std::string out(1, static_cast<char>(INDEX_SEGMENT_MARK));
    out.append(INDEX_MAGIC, INDEX_MAGIC_LEN);
    varint(out, static_cast<unsigned long long>(offset));
    varint(out, 0);
    return out;
}

std::string data_record(long long bytes, long long first, long long last, long long previousFirst)
{
    return record(2 * static_cast<unsigned long long>(bytes), first, last, previousFirst);
}

std::string gap_record(long long missing, long long first, long long last, long long previousFirst)
{
    return record(2 * static_cast<unsigned long long>(missing) + INDEX_GAP_BIT, first, last, previousFirst);
}

} // namespace shore
