// hostile_inputs.h - inputs for the readers of what the logger finds on disk,
// and the checks of what each reader made of them.
//
// Three readers take what others may have written: coms.cfg with its
// validation (init_bauds), comports.map (the port map) and the panel
// resource (parse and build). An input is either the bytes of the file or
// something else standing under its name (a named pipe, a directory, a link
// to /dev/zero, a file too large to be meant); every input is made from its
// number and a seed alone, so any one can be made again.
#pragma once

#include <cstdint>
#include <string>

namespace hostile {

enum class Target { Config, Map, Panel };
constexpr int kTargets = 3;

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
    std::uint32_t extra = 0; // the probe's failures (coms.cfg), the resource number (panel)
};

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

// Sets up what the readers need once per process (the panel reader: the
// engine, offscreen).
void prepare(Target target);
// Puts the input in the current directory, runs the reader on it and checks
// what it made of it. Returns "" when all is well, else what is wrong.
std::string run_input(Target target, const Input &input);

} // namespace hostile
