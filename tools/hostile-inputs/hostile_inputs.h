// hostile_inputs.h - inputs for the readers of what the logger finds on disk,
// and the checks of what each reader made of them.
//
// Four readers take what others may have written: coms.cfg with its
// validation (init_bauds), comports.map (the port map), the panel resource
// (parse and build), and vornacq4-when's reader of the arrival-time index. An input is either the bytes of the file or
// something else standing under its name (a named pipe, a directory, a link
// to /dev/zero, a file too large to be meant); every input is made from its
// number and a seed alone, so any one can be made again.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace hostile {

enum class Target { Config, Map, Panel, Index };
constexpr int kTargets = 4;

// What stands under the file's name.
enum class Kind {
    Bytes,        // a regular file holding the bytes
    LinkToBytes,  // a link to such a file
    Fifo,         // a named pipe: opening it waits for a writer
    Directory,
    DeviceLink,   // a link to /dev/zero: endless
    Huge,         // 100 MB, sparse
    Dangling,     // a link to nothing
    AsideLink,    // coms.cfg as bytes, and coms.cfg.new a link to a file outside
    AsideDirectory, // coms.cfg as bytes, and coms.cfg.new a directory
};

struct Input {
    Kind kind = Kind::Bytes;
    std::string bytes;
    std::uint32_t extra = 0; // the probe's failures (coms.cfg), the resource number (panel),
                             // the data file's length and what to expect (index)
};

// An index input's extra: the data file's length in the low bits, and what
// the reader must make of it when the generator knows.
constexpr std::uint32_t kDataLengthMask = 0xFFFFFu;
constexpr std::uint32_t kExpectDamage = 1u << 30; // a record claims bytes the data lack, or worse
constexpr std::uint32_t kExpectClean = 1u << 29;  // every record sound: all of them read, none damaged

const char *target_name(Target target);

// Input number `index` of the randomized run: generated from the target's
// grammar, or a valid input mutated.
Input random_input(Target target, std::uint64_t seed, int index);
// The fixed sample of the nastiest inputs: how many there are, and each.
int sample_count(Target target);
Input sample_input(Target target, int index);

// A 32-bit integer as coms.cfg stores it (little-endian), and a whole table
// as the logger would save it.
std::string le32(int value);
std::string valid_config();
// A sound index: two segments (version 1, then 2) of a few records each,
// for a data file of valid_index_data_length() bytes.
std::string valid_index();
std::uint32_t valid_index_data_length();

// The makers' tools. splitmix64: small, fast, and the same sequence
// everywhere, so an input is made again from its number.
class Random {
public:
    explicit Random(std::uint64_t seed) : m_state(seed) {}
    std::uint64_t next()
    {
        std::uint64_t z = (m_state += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    std::size_t below(std::size_t n) { return n == 0 ? 0 : static_cast<std::size_t>(next() % n); }
    bool chance(int percent) { return below(100) < static_cast<std::size_t>(percent); }
    template <typename T, std::size_t N> const T &pick(const T (&list)[N]) { return list[below(N)]; }

private:
    std::uint64_t m_state;
};

// A few random edits: bits flipped, tokens and numbers put in, bytes cut
// out or repeated.
void mutate(Random &r, std::string &s);
// An index input (bytes and extra) generated with sound and extreme numbers.
void generate_index(Random &r, Input &in);
// The fixed sample of the nastiest index files.
std::vector<Input> index_sample();

// Sets up what the readers need once per process (the panel reader: the
// engine, offscreen).
void prepare(Target target);
// Puts the input in the current directory, runs the reader on it and checks
// what it made of it. Returns "" when all is well, else what is wrong.
std::string run_input(Target target, const Input &input);

} // namespace hostile
