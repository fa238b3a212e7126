// The main panel and the start of a run: set-up, the panel's callbacks, the
// countdown and the start sequence. The tick is in vornacq4_tick.cpp.
#include "vornacq4.h"

#include "engine.h"
#include "run_state.h"
#include "vorn_utl.h"
#include "vorncoms.h"

// Room for the countdown's number.
enum { COUNT_TEXT_LEN = 28 };
// Room for a message popup's text.
enum { MESSAGE_LEN = 256 };

// Every callback that vornacq4.uir may name.
#define BIND(name) {#name, name},
const CallbackBinding callback_table[] = {VORN_CALLBACKS(BIND){nullptr, nullptr}};
#undef BIND

void end_program(void)
{
    run_going = 0;
    QuitUserInterface(0);
}

int set_up_main_panel(void)
{
    const int handle = LoadPanel(0, PANEL_FILE, main_panel);
    if (handle < 0)
        return 0;
    panelHandle = handle;

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
    // Up, as far as a service manager is concerned: the countdown waits.
    ServiceReady();
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
    // Up with a run going (the countdown said so already; the word is sent once).
    ServiceReady();
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
    // Until the run's ticks take over, the countdown's show progress.
    ServiceAlive();
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
