#include "vornacq4.h"

#include "engine.h"
#include "vorn_utl.h"
#include "vorncoms.h"

static_assert(RX_BUF_LEN == COM_QUEUE_MAX + 1, "rx_buf holds a full queue and the zero after it");
static_assert(HEX_BUF_LEN == 3 * COM_QUEUE_MAX + 2 * ((COM_QUEUE_MAX + HEX_LINE_BYTES - 1) / HEX_LINE_BYTES) + 1,
              "hex_buf holds the hexadecimal text of a full queue");

// Room for the countdown's number.
enum { COUNT_TEXT_LEN = 28 };
// Room for a message popup's text.
enum { MESSAGE_LEN = 256 };
// Each opened port: 1.0 s time-out, and the engine's full queues.
enum { OUTPUT_QUEUE_LEN = 512 };
#define PORT_TIMEOUT 1.0

const int pc_idx[MAX_SLOT + 1] = {8, 8, 6, 5, 3, 4};
const int pl_idx[MAX_SLOT + 1] = {13, 13, 11, 9, 10, 7};
const int pf_idx[MAX_SLOT + 1] = {19, 19, 20, 21, 23, 22};

int panelHandle;
char base_dir[PATH_LEN];

int file_stat[PORT_SLOTS];
int file_handle[PORT_SLOTS];
char file_name[PORT_SLOTS][PATH_LEN];
int logging_active;
int paused_stat[PORT_SLOTS];
short hourly_mode;
int file_minutes;
int minutes_left;
int cur_hour, cur_min;
int file_hour;
int last_min;
short refresh_count;
unsigned char rx_buf[PORT_SLOTS][RX_BUF_LEN];
int in_q_len[PORT_SLOTS];
char hex_buf[PORT_SLOTS][HEX_BUF_LEN];
int have_cvted[PORT_SLOTS];
int to_cvt;
int have_cvt;
char *hex_cursor;
unsigned char hi_nibble, lo_nibble;
int countdown_value = COUNTDOWN_START;
const unsigned short to_hex[16] = {'0', '1', '2', '3', '4', '5', '6', '7',
                                   '8', '9', 'A', 'B', 'C', 'D', 'E', 'F'};

// Every callback that vornacq4.uir may name.
#define BIND(name) {#name, name},
const CallbackBinding callback_table[] = {VORN_CALLBACKS(BIND){nullptr, nullptr}};
#undef BIND

// When the bytes of the port in hand arrived, for its index.
static ComArrival arrival_buf[COM_ARRIVALS_MAX];
// 1 from the start of a run, unless a failure ended the program (its data
// files may be closed then): what arrives after the last tick is then kept.
static int run_going;

// Ends the program after a failure, as the quit button does: the event loop
// returns to main.
static void end_program(void)
{
    run_going = 0;
    QuitUserInterface(0);
}

int set_up_main_panel(void)
{
    panelHandle = LoadPanel(0, PANEL_FILE, main_panel);
    if (panelHandle < 0)
        return 0;

    // Hexadecimal text of every port starts on a fresh 16-byte line.
    for (int port = 0; port < PORT_SLOTS; ++port)
        have_cvted[port] = HEX_LINE_BYTES;

    // The start-up directory holds coms.cfg and the day directories.
    GetDir(base_dir);

    // Find out which ports exist before anyone can choose them.
    check_ports();
    DisplayPanel(panelHandle);

    // The port table from coms.cfg, or the defaults.
    init_bauds();

    // The countdown to the automatic start runs from the panel resource.
    SetCtrlAttribute(panelHandle, countdown_box, ATTR_TEXT_BGCOLOR, COLOR_CYAN);
    SetCtrlAttribute(panelHandle, pause_button, ATTR_DIMMED, 1);
    return 1;
}

void stop_auto(void)
{
    SetCtrlAttribute(panelHandle, countdown_timer, ATTR_TIMER_ENABLED, 0);
    SetCtrlAttribute(panelHandle, countdown_box, ATTR_VISIBLE, 0);
    SetCtrlAttribute(panelHandle, countdown_label, ATTR_VISIBLE, 0);
}

int Shutdown(int, int, int event, void *, int, int)
{
    if (event == EVENT_COMMIT)
        QuitUserInterface(0);
    return 0;
}

int SelectHour(int, int, int event, void *, int, int)
{
    if (event != EVENT_COMMIT)
        return 0;
    stop_auto();
    SetCtrlVal(panelHandle, minute_check, 0);
    SetCtrlAttribute(panelHandle, minute_count, ATTR_VISIBLE, 0);
    return 0;
}

int SelectMinute(int, int, int event, void *, int, int)
{
    if (event != EVENT_COMMIT)
        return 0;
    stop_auto();
    SetCtrlVal(panelHandle, hour_check, 0);
    SetCtrlAttribute(panelHandle, minute_count, ATTR_VISIBLE, 1);
    return 0;
}

int stop_click(int, int, int event, void *, int, int)
{
    if (event == EVENT_LEFT_CLICK)
        stop_auto();
    return 0;
}

int config_baud(int, int, int event, void *, int, int)
{
    if (event != EVENT_COMMIT)
        return 0;
    stop_auto();
    const int handle = LoadPanel(panelHandle, PANEL_FILE, config_popup);
    if (handle < 0) {
        static char message[MESSAGE_LEN];
        Fmt(message, "%s<The configuration window could not be loaded from %s: %s. Nothing has been changed.",
            PANEL_FILE, UiErrorText(handle));
        MessagePopup("Configure Ports", message);
        return 0;
    }
    config_handle = handle;
    InstallPopup(config_handle);
    write_panel();
    return 0;
}

int CloseConfigCallback(int, int, int event, void *, int, int)
{
    if (event != EVENT_COMMIT)
        return 0;
    read_panel();
    write_config();
    DiscardPanel(config_handle);
    return 0;
}

// The rollover cadence, from hour_check alone. 0 when files every N minutes
// are asked for with N outside 1..60: then the run does not start.
static int read_cadence(void)
{
    int hourly = 0;
    GetCtrlVal(panelHandle, hour_check, &hourly);
    if (hourly != 0) {
        hourly_mode = 1;
        return 1;
    }
    GetCtrlVal(panelHandle, minute_count, &file_minutes);
    if (file_minutes < 1 || file_minutes > 60)
        return 0;
    minutes_left = file_minutes;
    hourly_mode = 0;
    return 1;
}

static void read_start_time(void)
{
    int seconds;
    RT_GetSystemTime(&cur_hour, &cur_min, &seconds);
    file_hour = cur_hour;
    last_min = cur_min;
    // Counted down before it is tested: from 0 the first refresh would come
    // only after 65536 minute changes.
    refresh_count = REFRESH_COUNT;
}

// One data file per logged port, in port order. 0 when the operator chose to
// end the program rather than go on without a port.
static int open_data_files(void)
{
    for (int port = 1; port <= MAX_PORT; ++port) {
        if (RS232Sel[port] == 0) {
            file_stat[port] = 0;
            continue;
        }
        file_stat[port] = 1;
        logging_active = 1;
        create_fn(file_name[port], port);
        if (ck_file_stat(port) == 0)
            return 0;
    }
    return 1;
}

// Whether the run wants the port open: it is logged, and it has a data file
// or a display slot.
static int port_in_run(int port)
{
    return RS232Sel[port] != 0 && (file_stat[port] != 0 || RS232Disp[port] != 0);
}

// Opens the port with the run's settings: its rate, 8 data bits, no parity,
// 1 stop bit, no flow control. A device that is missing or busy now is
// opened by the engine as soon as it can be (about once a second), so one
// plugged in late joins the run.
static void open_port(int port)
{
    if (OpenComConfigRetry(port, "", baudrate[port], 0, 8, 1, COM_QUEUE_MAX, OUTPUT_QUEUE_LEN) != 0)
        return;
    SetXMode(port, 0);
    SetCTSMode(port, 0);
    SetComTime(port, PORT_TIMEOUT);
}

// Opens every port the run wants; logging begins with the bytes that arrive
// from now on.
static void open_ports(void)
{
    for (int port = 1; port <= MAX_PORT; ++port) {
        if (!port_in_run(port))
            continue;
        open_port(port);
        FlushInQ(port);
    }
}

// Everything after the countdown is settled. A run starts at most once: the
// start and configuration buttons stay dimmed from here on.
static void start_sequence(void)
{
    SetCtrlAttribute(panelHandle, config_button, ATTR_DIMMED, 1);
    SetCtrlAttribute(panelHandle, config_button, ATTR_CTRL_MODE, MODE_INDICATOR);
    if (!read_cadence())
        return;
    read_start_time();
    ck_julian();
    if (!create_ddr()) {
        end_program();
        return;
    }
    create_fn_base();
    if (!open_data_files()) {
        end_program();
        return;
    }
    open_ports();
    SetCtrlAttribute(panelHandle, start_button, ATTR_DIMMED, 1);
    SetCtrlAttribute(panelHandle, start_button, ATTR_CTRL_MODE, MODE_INDICATOR);
    SetCtrlAttribute(panelHandle, pause_button, ATTR_DIMMED, 0);
    SetCtrlAttribute(panelHandle, acq_timer, ATTR_TIMER_ENABLED, 1);
    SetCtrlAttribute(panelHandle, status_timer, ATTR_TIMER_ENABLED, 1);
    run_going = 1;
}

int acquire_data(int, int, int event, void *, int, int)
{
    if (event != EVENT_COMMIT)
        return 0;
    stop_auto();
    start_sequence();
    return 0;
}

int auto_start(int, int, int event, void *, int, int)
{
    if (event != EVENT_TIMER_TICK)
        return 0;
    --countdown_value;
    if (countdown_value >= 0) {
        char count_text[COUNT_TEXT_LEN];
        Fmt(count_text, "%s<%i", countdown_value);
        ResetTextBox(panelHandle, countdown_box, count_text);
        return 0;
    }
    if (countdown_value == -1) {
        SetCtrlAttribute(panelHandle, countdown_timer, ATTR_TIMER_ENABLED, 0);
        start_sequence();
    }
    return 0;
}

// --- The acquisition tick

// The hexadecimal text of the port's latest n bytes into its hex_buf row:
// "41 0D FF ", with CR LF after every 16th byte of the port's stream.
static void hex_text(int port, int n)
{
    to_cvt = n;
    hex_cursor = hex_buf[port];
    for (have_cvt = 0; have_cvt < to_cvt; ++have_cvt) {
        const unsigned char b = rx_buf[port][have_cvt];
        hi_nibble = static_cast<unsigned char>(b >> 4);
        lo_nibble = static_cast<unsigned char>(b & 0x0F);
        *hex_cursor++ = static_cast<char>(to_hex[hi_nibble]);
        *hex_cursor++ = static_cast<char>(to_hex[lo_nibble]);
        *hex_cursor++ = ' ';
        if (--have_cvted[port] == 0) {
            have_cvted[port] = HEX_LINE_BYTES;
            *hex_cursor++ = '\r';
            *hex_cursor++ = '\n';
        }
    }
    *hex_cursor = '\0';
}

// The text of the port's latest read, as its display slot shows it. As text,
// it ends at the first zero byte.
static const char *latest_text(int port)
{
    return HEXDisp[port] != 0 ? hex_buf[port] : reinterpret_cast<const char *>(rx_buf[port]);
}

static void show_bytes(int port, int n)
{
    const int slot = RS232Disp[port];
    if (slot == 0)
        return;
    if (HEXDisp[port] != 0)
        hex_text(port, n);
    SetCtrlVal(panelHandle, pc_idx[slot], latest_text(port));
}

// The bytes go to the data file unaltered, zero bytes included, and then
// when they arrived to its index. A file that could not be opened (at a
// rollover, on a full or failing disk) is tried again first, and one that
// failed a write is closed to be opened again at the next tick, so bytes are
// lost only while the disk keeps refusing.
static void store_bytes(int port, int n)
{
    if (file_stat[port] == 0)
        return;
    if (file_handle[port] == -1 && open_data_file(port) == -1)
        return;
    const int written = RT_WriteFile(file_handle[port], reinterpret_cast<const char *>(rx_buf[port]), n);
    if (written > 0) {
        const int marks = index_handle[port] > 0 ? ComRdArrivals(port, arrival_buf, COM_ARRIVALS_MAX) : 0;
        index_bytes(port, arrival_buf, marks > 0 ? marks : 0, written);
    }
    if (written < n)
        close_data_file(port);
}

// One port's share of a tick: what waits in its queue, read in one go.
static void take_port(int port)
{
    if (RS232Sel[port] == 0)
        return;
    in_q_len[port] = GetInQLen(port);
    // Nothing waiting, or no count at all (not open yet, device gone).
    if (in_q_len[port] <= 0)
        return;
    const int n = ComRd(port, reinterpret_cast<char *>(rx_buf[port]), in_q_len[port]);
    in_q_len[port] = n;
    if (n <= 0)
        return;
    rx_buf[port][n] = 0;
    show_bytes(port, n);
    store_bytes(port, n);
}

// Each displayed text box is cut back to its port's latest read.
static void refresh_displays(void)
{
    for (int port = 1; port <= MAX_PORT; ++port) {
        const int slot = RS232Disp[port];
        if (slot != 0)
            ResetTextBox(panelHandle, pc_idx[slot], latest_text(port));
    }
}

static void close_data_files(void)
{
    for (int port = 1; port <= MAX_PORT; ++port)
        if (file_stat[port] != 0)
            close_data_file(port);
}

// The directory of the day that has just begun: made inside the start-up
// directory and entered. 0 after the "Disk ERROR!" popup.
static int enter_new_day(void)
{
    return back_ddr() && create_ddr();
}

// Closes the data files of the period that ends and opens the next set.
static void rollover(void)
{
    close_data_files();
    if (ck_julian() == 0 && !enter_new_day()) {
        end_program();
        return;
    }
    create_fn_base();
    for (int port = 1; port <= MAX_PORT; ++port) {
        if (file_stat[port] != 0) {
            create_fn(file_name[port], port);
            open_data_file(port);
        }
        const int slot = RS232Disp[port];
        if (slot != 0) {
            ResetTextBox(panelHandle, pf_idx[slot], file_name[port]);
            ResetTextBox(panelHandle, pc_idx[slot], latest_text(port));
        }
    }
}

// Hourly files: the refresh at every 15th change of the minute, the rollover
// at the first tick of a new hour. The minute change of a new hour is
// counted at the tick after the rollover.
static void hourly_step(void)
{
    if (cur_hour == file_hour && cur_min != last_min) {
        last_min = cur_min;
        if (--refresh_count == 0) {
            refresh_count = REFRESH_COUNT;
            refresh_displays();
        }
    }
    if (cur_hour != file_hour) {
        file_hour = cur_hour;
        rollover();
    }
}

// Files every N minutes: the rollover at every N-th change of the minute,
// the refresh at every 15th tick without one.
static void minutes_step(void)
{
    if (cur_min != last_min) {
        last_min = cur_min;
        if (--minutes_left != 0)
            return;
        refresh_count = REFRESH_COUNT;
        minutes_left = file_minutes;
        rollover();
        return;
    }
    if (--refresh_count != 0)
        return;
    refresh_count = REFRESH_COUNT;
    refresh_displays();
}

int get_data(int, int, int event, void *, int, int)
{
    if (event != EVENT_TIMER_TICK)
        return 0;
    for (int port = 1; port <= MAX_PORT; ++port)
        take_port(port);
    // Paused, or no port logged: the ports are read and shown, nothing more.
    if (logging_active == 0)
        return 0;
    int seconds;
    RT_GetSystemTime(&cur_hour, &cur_min, &seconds);
    if (hourly_mode != 0)
        hourly_step();
    else
        minutes_step();
    return 0;
}

void take_last_bytes(void)
{
    if (run_going == 0)
        return;
    StopComInput();
    // A late tick may have left more than one queue's worth behind.
    for (int port = 1; port <= MAX_PORT; ++port)
        do
            take_port(port);
        while (in_q_len[port] > 0);
}

// --- Pause and resume

static void pause_logging(void)
{
    logging_active = 0;
    for (int port = 1; port <= MAX_PORT; ++port) {
        paused_stat[port] = file_stat[port];
        file_stat[port] = 0;
        const int slot = RS232Disp[port];
        if (slot != 0)
            SetCtrlAttribute(panelHandle, pl_idx[slot], ATTR_ON_COLOR, COLOR_RED);
    }
    SetCtrlAttribute(panelHandle, pause_button, ATTR_LABEL_TEXT, "Resume Logging");
}

static void resume_logging(void)
{
    logging_active = 1;
    for (int port = 1; port <= MAX_PORT; ++port) {
        file_stat[port] = paused_stat[port];
        const int slot = RS232Disp[port];
        if (slot != 0)
            SetCtrlAttribute(panelHandle, pl_idx[slot], ATTR_ON_COLOR, COLOR_GREEN);
    }
    SetCtrlAttribute(panelHandle, pause_button, ATTR_LABEL_TEXT, "Pause Logging");
}

int pause_toggle(int, int, int event, void *, int, int)
{
    if (event != EVENT_COMMIT)
        return 0;
    if (logging_active != 0)
        pause_logging();
    else
        resume_logging();
    return 0;
}
