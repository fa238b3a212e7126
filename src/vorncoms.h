// vorncoms - the port table and its file coms.cfg.
//
// For each serial port COM1..COM18 the table holds the four settings that
// decide what a run does with it (rate, logging, display slot, hexadecimal
// display) and the result of the start-up probe. check_ports probes the
// ports, init_bauds loads coms.cfg (or makes and saves the defaults) and
// repairs what it read; afterwards only the configuration popup changes the
// table, until a run starts.
//
// coms.cfg: 18 records of 16 bytes, one per port in order 1..18, each four
// signed 32-bit little-endian fields: rate, logging (0/1), display slot
// (0..5), hexadecimal display (0/1). 288 bytes, no header.
#pragma once

#include <cstdio>

// Ports are numbered 1..MAX_PORT; every per-port table is indexed by the port
// number itself, so it has PORT_SLOTS entries and entry 0 is never used.
enum { MAX_PORT = 18, PORT_SLOTS = MAX_PORT + 1 };
// Display slots 1..MAX_SLOT on the main panel; 0 means not displayed.
enum { MAX_SLOT = 5 };
enum { BAUD_COUNT = 11, DEFAULT_BAUD = 9600 };
enum { CONFIG_FIELDS = 4, CONFIG_FIELD_BYTES = 4,
       CONFIG_BYTES = MAX_PORT * CONFIG_FIELDS * CONFIG_FIELD_BYTES };

extern int baudrate[PORT_SLOTS];  // one of pbauds
extern int RS232Sel[PORT_SLOTS];  // 1: logged; readers take any nonzero as on
extern int RS232Disp[PORT_SLOTS]; // display slot 0..MAX_SLOT, each slot held by one port at most
extern int HEXDisp[PORT_SLOTS];   // 1: shown as hexadecimal pairs
extern int RS232Err[PORT_SLOTS];  // probe result: 0, or the open's negative error code
extern const int pbauds[BAUD_COUNT];

// Opens and closes ports 1..18 once, quietly, recording each result in
// RS232Err; a port that fails is unselected. No port stays open.
void check_ports(void);
// The defaults: every port that passed the probe is logged at 9600 baud, the
// first five of them in slots 1..5; the others are unselected without a slot.
void init_ports(void);
// Loads coms.cfg from the current directory and repairs out-of-range values
// in memory only; a missing, unreadable or short file is replaced by the
// defaults, saved at once.
void init_bauds(void);
// Reads the four settings of ports 1..18 from file, which it always closes.
// Returns 1 when all 72 fields were read, 0 otherwise (the fields read so far
// stay in the table).
int read_config(FILE *file);
// Saves the four settings of ports 1..18 to coms.cfg. The file is replaced in
// one step (written aside and synced to the disk, then renamed over it), so a
// full disk, a crash or a power cut leaves the old file whole; when it cannot
// be written nothing changes and nothing is shown.
void write_config(void);
