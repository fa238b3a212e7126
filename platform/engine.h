// engine.h - the run-time services the logger is written against.
//
// Principles of operation
// - One user-interface thread. InitEngine, every function here and every
//   program callback run on it. Callbacks run one at a time: while a callback,
//   or a popup it shows, is running, no other callback is entered; a timer tick
//   that falls due meanwhile is dropped, not queued.
// - Panels come from a panel resource file (a JSON text, see docs/) loaded at
//   run time. Controls are addressed by (panel handle, control id); their
//   callbacks are bound by name through the table the program registers
//   (RegisterCallbacks).
// - A value or attribute set through this interface raises no event; only the
//   operator and the timers call callbacks.
// - Serial ports COM1..COM18 are named through `comports.map` in the start-up
//   directory. Each open port has an input queue that a reader thread of the
//   engine fills as bytes arrive, whatever the user-interface thread is doing.
//   Behind a full queue more wait in a backlog (from a budget all ports share)
//   and move on in arrival order as the program reads; with it spent, what
//   cannot be kept is counted and marked where it was (or flow control holds back).
// - Files are unbuffered: every byte RT_WriteFile accepts is in the operating
//   system when it returns, so ending the process loses nothing written.
//
// Errors are negative codes; ComErrorText and UiErrorText give their texts.
// No Qt type appears here: the program's modules see only this interface.
#pragma once

#include <cstddef>
#include <cstdio>

// ---------------------------------------------------------------------------
// Events, attributes and values

enum {
    EVENT_COMMIT = 1,       // a button press or a value changed by the operator
    EVENT_LEFT_CLICK = 3,   // a mouse press on a control, before its commit
    EVENT_TIMER_TICK = 15,
};

enum {
    ATTR_DIMMED = 500,         // 1 dimmed (no input, greyed), 0 active
    ATTR_VISIBLE = 530,        // 1 shown, 0 hidden
    ATTR_CTRL_MODE = 620,      // MODE_INDICATOR or MODE_OPERABLE
    ATTR_LABEL_TEXT = 641,     // string: the control's label
    ATTR_TEXT_BGCOLOR = 690,   // RGB: background of a text box
    ATTR_ON_COLOR = 920,       // RGB: colour of a lit LED
    ATTR_TIMER_ENABLED = 1271, // 1 ticking, 0 stopped
};

// An indicator shows its value and takes no input; an operable control commits every change.
enum { MODE_INDICATOR = 0, MODE_OPERABLE = 1 };

enum : int { COLOR_RED = 0xFF0000, COLOR_GREEN = 0x00FF00, COLOR_CYAN = 0x00FFFF };

// Directory buffers (GetDir) hold this many characters, the zero included:
// the longest path the system accepts (PATH_MAX on Linux).
enum { PATH_LEN = 4096 };

// ---------------------------------------------------------------------------
// Callbacks

typedef int (*CtrlCallbackPtr)(int panel, int control, int event, void *callbackData,
                               int eventData1, int eventData2);

struct CallbackBinding {
    const char *name;
    CtrlCallbackPtr callback;
};

// Registers the program's callbacks: every function a panel resource may
// name, by that name. The table ends with {nullptr, nullptr}; it is kept, not
// copied, for the life of the process. LoadPanel binds callback names through
// the table registered last and refuses a resource that names any other
// (UI_ERR_CALLBACK); with no table registered, one that names any callback at
// all. Returns 0.
int RegisterCallbacks(const CallbackBinding *table);

// ---------------------------------------------------------------------------
// User interface

enum UiError {
    UI_ERR_NOT_READY = -1,       // InitEngine has not succeeded
    UI_ERR_FILE = -2,            // panel resource file missing or unreadable
    UI_ERR_FORMAT = -3,          // panel resource file malformed
    UI_ERR_NO_RESOURCE = -4,     // no panel with that resource number
    UI_ERR_CALLBACK = -5,        // a callback name the program does not define
    UI_ERR_BAD_PANEL = -6,       // no such panel handle
    UI_ERR_BAD_CONTROL = -7,     // no such control on the panel
    UI_ERR_BAD_ATTRIBUTE = -8,   // attribute unknown, or not one of this control's
    UI_ERR_BAD_VALUE = -9,       // value of the wrong kind for the control
    UI_ERR_TOO_MANY_PANELS = -10,
};
const char *UiErrorText(int code);

// Creates the application from the program's argv (null-terminated; Qt's own
// options such as "-platform offscreen" are honoured and removed). Returns 1
// when the user interface is ready (at once when it already was), 0 when none
// can be started, after one line on stderr saying how to run without a display.
// Also records the start-up directory and makes SIGTERM, SIGINT and SIGHUP end
// RunUserInterface as QuitUserInterface does. When XDG_RUNTIME_DIR is unset (a
// service, su), it sets it to the user's private runtime directory, so that
// Qt starts without a warning.
int InitEngine(int instance, char *argv[], int reserved);

// Loads panel `resource` from a panel resource file (a relative name is looked
// up beside the executable). parent 0 makes a top-level window, otherwise a
// popup window of that panel. Returns a positive handle, or a UiError after one
// line on stderr naming the file and what is wrong where. The panel is hidden.
int LoadPanel(int parent, const char *fileName, int resource);
int DisplayPanel(int panel);
// Shows the panel modal and returns at once: other panels take no input until
// it is discarded.
int InstallPopup(int panel);
// Removes the panel with its controls; its timers stop. A popup installed on
// it goes too.
int DiscardPanel(int panel);

// Runs the event loop on the calling thread until QuitUserInterface, a
// terminating signal, or the closing of a top-level panel from its frame.
// Returns the code given to QuitUserInterface (0 for the other ways).
int RunUserInterface(void);
// Makes RunUserInterface return, also from inside a popup: open popups are
// ended (ConfirmPopup then answers 0), and later popups return at once.
// Called before RunUserInterface, it makes that return at once.
int QuitUserInterface(int code);

int SetCtrlAttribute(int panel, int control, int attribute, int value);
int SetCtrlAttribute(int panel, int control, int attribute, const char *value);
// An integer for check boxes, switches, LEDs (1 lit), numerics and rings; a
// string on a text box is appended after its present text.
int SetCtrlVal(int panel, int control, int value);
int SetCtrlVal(int panel, int control, const char *text);
int GetCtrlVal(int panel, int control, int *value);
// Replaces the whole text of a text box.
int ResetTextBox(int panel, int control, const char *text);

// Modal popups: they block the calling callback until the operator answers.
// Each also writes "vornacq4: title: message" on stderr. Where no one can see
// a dialog (the offscreen platform: a service, a machine without a display)
// none is shown: the line on stderr is all, and the answer is given at once.
// MessagePopup returns 0.
int MessagePopup(const char *title, const char *message);
// Returns 1 for yes, 0 for no (closing it counts as no); 1 where no one can
// see it, so that an unattended logger goes on rather than waits for ever.
int ConfirmPopup(const char *title, const char *message);

// ---------------------------------------------------------------------------
// Serial ports. Ports are numbered 1..COM_PORTS. A text box shows each byte
// as one Latin-1 character, so what a port delivers is shown unaltered.

enum { COM_PORTS = 18, COM_QUEUE_MAX = 32000 };
// The backlogs' budget, all ports together, allocated as needed: by default a lone
// GPS at 4800 baud waits 39 h, 18 ports at 115200 5 min. Set: cut to MIN..MAX.
enum : long long { COM_BACKLOG_BUDGET_DEFAULT = 64LL << 20, COM_BACKLOG_BUDGET_MIN = 1LL << 20,
                   COM_BACKLOG_BUDGET_MAX = 16LL << 30 };
void SetComBacklogBudget(long long bytes);
long long GetComBacklogBudget(void);

enum ComError {
    COM_ERR_SYSTEM = -1,      // an unexpected system error
    COM_ERR_BAD_PORT = -2,    // port number outside 1..COM_PORTS
    COM_ERR_NOT_OPEN = -3,
    COM_ERR_NO_DEVICE = -4,   // no such device, or marked none in comports.map
    COM_ERR_PERMISSION = -5,
    COM_ERR_BUSY = -6,        // another program holds the port
    COM_ERR_NOT_SERIAL = -7,  // the path names something that is no terminal
    COM_ERR_BAD_SETTING = -8, // rate, parity, data or stop bits not supported
    COM_ERR_DEVICE_GONE = -9, // the device went away; the queue is drained
    COM_ERR_OTHER_DEVICE = -10, // another device took the name of one that went away
};
const char *ComErrorText(int code);

// Opens the port exclusively (9600 baud, 8 data bits, no parity, 1 stop bit).
// deviceName "" means the port's standard name COMn. Returns 0 or a ComError.
// Bytes the device sent before the open are discarded.
int OpenCom(int port, const char *deviceName);
// As OpenCom with these settings: parity 0 none, 1 odd, 2 even, 3 mark,
// 4 space; 5..8 data bits; 1 or 2 stop bits; an input queue of inputQueueSize
// bytes (at most COM_QUEUE_MAX; 0 or less means COM_QUEUE_MAX). An open port
// is closed first. Returns 0 or a ComError; on error the port is closed.
int OpenComConfig(int port, const char *deviceName, long baud, int parity, int dataBits,
                  int stopBits, int inputQueueSize, int outputQueueSize);
// As OpenComConfig, for a device that may come later: when it cannot be
// opened now (missing, busy, no permission), the engine tries again once a
// second with these settings (no flow control, a 10 s time-out); once open,
// GetInQLen stops saying COM_ERR_NOT_OPEN and what the device sends is kept.
// CloseCom or another open ends the waiting. 0, or the first try's ComError.
int OpenComConfigRetry(int port, const char *deviceName, long baud, int parity, int dataBits,
                       int stopBits, int inputQueueSize, int outputQueueSize);
int CloseCom(int port);
// Takes no more bytes from any device, for good, as the program ends: what the queues
// hold stays for GetInQLen and ComRd; ports stay open, a departed device unsought. 0.
int StopComInput(void);
// Ends the engine's threads in order: the HTTP endpoint; the serial threads (as
// StopComInput); the feeds, after a last send that does not wait. The program calls it
// before its last read of the queues; a process that does not, at exit. Then a no-op.
void StopEngine(void);
int SetXMode(int port, int mode);   // 1: XON/XOFF flow control
int SetCTSMode(int port, int mode); // 1: RTS/CTS hardware handshake
int SetComTime(int port, double seconds);
// Empties the engine's queue and the kernel's input buffer.
int FlushInQ(int port);
// Bytes waiting in the queue (0..queue size; more may wait behind it), or a
// ComError: the port is not open, or its device went away and nothing waits.
int GetInQLen(int port);
// Hands over up to count bytes in arrival order (from the backlog too when
// count asks for more than the queue holds), waiting up to the port's
// time-out for the rest. Returns the number of bytes read, or a ComError
// (COM_ERR_DEVICE_GONE once a departed device's queue is empty).
int ComRd(int port, char *buffer, int count);

// When the bytes arrived: the reader notes, for every read from a device, the
// wall-clock time it returned and its byte count, and each gap of bytes not
// kept; the marks travel with the bytes. Past COM_ARRIVALS_MAX marks waiting,
// the newest reads join into one (past a gap, bytes join the gap).
struct ComArrival {
    int count;        // bytes, in the port's stream order
    long long first;  // when the first read of these bytes returned, in us since 1970 UTC
    long long last;   // when the last one did (first, for a single read)
    int gap = 0;      // 1: `count` bytes came here and were not kept; none is handed over
};
enum { COM_ARRIVALS_MAX = 4096 };
// The marks of the bytes the latest ComRd handed over, oldest first, with the gaps
// among and right after them; the counts of the others add up to what it returned.
// Returns how many (at most max: the rest join the last of their kind), or a ComError.
int ComRdArrivals(int port, ComArrival *arrivals, int max);

// While disabled, a failing serial or file operation only returns its code;
// while enabled (the default) it also prints one line on stderr, once a change
// of the error of that port or file name. The switch is the calling thread's
// own: the engine's threads report as ever meanwhile.
void DisableBreakOnLibraryErrors(void);
void EnableBreakOnLibraryErrors(void);

// The line's errors a UART and its driver count, read once a second without waiting
// (TIOCGICOUNT; ClearCommError's flags on Windows, each count a look that found one).
enum ComLineError { COM_LINE_OVERRUN, COM_LINE_BUFFER_OVERRUN, COM_LINE_FRAMING, COM_LINE_PARITY, COM_LINE_BREAK,
                    COM_LINE_KINDS };
const char *ComLineErrorName(int kind); // "overrun", "buffer_overrun", "framing", "parity", "break"; "" for none

// What the engine knows of a port now, as the reader thread counts it (a lock and a clock reading).
struct ComStatus {
    int open;           // 1 from a successful open until CloseCom, while its device is away too
    int gone;           // 1 while the device is away; the engine tries to reopen it every second
    long gone_seconds;  // how long it has been away
    long long bytes;    // bytes received since the port was opened
    long idle_seconds;  // seconds since the last byte, or since the open while none came
    int open_result;    // what the last open of the port returned: 0 or a ComError
    // Its live feeds (network.map in the start-up directory):
    int feed_servers;   // TCP feeds listening for clients
    int feed_clients;   // clients connected to them
    int feeds_down;     // feeds that could not be set up (their address refused)
    long long waiting;  // bytes received and not yet taken by ComRd (queue and backlog)
    double last_byte_time; // when the last byte came, seconds since 1970 UTC; 0 while none has
    int line_counted;   // 1 once its driver answered for the line's error counters (no pseudo-terminal does)
    long long line_errors[COM_LINE_KINDS]; // the line's errors by ComLineError kind, since the open
    long long dropped;  // bytes read and not kept for want of room (the budget spent), since the open
    int dropping;       // 1 while that goes on (stderr: a line as it starts, one when 10 s went without)
    double held_seconds; // with flow control: how long it was left unread for want of room, since the open
};
// Fills status for port 1..COM_PORTS (zero: never opened): 0 or COM_ERR_BAD_PORT, silently.
int GetComStatus(int port, ComStatus *status);

// The uplink to an MQTT broker (network.map's mqtt line), for the status box.
struct UplinkStatus {
    int configured;     // 1 when network.map names a broker
    int connected;      // 1 while the broker has the connection
    long long behind;   // bytes of the files past the shore's position, all ports
    long down_seconds;  // how long it has not been connected (0 while it is)
};
int GetUplinkStatus(UplinkStatus *status); // fills status (all zero without an uplink); 0

// The device that port 1..COM_PORTS stands for (comports.map, or the
// standard name), cut off at size. Returns 0; COM_ERR_NO_DEVICE for a port
// marked none (name ""); COM_ERR_BAD_PORT.
int GetComDeviceInto(int port, char *name, std::size_t size);
template <std::size_t N> int GetComDevice(int port, char (&name)[N]) { return GetComDeviceInto(port, name, N); }

// ---------------------------------------------------------------------------
// Files and directories

// mode 0 read/write, 1 read only, 2 write only; action 0 truncate, 1 append,
// 2 keep contents (0 and 1 create a missing file); type 0 binary, 1 text
// (the same on this platform). Returns a small positive handle, or -1.
int RT_OpenFile(const char *name, int mode, int action, int type);
// Hands every byte straight to the operating system (no user-space buffer).
// Returns the number of bytes written: count, fewer when the disk filled
// part-way, or -1 when none could be written.
int RT_WriteFile(int handle, const char *buffer, int count);
int RT_CloseFile(int handle);
// The length of an open file in bytes, or -1.
long long RT_FileLength(int handle);

// For files read at start-up (the port table): opens name for reading only
// when it is a regular file, without ever waiting on it. A named pipe, a
// device, a directory or a socket is not opened at all, and one line on stderr
// says so, reported or not: it is never what an operator meant. A stream, or nullptr.
std::FILE *RT_OpenRegularFile(const char *name);
// Creates name afresh, to be put in the place of `replaces` (RT_ReplaceFile):
// never through a link nor into an existing file (a leftover of an earlier
// attempt, a dangling link, is removed), with the permission bits of
// `replaces`. Returns a stream, or nullptr.
std::FILE *RT_CreateReplacement(const char *name, const char *replaces);

// For files replaced whole (the port table): RT_SyncFile pushes a stream's
// buffered bytes to the operating system and waits until they are on the
// disk; RT_ReplaceFile puts `from` in the place of `to` in one step and waits
// until that is on the disk too, so a power cut leaves the old file or the
// new one, never a short one. Each returns 0, or -1.
int RT_SyncFile(std::FILE *file);
int RT_ReplaceFile(const char *from, const char *to);

// Gives the file `from` the name `to`, in one step, only when no file of
// that name exists: 0, RENAME_EXISTS (nothing changed), or -1.
int RT_RenameFile(const char *from, const char *to);
enum { RENAME_EXISTS = -9 };
// Why the latest failed RT_OpenFile, RT_WriteFile, RT_RenameFile or MakeDir
// of the calling thread failed ("No space left on device"); "" before any.
// Valid until the next file operation of that thread.
const char *RT_FileErrorText(void);

// Fills dir with the current directory: 0, or -1 (dir "") unreadable or too long.
int GetDirInto(char *dir, std::size_t size);
template <std::size_t N> int GetDir(char (&dir)[N]) { return GetDirInto(dir, N); }
int SetDir(const char *path);   // 0, or -1 on failure
int MakeDir(const char *path);  // 0 created, -9 a directory of that name exists, -1 otherwise

enum { MAKEDIR_EXISTS = -9 };

// ---------------------------------------------------------------------------
// Clock: local time through the C library, so time-faking tools work.

int RT_GetSystemTime(int *hours, int *minutes, int *seconds);
int GetSystemDate(int *month, int *day, int *year);
// Seconds on a clock that never goes back (only differences mean anything).
double Timer(void);
// 1 when the system clock is kept synchronised now (NTP or the like: the kernel's
// clock status is neither in error nor unsynchronised), 0 when not or untold.
int ClockSynchronised(void);

// ---------------------------------------------------------------------------
// Reports: one line "vornacq4: text" on stderr (the journal of a service),
// written whole, whatever the reporting of library errors. Returns 0.
int ReportLine(const char *text);

// ---------------------------------------------------------------------------
// Watching the logger from elsewhere: what the program tells the engine, for the
// HTTP endpoint (`http` in network.map) to serve to a monitoring server, a script
// or a browser, and for a service manager to tell progress. Each returns at once.

// What the program knows of a logged port that the engine does not: the bytes
// its data files took, the writes they refused and the bytes those cost (since
// the program started), the data file it writes now ("" none), its status piece.
struct PortReport {
    int logged;               // 1: selected for the run
    long long written_bytes;  // into its data files
    long long write_errors;   // writes or opens the disk refused
    long long lost_bytes;     // bytes that should have gone to a file and did not
    int recorded;             // 1: its bytes go to a data file now
    const char *file;         // "D045/04538405.C01", or ""
    const char *status;       // "COM1: 1.2 MB, last byte 0 s ago, 2 clients"
};
// Called once a second during a run, for each port 1..COM_PORTS.
void ReportPortFigures(int port, const PortReport *report);
// The run: running 1 once it has started, logging 1 while bytes go to the
// files (0 paused or not started), and the status box's whole text. Called
// with the ports' reports; the engine notes when the run started.
void ReportRunFigures(int running, int logging, const char *status_text);

// To a service manager that asked for word (systemd's NOTIFY_SOCKET): the
// logger is up (the countdown waits, or the run started), and it is making
// progress (called by each acquisition tick; passed on at most at half the
// watchdog's interval). Nothing happens where nobody asked.
void ServiceReady(void);
void ServiceAlive(void);

// ---------------------------------------------------------------------------
// Fmt: formats items into target. The format starts "%s<"; after it, "%s"
// takes a string item and "%i" an int item (decimal, no padding); any other
// character is copied. The result replaces target's text, ends with a zero
// byte, and is cut off at the target's size. An item may be the target
// itself. Returns the number of items used, or -1 for a format it does not
// understand or items that do not match it (target is then "").

struct FmtItem {
    enum Kind { Int, Str } kind;
    long i;
    const char *s;
    FmtItem(int v) : kind(Int), i(v), s(nullptr) {}
    FmtItem(long v) : kind(Int), i(v), s(nullptr) {}
    FmtItem(const char *v) : kind(Str), i(0), s(v) {}
};

int FmtInto(char *target, std::size_t size, const char *format, const FmtItem *items, int count);

template <std::size_t N, typename... Items>
int Fmt(char (&target)[N], const char *format, Items... items)
{
    const FmtItem list[] = {FmtItem(items)..., FmtItem(0)};
    return FmtInto(target, N, format, list, static_cast<int>(sizeof...(Items)));
}
