// vornacq4 - the logging run: the main panel, starting a run, the
// acquisition tick, and pause and resume. The run's state is in run_state.h.
//
// The program's story (main.cpp): start the engine, load the main panel,
// probe the ports, show the panel, load the port table, and hand the thread
// to the event loop. A countdown starts a run by itself unless the operator
// cancels it or presses start first. A run starts at most once: it opens one
// data file per logged port in the day directory, opens the ports, and
// enables the acquisition timer; it lasts until the program ends.
//
// Each tick of the acquisition timer drains every logged port's queue, shows
// the bytes in the port's display slot (as text, or as hexadecimal pairs 16
// to a line) and appends them unaltered to its data file. While logging is
// active it then reads the clock: the displays are cut back to each port's
// latest read now and then, and at the rollover (every hour, or every N
// changes of the minute) the data files are closed and the next set opened,
// in the next day's directory after midnight. Pausing stops the writing, and
// only the writing: bytes that arrive while paused are shown, never stored.
//
// Every callback acts on one event (commit, left click or timer tick), looks
// at no other argument and returns 0.
#pragma once

#include "engine.h"

// The panel resource, looked up beside the executable.
#define PANEL_FILE "vornacq4.uir"

// Panel resource numbers.
enum { config_popup = 1, main_panel = 2 };

// Controls of main_panel.
enum MainPanelControl {
    start_button = 12,
    pause_button = 14,
    hour_check = 15,
    minute_check = 16,
    minute_count = 17,
    config_button = 18,
    acq_timer = 24,
    countdown_box = 25,
    countdown_timer = 26,
    countdown_label = 27,
    quit_button = 28,
    manual_start_button = 29, // carries stop_click
    status_line = 30,         // text box: every logged port's state during a run
    status_timer = 31,        // show_status, once a second from the start of a run
};

// The displays are cut back every REFRESH_COUNT ticks (files every N minutes)
// or minute changes (hourly files).
enum { REFRESH_COUNT = 15 };

// main's steps before the event loop: loads the main panel into panelHandle,
// starts every port's hexadecimal text on a fresh line, records the start-up
// directory, probes the ports, shows the panel, loads the port table, colours
// the countdown and dims the pause button. Returns 0, having done nothing
// else, when the main panel cannot be loaded; 1 otherwise.
int set_up_main_panel(void);

// Cancels a pending automatic start for good: stops the countdown timer and
// hides the countdown.
void stop_auto(void);

// Ends the program after a failure the run cannot go past (its popup has
// been shown), as the quit button does; what arrives afterwards is not kept,
// since the data files may be closed.
void end_program(void);

// The hexadecimal text of count bytes into out, zero-terminated: "41 0D FF ",
// with CR LF after every HEX_LINE_BYTES-th byte of the port's stream.
// *line_left is the port's place in its line: the bytes still to come before
// the next line break (HEX_LINE_BYTES..1), carried from one read to the next.
// out holds 3 characters a byte, 2 a line break and the zero (HEX_BUF_LEN
// for a full queue).
void hex_text(const unsigned char *bytes, int count, int *line_left, char *out);

// Every callback the panel resource may name, as X(name). The program's
// callback_table is made from this list, and so is any other table that must
// bind the same names (the engine's tests load the real panel resource).
#define VORN_CALLBACKS(X)                                                        \
    X(config_baud) X(CloseConfigCallback) X(ck_onoff) X(ck_display) X(ck_hex)   \
    X(show_status)                                                               \
    X(Shutdown) X(SelectHour) X(SelectMinute) X(stop_click) X(acquire_data)      \
    X(auto_start) X(get_data) X(pause_toggle)
extern const CallbackBinding callback_table[];

// Callbacks of main_panel.
// config_baud opens the configuration popup (the automatic start is cancelled
// first); when the popup cannot be loaded it says so and changes nothing.
int config_baud(int panel, int control, int event, void *callbackData, int eventData1, int eventData2);
// show_status shows every logged port's state in the status_line text box:
// bytes received and seconds since the last byte, a device gone and for how
// long, a port that failed to open and why, and whether logging is paused.
int show_status(int panel, int control, int event, void *callbackData, int eventData1, int eventData2);
int Shutdown(int panel, int control, int event, void *callbackData, int eventData1, int eventData2);
int SelectHour(int panel, int control, int event, void *callbackData, int eventData1, int eventData2);
int SelectMinute(int panel, int control, int event, void *callbackData, int eventData1, int eventData2);
int stop_click(int panel, int control, int event, void *callbackData, int eventData1, int eventData2);
int acquire_data(int panel, int control, int event, void *callbackData, int eventData1, int eventData2);
int auto_start(int panel, int control, int event, void *callbackData, int eventData1, int eventData2);
// The acquisition tick (acq_timer): every logged port's new bytes to its
// display slot and its data file; then, while logging, the display refresh
// and the rollover, which first takes every byte still waiting (behind the
// queues too) into the files of the period that ends. A port whose queue
// length is an error (not open yet, device gone) is left alone for the tick;
// one that the engine opened since the start gets the run's settings. A
// logging port whose file (or index) could not be opened, or failed a write,
// is opened again before the next write; a disk that refuses is reported
// once an episode (file_refused). Ends the program when a new day's
// directory cannot be made or entered.
int get_data(int panel, int control, int event, void *callbackData, int eventData1, int eventData2);
// As the program ends after a run: the engine takes no more bytes from the
// devices, and what they delivered since the last tick goes to the displays
// and data files as a tick takes it, so a quit or a SIGTERM loses nothing the
// logger has received. Does nothing when no run started, or when a failure
// ended the program.
void take_last_bytes(void);
// Gives an open port the run's settings: no flow control, the run's read
// time-out. At the start of the run, and for a port the engine opened later.
void set_up_port(int port);
// Opens every port the run wants (logged, with a data file or a display
// slot) at its rate from the table, 8 data bits, no parity, 1 stop bit, and
// gives it the run's settings. A device missing now is opened by the engine
// once it comes, and set up by the tick. Bytes sent before are no part of it.
void open_ports(void);
// The line's own errors of a logged port, from its figures s (the UART's
// or adapter's counts of overruns, framing and parity errors, breaks): one
// line on stderr when they begin to come, with how many, and one when none
// has come for a minute, with how many the episode counted. Returns what the
// status box adds to the port's words while the episode lasts (", LINE
// ERRORS: 12 framing, 3 parity", the counts since the port was opened), else
// "". Called by show_status, once a second.
const char *ck_line_errors(int port, const ComStatus &s);
// pause_button: stops the writing to the data files (LEDs red, button
// "Resume Logging"), or starts it again (LEDs green, "Pause Logging"). Files
// and ports stay open. Every byte waiting when it is pressed is taken first:
// stored at a pause (it arrived while logging), only shown at a resume (it
// arrived while paused).
int pause_toggle(int panel, int control, int event, void *callbackData, int eventData1, int eventData2);

// Callback of the configuration popup's close button (and of closing it from
// its frame): reads the popup back into the table, saves coms.cfg, discards it.
int CloseConfigCallback(int panel, int control, int event, void *callbackData, int eventData1, int eventData2);
