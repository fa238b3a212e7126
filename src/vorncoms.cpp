#include "vorncoms.h"

#include "engine.h"
#include "run_state.h"

#include <cstdint>
#include <cstdio>

static_assert(sizeof(int) == 4, "the port table and coms.cfg hold 32-bit integers");
static_assert(CONFIG_BYTES == 288, "coms.cfg is 288 bytes");
static_assert(static_cast<int>(MAX_PORT) <= static_cast<int>(COM_PORTS), "every port of the table is a port of the engine");

#define CONFIG_FILE "coms.cfg"
// Written first and renamed over CONFIG_FILE, so the file is never half-written.
#define CONFIG_TEMP "coms.cfg.new"

const int pbauds[BAUD_COUNT] = {110, 300, 600, 1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200};

void check_ports(void)
{
    // A missing port is the normal case here, not an error worth a line.
    DisableBreakOnLibraryErrors();
    for (int port = 1; port <= MAX_PORT; ++port) {
        RS232Err[port] = OpenCom(port, "");
        CloseCom(port);
        if (RS232Err[port] != 0)
            RS232Sel[port] = 0;
    }
    EnableBreakOnLibraryErrors();
}

void init_ports(void)
{
    int next_slot = 1;
    for (int port = 1; port <= MAX_PORT; ++port) {
        baudrate[port] = DEFAULT_BAUD;
        HEXDisp[port] = 0;
        if (RS232Err[port] != 0) {
            RS232Sel[port] = 0;
            RS232Disp[port] = 0;
            continue;
        }
        RS232Sel[port] = 1;
        if (next_slot <= MAX_SLOT)
            RS232Disp[port] = next_slot++;
        else
            RS232Disp[port] = 0;
    }
}

static void save_defaults(void)
{
    init_ports();
    write_config();
}

static int is_allowed_rate(int rate)
{
    for (int i = 0; i < BAUD_COUNT; ++i)
        if (pbauds[i] == rate)
            return 1;
    return 0;
}

// Whether comports.map marks the port none: its device is never looked for.
static int marked_none(int port)
{
    static char device[PATH_LEN];
    return GetComDevice(port, device) == COM_ERR_NO_DEVICE;
}

// A port that coms.cfg logs but whose device was not there at the probe: it
// stays in the run, and the engine opens it when its device comes.
static int awaited(int port)
{
    return RS232Err[port] != 0 && RS232Sel[port] != 0;
}

static void validate_selection(int port)
{
    if (!is_allowed_rate(baudrate[port]))
        baudrate[port] = DEFAULT_BAUD;
    if (RS232Sel[port] != 0 && RS232Sel[port] != 1) {
        RS232Disp[port] = 0;
        RS232Sel[port] = RS232Err[port] == 0 ? 1 : 0;
    }
    if (RS232Err[port] != 0 && marked_none(port))
        RS232Sel[port] = 0;
}

// The order in which slots are settled: the ports whose device was there, in
// port order, then the awaited ones, so that an awaited port keeps its slot
// only when no port that is there holds it.
static int settled_before(int other, int port)
{
    return awaited(other) == awaited(port) ? other < port : !awaited(other);
}

// Whether a port settled before `port` shows its data in `slot` (0 included).
static int slot_taken_before(int port, int slot)
{
    for (int other = 1; other <= MAX_PORT; ++other)
        if (other != port && settled_before(other, port) && RS232Disp[other] == slot)
            return 1;
    return 0;
}

static void validate_slot(int port)
{
    if (RS232Disp[port] < 0 || RS232Disp[port] > MAX_SLOT || slot_taken_before(port, RS232Disp[port])) {
        RS232Disp[port] = 0;
        HEXDisp[port] = 0;
    }
}

void init_bauds(void)
{
    DisableBreakOnLibraryErrors();
    FILE *file = RT_OpenRegularFile(CONFIG_FILE);
    if (file == nullptr) {
        EnableBreakOnLibraryErrors();
        save_defaults();
        return;
    }
    const int complete = read_config(file);
    EnableBreakOnLibraryErrors();
    if (!complete) {
        save_defaults();
        return;
    }
    for (int port = 1; port <= MAX_PORT; ++port)
        validate_selection(port);
    for (int pass = 0; pass < 2; ++pass)
        for (int port = 1; port <= MAX_PORT; ++port)
            if (awaited(port) == pass)
                validate_slot(port);
}

// The four fields of a port's record, in file order.
static void record_fields(int port, int *fields[CONFIG_FIELDS])
{
    fields[0] = &baudrate[port];
    fields[1] = &RS232Sel[port];
    fields[2] = &RS232Disp[port];
    fields[3] = &HEXDisp[port];
}

// One little-endian field; 1 when all four bytes were there.
static int read_field(FILE *file, int *field)
{
    unsigned char b[CONFIG_FIELD_BYTES];
    if (std::fread(b, CONFIG_FIELD_BYTES, 1, file) != 1)
        return 0;
    const std::uint32_t u = static_cast<std::uint32_t>(b[0]) | static_cast<std::uint32_t>(b[1]) << 8 |
                            static_cast<std::uint32_t>(b[2]) << 16 | static_cast<std::uint32_t>(b[3]) << 24;
    *field = static_cast<std::int32_t>(u);
    return 1;
}

static int write_field(FILE *file, int field)
{
    const std::uint32_t u = static_cast<std::uint32_t>(field);
    const unsigned char b[CONFIG_FIELD_BYTES] = {
        static_cast<unsigned char>(u), static_cast<unsigned char>(u >> 8),
        static_cast<unsigned char>(u >> 16), static_cast<unsigned char>(u >> 24)};
    return std::fwrite(b, CONFIG_FIELD_BYTES, 1, file) == 1;
}

int read_config(FILE *file)
{
    int complete = 1;
    for (int port = 1; port <= MAX_PORT && complete; ++port) {
        int *fields[CONFIG_FIELDS];
        record_fields(port, fields);
        for (int f = 0; f < CONFIG_FIELDS && complete; ++f)
            complete = read_field(file, fields[f]);
    }
    std::fclose(file);
    return complete;
}

void write_config(void)
{
    FILE *file = RT_CreateReplacement(CONFIG_TEMP, CONFIG_FILE);
    if (file == nullptr)
        return;
    int written = 1;
    for (int port = 1; port <= MAX_PORT && written; ++port) {
        int *fields[CONFIG_FIELDS];
        record_fields(port, fields);
        for (int f = 0; f < CONFIG_FIELDS && written; ++f)
            written = write_field(file, *fields[f]);
    }
    // On the disk before it takes the old file's place.
    written = RT_SyncFile(file) == 0 && written;
    written = std::fclose(file) == 0 && written;
    if (!written || RT_ReplaceFile(CONFIG_TEMP, CONFIG_FILE) != 0)
        std::remove(CONFIG_TEMP);
}
