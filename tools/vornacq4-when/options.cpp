// options.h over getopt_long: glibc's on Linux, the MinGW runtime's on Windows.
#include "options.h"

#include <getopt.h>

namespace when {

namespace {

// getopt_long's code for a long option without a letter: past every char.
constexpr int kLongOnly = 256;

// The optstring: "-" returns operands in place (code 1) rather than
// permuting them, whatever POSIXLY_CORRECT says, then each letter.
std::string letters(const std::vector<Option> &options)
{
    std::string s = "-";
    for (const Option &o : options)
        if (o.letter != 0)
            s += std::string(1, o.letter) + (o.takesValue ? ":" : "");
    return s;
}

std::vector<option> long_options(const std::vector<Option> &options)
{
    std::vector<option> table;
    for (std::size_t i = 0; i < options.size(); ++i)
        table.push_back({options[i].name, options[i].takesValue ? required_argument : no_argument, nullptr,
                         kLongOnly + static_cast<int>(i)});
    table.push_back({nullptr, 0, nullptr, 0});
    return table;
}

// The option getopt_long returned `code` for; null when it is none.
const Option *found(const std::vector<Option> &options, int code)
{
    for (std::size_t i = 0; i < options.size(); ++i)
        if (code == kLongOnly + static_cast<int>(i) || (options[i].letter != 0 && code == options[i].letter))
            return &options[i];
    return nullptr;
}

} // namespace

bool CommandLine::has(const char *name) const
{
    for (const auto &g : given)
        if (g.first == name)
            return true;
    return false;
}

std::string CommandLine::value(const char *name, const std::string &fallback) const
{
    std::string v = fallback;
    for (const auto &g : given)
        if (g.first == name)
            v = g.second;
    return v;
}

Args CommandLine::values(const char *name) const
{
    Args v;
    for (const auto &g : given)
        if (g.first == name)
            v.push_back(g.second);
    return v;
}

bool parse_options(const Args &args, const std::vector<Option> &options, CommandLine &line)
{
    // getopt_long wants main's argv: the program's name, then writable strings.
    Args copies = args;
    std::vector<char *> argv{const_cast<char *>("vornacq4-when")};
    for (std::string &a : copies)
        argv.push_back(&a[0]);
    argv.push_back(nullptr);
    const std::string shortForms = letters(options);
    const std::vector<option> longForms = long_options(options);
    optind = 0; // a fresh scan, in glibc and MinGW alike
    int code = 0;
    while ((code = getopt_long(static_cast<int>(argv.size() - 1), argv.data(), shortForms.c_str(),
                               longForms.data(), nullptr)) != -1) {
        if (code == 1) {
            line.operands.push_back(optarg);
            continue;
        }
        const Option *o = found(options, code);
        if (o == nullptr)
            return false; // '?': getopt_long has named the option
        line.given.emplace_back(o->name, o->takesValue ? optarg : "");
    }
    for (int i = optind; i < static_cast<int>(argv.size() - 1); ++i)
        line.operands.push_back(argv[i]); // after "--"
    return true;
}

} // namespace when
