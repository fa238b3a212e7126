#include "vornacq4.h"

#include "engine.h"
#include "vorn_utl.h"
#include "vorncoms.h"

// Room for the countdown's number.
enum { COUNT_TEXT_LEN = 28 };
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

// Ends the program as the quit button does: the event loop returns to main.
static void end_program(void)
{
    QuitUserInterface(0);
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

// Opens every logged port that has a data file or a display slot; logging
// begins with the bytes that arrive from now on.
static void open_ports(void)
{
    for (int port = 1; port <= MAX_PORT; ++port) {
        if (RS232Sel[port] == 0 || (file_stat[port] == 0 && RS232Disp[port] == 0))
            continue;
        OpenComConfig(port, "", baudrate[port], 0, 8, 1, COM_QUEUE_MAX, OUTPUT_QUEUE_LEN);
        SetXMode(port, 0);
        SetCTSMode(port, 0);
        SetComTime(port, PORT_TIMEOUT);
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
