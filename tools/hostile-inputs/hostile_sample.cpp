// The fixed sample of the nastiest inputs, which runs with the tests: each
// kind of thing that may stand under a file's name, and the contents that
// once crashed, hung or misled a reader.
#include "hostile_inputs.h"

#include <climits>
#include <vector>

namespace hostile {

namespace {

std::string one_control_panel(const std::string &control)
{
    return "{\"panels\": [{\"resource\": 1, \"width\": 100, \"height\": 100, \"controls\": [" + control + "]}]}";
}

// Every target meets each of these kinds under its name.
const Kind kFileKinds[] = {Kind::Fifo, Kind::Directory, Kind::DeviceLink, Kind::Huge, Kind::Dangling};
constexpr int kFileKindCount = sizeof kFileKinds / sizeof kFileKinds[0];

std::vector<Input> config_sample()
{
    std::string extremes;
    for (int i = 0; i < 72; ++i)
        extremes += le32(i % 2 == 0 ? INT_MIN : INT_MAX);
    // Short tables, so that the defaults are saved past what is in the way.
    return {{Kind::AsideLink, valid_config().substr(0, 100), 0},
            {Kind::AsideDirectory, valid_config().substr(0, 100), 0},
            {Kind::Bytes, valid_config().substr(0, 287), 0},
            {Kind::Bytes, std::string(288, '\xFF'), 0x2AAAAu},
            {Kind::Bytes, extremes, 0x15555u}};
}

std::vector<Input> map_sample()
{
    return {{Kind::Bytes, "COM1 /dev/" + std::string(5000, 'a') + "\nCOM2 /dev/b\n", 0},
            {Kind::Bytes, std::string("COM1 /dev/a") + '\0' + "b\n", 0},
            {Kind::Bytes, "# " + std::string(70000, '#') + "\n", 0},
            {Kind::Bytes, "COM99999999999999999999 /x\nCOM18 none\nCOM18 /y\n\r\r\n", 0}};
}

std::vector<Input> panel_sample()
{
    const char *const controls[] = {
        R"({"id": 4, "kind": "timer", "interval": 1e300, "enabled": true})",
        R"({"id": 4, "kind": "timer", "interval": -1e300})",
        R"({"id": 3, "kind": "button", "x": 1e300, "y": 0, "width": 2147483647, "height": 2147483647})",
        R"({"id": 3, "kind": "button", "x": 8192, "y": 8192, "width": 8192, "height": 8192, "font_size": 1e9})",
        R"({"id": 3, "kind": "textbox", "x": 1, "y": 1, "width": 9, "height": 9, "color": "#-00001"})",
        R"({"id": 3, "kind": "numeric", "x": 1, "y": 1, "width": 9, "height": 9, "min": 5, "max": -5})",
    };
    std::vector<Input> sample;
    for (const char *c : controls)
        sample.push_back({Kind::Bytes, one_control_panel(c), 1});
    sample.push_back({Kind::Bytes, std::string(10000, '[') + std::string(10000, ']'), 1});
    return sample;
}

std::vector<Input> sample_of(Target target)
{
    switch (target) {
    case Target::Config: return config_sample();
    case Target::Map: return map_sample();
    case Target::Panel: return panel_sample();
    case Target::Index: return index_sample();
    }
    return {};
}

} // namespace

int sample_count(Target target)
{
    return kFileKindCount + static_cast<int>(sample_of(target).size());
}

Input sample_input(Target target, int index)
{
    if (index < kFileKindCount && target == Target::Index)
        return {kFileKinds[index], valid_index(), valid_index_data_length()};
    if (index < kFileKindCount)
        return {kFileKinds[index], valid_config(), 1};
    return sample_of(target).at(static_cast<std::size_t>(index - kFileKindCount));
}

} // namespace hostile
