// run_state - everything the logger keeps, in one place: the port table, the
// panels, the day and its file names, and the state of a logging run.
//
// The three modules share these values and reach them here, never through
// each other: vorncoms keeps the port table, vorn_utl the day, the names and
// the data files, vornacq4 the run. Every table is static and sized here;
// nothing is allocated. A per-port table has PORT_SLOTS entries indexed by
// the port number itself (entry 0 is never used). Everything is zero when the
// program starts unless its line says otherwise. A file handle that names no
// open file is NO_HANDLE; a panel handle that names no panel is 0.
#pragma once

#include "engine.h"

// Ports are numbered 1..MAX_PORT; every per-port table is indexed by the port
// number itself, so it has PORT_SLOTS entries and entry 0 is never used.
enum { MAX_PORT = 18, PORT_SLOTS = MAX_PORT + 1 };
// Display slots 1..MAX_SLOT on the main panel; 0 means not displayed.
enum { MAX_SLOT = 5 };
// Handles of open files are positive; this one names none.
enum { NO_HANDLE = -1 };

// A port's input queue holds COM_QUEUE_MAX bytes; one read per tick drains it,
// and the receive buffer keeps one byte more for the zero that ends the text.
enum { RX_BUF_LEN = COM_QUEUE_MAX + 1 };
// Hexadecimal text of a full queue read in one tick: 3 characters a byte, 2
// for each line break (at most one per HEX_LINE_BYTES bytes, rounded up), 1
// for the zero.
enum { HEX_LINE_BYTES = 16, HEX_BUF_LEN = 100001 };
// The countdown shows 10..0, then the next tick starts the run.
enum { COUNTDOWN_START = 11 };
// A data file's name: the base shared by the files opened together
// ("04500065.C"), then the port ("07").
enum { FILE_NAME_LEN = 12, FILE_BASE_LEN = 10 };

// --- The panels

extern int panelHandle;   // the main panel: set_up_main_panel loads it; 0 until then
extern int config_handle; // the configuration popup: config_baud loads it; 0 until first
                          // loaded, and still its old handle after CloseConfigCallback
// Display slot 1..5 -> its text box, LED and file-name box on the main panel.
// Entry 0 repeats entry 1 and is never read: slot 0 means "not displayed".
extern const int pc_idx[MAX_SLOT + 1];
extern const int pl_idx[MAX_SLOT + 1];
extern const int pf_idx[MAX_SLOT + 1];

// --- The port table: check_ports and init_bauds fill it at start-up; then
// only the configuration popup changes it, until a run starts.

extern int baudrate[PORT_SLOTS];  // one of pbauds
extern int RS232Sel[PORT_SLOTS];  // 1: logged; readers take any nonzero as on
extern int RS232Disp[PORT_SLOTS]; // display slot 0..MAX_SLOT, each slot held by one port at most
extern int HEXDisp[PORT_SLOTS];   // 1: shown as hexadecimal pairs
extern int RS232Err[PORT_SLOTS];  // check_ports: 0, or the probe's negative ComError

// --- The day and the data files (vorn_utl)

extern char base_dir[PATH_LEN];   // the start-up directory: set_up_main_panel; "" until then
extern int jday;                  // ck_julian: day of year of the day directory in use; 0 before the first
extern char data_dir[PATH_LEN];   // create_ddr: name of the day directory in use, "Dddd"
extern char file_nm_base[FILE_BASE_LEN + 1]; // create_fn_base: the base of the names opened next
extern char file_name[PORT_SLOTS][PATH_LEN]; // create_fn: name of the port's data file
extern int file_handle[PORT_SLOTS];  // open_data_file: the port's open data file; NO_HANDLE when
                                     // none is open (before the run, after a failed open or write)
extern int index_enabled;            // main: 1 unless started with --no-index; 1 from the start
extern int index_handle[PORT_SLOTS]; // open_index_file: the open index of the port's data file;
                                     // NO_HANDLE when none is open
extern long long data_length[PORT_SLOTS]; // open_index_file, index_bytes: the data file's length,
                                          // the offset of its next byte

// --- The run (vornacq4)

extern int countdown_value;         // auto_start: countdown ticks left; COUNTDOWN_START at the start
extern int run_going;               // start sequence: 1 once the run is on, until a failure
                                    // ends the program (its files may be closed then)
extern int logging_active;          // start sequence, pause_toggle: 1 while logging runs
                                    // (not before a run, not while paused)
extern int file_stat[PORT_SLOTS];   // start sequence, ck_file_stat, pause_toggle: 1 while
                                    // the port's bytes go to its data file
extern int paused_stat[PORT_SLOTS]; // pause_toggle: file_stat kept while logging is paused
extern short hourly_mode;           // start sequence: 1 files roll over every hour; 0 every file_minutes
extern int file_minutes;            // start sequence: N of files every N minutes, 1..60
extern int minutes_left;            // start sequence, tick: minute changes before the next rollover
extern int cur_hour, cur_min;       // start sequence, tick: the latest clock reading of the run
extern int file_hour;               // start sequence, rollover: the hour of the data files open now
extern int last_min;                // start sequence, tick: the minute of the latest minute change
extern short refresh_count;         // start sequence, tick: ticks or minute changes to the
                                    // next display refresh
extern unsigned char rx_buf[PORT_SLOTS][RX_BUF_LEN]; // tick: the port's latest read, then a zero
extern int port_set_up[PORT_SLOTS]; // start sequence, tick: 1 once the port is open with the
                                    // run's settings
extern int in_q_len[PORT_SLOTS];    // tick: bytes taken from the port's queue at its latest read
extern char hex_buf[PORT_SLOTS][HEX_BUF_LEN]; // tick: hexadecimal text of the latest read
extern int have_cvted[PORT_SLOTS];  // set_up_main_panel (HEX_LINE_BYTES), tick: bytes to go
                                    // before the next line break of the port's hexadecimal text
