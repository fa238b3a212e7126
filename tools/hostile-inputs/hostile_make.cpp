// Making inputs: generated from a small grammar of each file, or valid ones
// mutated, and a fixed sample of the nastiest.
#include "hostile_inputs.h"

#include <cctype>
#include <climits>
#include <cstring>
#include <fstream>
#include <sstream>
#include <vector>

namespace hostile {

namespace {

const int kInts[] = {0, 1, -1, 2, 5, 6, 7, 110, 9600, 115200, 100, INT_MIN, INT_MAX, 0x0D0A1A0D, 65536};
const char *const kNumbers[] = {"0", "-1", "1", "3", "1.5", "8192", "8193", "200", "201", "2147483647",
                                "2147483648", "-2147483649", "1e300", "-1e300", "1e-300", "1e400", "0.0001",
                                "0.001", "86400", "86401", "-0", "1e9"};
const char *const kStrings[] = {"\"button\"", "\"timer\"", "\"ring\"", "\"textbox\"", "\"numeric\"", "\"led\"",
                                "\"#FF0000\"", "\"#-00001\"", "\"#GGGGGG\"", "\"mono\"", "\"indicator\"",
                                "\"get_data\"", "\"\"", "\"\\u0000\"", "\"x\""};
const char *const kKeys[] = {"id", "kind", "name", "x", "y", "width", "height", "label", "tooltip", "callback",
                             "value", "text", "dimmed", "visible", "mode", "min", "max", "items", "interval",
                             "enabled", "font", "font_size", "color", "on_color", "on_text", "off_text", "bogus"};
const char *const kPaths[] = {"/dev/ttyUSB0", "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A1B2C3-if00-port0",
                              "none", "NONE", "/dev/null", "relative/path", "/", "COM3"};
const std::string kTokens[] = {"\n", "\r\n", "#", " ", "\t", "COM", "COM1 ", "COM18", "COM0", "COM19", "none",
                               "\"", "{", "}", "[", "]", ",", ":", "1e300", "-1", "null", "true", "\\u0000",
                               std::string(1, '\0')};
const char *const kGaps[] = {" ", "\t", "  ", ""};
const char *const kLiterals[] = {"true", "false", "null"};

} // namespace

std::string le32(int value)
{
    const unsigned u = static_cast<unsigned>(value);
    const char b[4] = {static_cast<char>(u), static_cast<char>(u >> 8), static_cast<char>(u >> 16),
                       static_cast<char>(u >> 24)};
    return std::string(b, 4);
}

std::string valid_config()
{
    std::string s;
    for (int port = 1; port <= 18; ++port)
        s += le32(9600) + le32(1) + le32(port <= 5 ? port : 0) + le32(0);
    return s;
}

namespace {

const char *map_seed()
{
    return "# serial devices\nCOM1 /dev/ttyUSB0\nCOM2  /dev/serial/by-id/usb-FTDI_A1-if00-port0 # GPS\n"
           "COM5 none\r\n\ncom7\t/dev/ttyACM0\n";
}

std::string panel_seed()
{
    std::ifstream in(VORN_PANEL_RESOURCE, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

std::string generate_config(Random &r)
{
    std::string s;
    while (s.size() < 300)
        s += le32(r.chance(80) ? r.pick(kInts) : static_cast<int>(r.next()));
    const std::size_t lengths[] = {0, 4, 287, 288, 288, 288, 289, 300};
    return s.substr(0, r.chance(70) ? r.pick(lengths) : r.below(300));
}

std::string generate_map(Random &r)
{
    std::string s;
    for (std::size_t lines = r.below(30); lines > 0; --lines) {
        switch (r.below(6)) {
        case 0: s += "# a comment"; break;
        case 1: s += std::string(r.below(3) == 0 ? 5000 : r.below(80), 'a' + static_cast<char>(r.below(26))); break;
        case 2: s += r.pick(kTokens); break;
        default:
            s += (r.chance(50) ? "COM" : "com") + std::to_string(static_cast<int>(r.below(22)) - 1) +
                 r.pick(kGaps) + r.pick(kPaths);
        }
        s += r.chance(80) ? "\n" : "\r\n";
    }
    return s;
}

// A control of a real kind with its place and size, and a few more keys;
// most values sound, some at or beyond their bounds.
std::string json_control(Random &r)
{
    const char *const kinds[] = {"button", "check", "switch", "numeric", "ring", "textbox", "led", "caption", "timer"};
    const char *const place[] = {"x", "y", "width", "height"};
    std::string s = "{\"id\": " + std::to_string(1 + r.below(40)) + ", \"kind\": \"" + r.pick(kinds) + "\"";
    for (const char *key : place)
        s += std::string(", \"") + key + "\": " + (r.chance(80) ? std::to_string(r.below(1300)) : r.pick(kNumbers));
    for (std::size_t keys = r.below(5); keys > 0; --keys) {
        const char *key = r.pick(kKeys);
        s += std::string(", \"") + key + "\": ";
        if (std::string(key) == "items")
            s += "[{\"label\": \"a\", \"value\": " + std::string(r.pick(kNumbers)) + "}]";
        else
            s += r.chance(60) ? r.pick(kNumbers) : r.chance(50) ? r.pick(kStrings) : r.pick(kLiterals);
    }
    return s + "}";
}

std::string generate_panel(Random &r)
{
    std::string s = "{\"format\": \"vornacq4 panel resource, version 1\", \"panels\": [";
    for (std::size_t panels = 1 + r.below(2); panels > 0; --panels) {
        s += "{\"resource\": " + std::to_string(1 + r.below(2)) + ", \"title\": \"t\", \"width\": " +
             (r.chance(80) ? "640" : r.pick(kNumbers)) + ", \"height\": " + (r.chance(80) ? "480" : r.pick(kNumbers)) +
             ", \"controls\": [";
        for (std::size_t controls = r.below(6); controls > 0; --controls)
            s += json_control(r) + (controls > 1 ? ", " : "");
        s += "]}";
        s += panels > 1 ? ", " : "";
    }
    return s + "]}";
}

// Puts interesting numbers in the place of numbers the text holds, so the
// text stays well-formed and reaches the checks behind the parser.
void mutate_numbers(Random &r, std::string &s)
{
    for (std::size_t edits = 1 + r.below(3); edits > 0; --edits) {
        std::size_t at = s.find_first_of("0123456789", r.below(s.size()));
        if (at == std::string::npos)
            return;
        while (at > 0 && (std::isdigit(static_cast<unsigned char>(s[at - 1])) || s[at - 1] == '-' || s[at - 1] == '.'))
            --at;
        std::size_t end = at;
        while (end < s.size() && std::strchr("0123456789.eE+-", s[end]) != nullptr)
            ++end;
        s.replace(at, end - at, r.pick(kNumbers));
    }
}

Kind random_kind(Target target, Random &r)
{
    if (r.chance(85))
        return Kind::Bytes;
    const Kind common[] = {Kind::LinkToBytes, Kind::Fifo, Kind::Directory, Kind::DeviceLink, Kind::Huge,
                           Kind::Dangling};
    const Kind config[] = {Kind::AsideLink, Kind::AsideDirectory};
    return target == Target::Config && r.chance(30) ? r.pick(config) : r.pick(common);
}

} // namespace

void mutate(Random &r, std::string &s)
{
    for (std::size_t edits = 1 + r.below(8); edits > 0; --edits) {
        const std::size_t at = r.below(s.size() + 1);
        switch (r.below(6)) {
        case 0:
            if (at < s.size())
                s[at] = static_cast<char>(s[at] ^ (1 << r.below(8)));
            break;
        case 1: s.insert(at, r.pick(kTokens)); break;
        case 2: s.insert(at, r.pick(kNumbers)); break;
        case 3: s.erase(at, r.below(16)); break;
        case 4: s.insert(at, s.substr(r.below(s.size() + 1), r.below(64))); break;
        default:
            if (at < s.size())
                s[at] = static_cast<char>(r.next());
        }
    }
}

const char *target_name(Target target)
{
    switch (target) {
    case Target::Config: return "coms.cfg";
    case Target::Map: return "comports.map";
    case Target::Panel: return "panel resource";
    case Target::Index: return "arrival index";
    }
    return "?";
}

Input random_input(Target target, std::uint64_t seed, int index)
{
    Random r(seed * 1000003u + static_cast<std::uint64_t>(target) * 7919u + static_cast<std::uint64_t>(index));
    static const std::string seeds[kTargets] = {valid_config(), map_seed(), panel_seed(), valid_index()};
    Input in;
    in.kind = random_kind(target, r);
    const bool generate = r.chance(50);
    switch (target) {
    case Target::Config:
        in.bytes = generate ? generate_config(r) : seeds[0];
        in.extra = r.chance(50) ? 0 : static_cast<std::uint32_t>(r.next());
        break;
    case Target::Map: in.bytes = generate ? generate_map(r) : seeds[1]; break;
    case Target::Panel:
        in.bytes = generate ? generate_panel(r) : seeds[2];
        in.extra = r.chance(90) ? 1 + static_cast<std::uint32_t>(r.below(2)) : static_cast<std::uint32_t>(r.next());
        break;
    case Target::Index:
        if (generate)
            generate_index(r, in);
        else
            in.bytes = seeds[3], in.extra = valid_index_data_length() | kExpectClean;
        break;
    }
    if (target == Target::Panel && r.chance(70)) {
        mutate_numbers(r, in.bytes);
    } else if (!generate || r.chance(30)) {
        mutate(r, in.bytes);
        if (target == Target::Index)
            in.extra &= kDataLengthMask; // what the index now says is anyone's guess
    }
    return in;
}

} // namespace hostile
