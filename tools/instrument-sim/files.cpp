#include "files.h"

#include <cerrno>
#include <cstdio>
#include <string>

namespace sim {

const char kMapMarker[] = "# written by instrument-sim";

namespace {

// Writes count bytes to dir/name through dir/name.new, then renames it over.
int replace_file(const char *dir, const char *name, const void *bytes, std::size_t count)
{
    const std::string path = std::string(dir) + "/" + name;
    const std::string fresh = path + ".new";
    std::FILE *f = std::fopen(fresh.c_str(), "wb");
    if (f == nullptr)
        return errno;
    int err = 0;
    if (std::fwrite(bytes, 1, count, f) != count)
        err = errno != 0 ? errno : EIO;
    if (std::fclose(f) != 0 && err == 0)
        err = errno;
    if (err == 0 && std::rename(fresh.c_str(), path.c_str()) != 0)
        err = errno;
    if (err != 0)
        std::remove(fresh.c_str());
    return err;
}

void put_le32(unsigned char *out, std::uint32_t value)
{
    for (int i = 0; i < CONFIG_FIELD_BYTES; ++i)
        out[i] = static_cast<unsigned char>(value >> (8 * i));
}

} // namespace

int write_port_map(const char *dir, const Options &o, const Line *lines)
{
    std::string text = std::string(kMapMarker) + ": simulated instruments; every other port is none\n";
    for (int port = 1; port <= MAX_PORT; ++port)
        text += "COM" + std::to_string(port) + " " +
                (o.instruments[port].present ? lines[port].link : "none") + "\n";
    return replace_file(dir, "comports.map", text.data(), text.size());
}

int write_port_table(const char *dir, const Options &o)
{
    unsigned char table[CONFIG_BYTES] = {};
    int slot = 0;
    for (int port = 1; port <= MAX_PORT; ++port) {
        const Instrument &in = o.instruments[port];
        std::uint32_t fields[CONFIG_FIELDS] = {DEFAULT_BAUD, 0, 0, 0};
        if (in.present) {
            fields[0] = static_cast<std::uint32_t>(in.rate);
            fields[1] = 1;
            fields[2] = static_cast<std::uint32_t>(slot < MAX_SLOT ? ++slot : 0);
            fields[3] = kind_info(in.kind).binary ? 1 : 0;
        }
        for (int f = 0; f < CONFIG_FIELDS; ++f)
            put_le32(table + ((port - 1) * CONFIG_FIELDS + f) * CONFIG_FIELD_BYTES, fields[f]);
    }
    return replace_file(dir, "coms.cfg", table, sizeof table);
}

} // namespace sim
