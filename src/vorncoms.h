// vorncoms - the port table, its file coms.cfg, and the rows of the
// configuration popup that edits it.
//
// For each serial port COM1..COM18 the table (kept in run_state.h) holds the
// four settings that decide what a run does with it (rate, logging, display
// slot, hexadecimal display) and the result of the start-up probe.
// check_ports probes the ports, init_bauds loads coms.cfg (or makes and saves
// the defaults) and repairs what it read; afterwards only the configuration
// popup changes the table, until a run starts.
//
// coms.cfg: 18 records of 16 bytes, one per port in order 1..18, each four
// signed 32-bit little-endian fields: rate, logging (0/1), display slot
// (0..5), hexadecimal display (0/1). 288 bytes, no header.
#pragma once

#include "run_state.h"

#include <cstdio>

enum { BAUD_COUNT = 11, DEFAULT_BAUD = 9600 };
enum { CONFIG_FIELDS = 4, CONFIG_FIELD_BYTES = 4,
       CONFIG_BYTES = MAX_PORT * CONFIG_FIELDS * CONFIG_FIELD_BYTES };

// The rates a port may have.
extern const int pbauds[BAUD_COUNT];

// Opens and closes ports 1..18 once, quietly, recording each result in
// RS232Err; a port that fails is unselected (until init_bauds finds it
// logged in coms.cfg). No port stays open.
void check_ports(void);
// The defaults: every port that passed the probe is logged at 9600 baud, the
// first five of them in slots 1..5; the others are unselected without a slot.
void init_ports(void);
// Loads coms.cfg from the current directory and repairs out-of-range values
// in memory only; a missing, unreadable or short file, or anything that is
// not a regular file, is replaced by the defaults, saved at once. A port the
// file logs stays logged when its device was not there at the probe (unless
// comports.map marks it none): the run waits for its device. Such a port
// keeps its display slot only when no port whose device was there holds it.
// Otherwise each slot goes to the lowest port that claims it.
void init_bauds(void);
// Reads the four settings of ports 1..18 from file, which it always closes.
// Returns 1 when all 72 fields were read, 0 otherwise (the fields read so far
// stay in the table).
int read_config(FILE *file);
// Saves the four settings of ports 1..18 to coms.cfg. The file is replaced in
// one step (written aside and synced to the disk, then renamed over it), so a
// full disk, a crash or a power cut leaves the old file whole; the file
// written aside is made new, never written through a link, and keeps the old
// file's permissions. When it cannot be written nothing changes and nothing
// is shown.
void write_config(void);

// --- The configuration popup (panel resource 1), one row a port.
//
// Each commit of a row's logging switch, display slot or hexadecimal switch
// changes the table at once, and the callbacks keep it sound: a slot belongs
// to one port at most, a port that is not logged has no slot and no
// hexadecimal display, and a port without a slot no hexadecimal display. A
// port whose probe failed cannot be changed: its row is dimmed and says why,
// and shows what the table keeps for it (logged and awaited, as coms.cfg
// had it, or off). A slot such a port holds goes to a port that is there
// when the operator gives it one.

// Control ids of each port's row, by port number; entry 0 repeats entry 1.
extern const int bb_idx[PORT_SLOTS];  // baud_control: a ring of the pbauds rates
extern const int bc_idx[PORT_SLOTS];  // log_switch
extern const int cd_idx[PORT_SLOTS];  // slot_control: 0..MAX_SLOT
extern const int ph_idx[PORT_SLOTS];  // hex_switch
extern const int dev_idx[PORT_SLOTS]; // caption: the device the port stands for
extern const int why_idx[PORT_SLOTS]; // caption: why the probe failed, "" when it did not
enum ConfigPopupControl { config_close_button = 2 };

// Shows the table in the popup's rows, with each port's device and, for a
// port whose probe failed, why. An unselected port whose probe failed loses
// its slot and hexadecimal display in the table too, so that the table is
// what the popup shows; an awaited one (logged) is shown as it is.
void write_panel(void);
// Copies every row's four controls into the table, dimmed rows included.
void read_panel(void);
// The operator's words for a probe result (0 gives "").
const char *probe_reason(int code);

// Callbacks of the popup's rows; each acts on commit and rescans all 18 ports.
int ck_onoff(int panel, int control, int event, void *callbackData, int eventData1, int eventData2);
int ck_display(int panel, int control, int event, void *callbackData, int eventData1, int eventData2);
int ck_hex(int panel, int control, int event, void *callbackData, int eventData1, int eventData2);
