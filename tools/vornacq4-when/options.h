// options.h - a command's options, read with getopt_long as every command of
// vornacq4-when takes them: options and operands in any order, "--" ends the
// options (an operand after it may begin with '-'), and an unknown option or
// one without its value is an error with getopt's own message on stderr,
// never taken for a file name.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace when {

using Args = std::vector<std::string>;

// One option a command takes: its long name ("utc" for --utc), the letter of
// its short form (0: none) and whether a value follows it.
struct Option {
    const char *name;
    char letter;
    bool takesValue;
};

// What a command line said: the options in the order given, and the operands.
struct CommandLine {
    std::vector<std::pair<std::string, std::string>> given; // name, value ("" for a flag)
    Args operands;

    bool has(const char *name) const;
    // The last value given for `name`; `fallback` when it was not given.
    std::string value(const char *name, const std::string &fallback) const;
    // Every value given for `name`, in order.
    Args values(const char *name) const;
};

// Reads a command's arguments (its name removed) against its options into
// `line`. False after getopt_long has said on stderr what was wrong.
bool parse_options(const Args &args, const std::vector<Option> &options, CommandLine &line);

} // namespace when
