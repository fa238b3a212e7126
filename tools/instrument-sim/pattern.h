// pattern.h - the seeded pattern stream of instrument-sim, shared with the
// checkers that regenerate it.
//
// A pattern stream is an endless run of bytes fixed by its seed: the byte at
// offset i depends on (seed, i) alone, so a checker can regenerate any stretch
// of it without replaying what came before. Every byte value, zero, CR, LF,
// XON and XOFF included, turns up within a few thousand bytes. The streams of
// two seeds differ, so
// bytes that land in the wrong port's file do not pass for the right ones.
//
// The stream is a sequence of 8-byte blocks; block b is the SplitMix64 mix of
// seed + (b + 1) * 0x9E3779B97F4A7C15, least significant byte first.
#pragma once

#include <cstddef>
#include <cstdint>

namespace sim {

inline std::uint64_t pattern_block(std::uint64_t seed, std::uint64_t block)
{
    std::uint64_t z = seed + (block + 1) * 0x9E3779B97F4A7C15u;
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9u;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBu;
    return z ^ (z >> 31);
}

inline unsigned char pattern_byte(std::uint64_t seed, std::uint64_t offset)
{
    return static_cast<unsigned char>(pattern_block(seed, offset / 8) >> (8 * (offset % 8)));
}

// Writes the count bytes of the stream that begin at offset into out.
inline void pattern_fill(std::uint64_t seed, std::uint64_t offset, unsigned char *out, std::size_t count)
{
    for (std::size_t i = 0; i < count; ++i)
        out[i] = pattern_byte(seed, offset + i);
}

// The index of the first byte of data[0..count) that differs from the
// stretch of the stream that begins at offset; count when none does.
inline std::size_t pattern_mismatch(std::uint64_t seed, std::uint64_t offset, const unsigned char *data,
                                    std::size_t count)
{
    std::size_t i = 0;
    while (i < count && data[i] == pattern_byte(seed, offset + i))
        ++i;
    return i;
}

// Whether data[0..count) is the stretch of the stream that begins at offset.
inline bool pattern_matches(std::uint64_t seed, std::uint64_t offset, const unsigned char *data,
                            std::size_t count)
{
    return pattern_mismatch(seed, offset, data, count) == count;
}

// Where in the stream data[0..count) may begin: the first offset from `from`
// to `to` at which the stream agrees with the first 64 bytes of data (all of
// it when shorter; 64 bytes of the stream never recur by chance), or to + 1
// when there is none. Check the rest with pattern_mismatch.
inline std::uint64_t pattern_locate(std::uint64_t seed, const unsigned char *data, std::size_t count,
                                    std::uint64_t from, std::uint64_t to)
{
    const std::size_t head = count < 64 ? count : 64;
    std::uint64_t offset = from;
    while (offset <= to && !pattern_matches(seed, offset, data, head))
        ++offset;
    return offset;
}

} // namespace sim
