// The acquisition tick: every logged port's new bytes to its display slot
// and its data file, the display refresh and the rollover; pause and resume.
#include "vornacq4.h"

#include "engine.h"
#include "run_state.h"
#include "vorn_utl.h"

static const unsigned short to_hex[16] = {'0', '1', '2', '3', '4', '5', '6', '7',
                                          '8', '9', 'A', 'B', 'C', 'D', 'E', 'F'};

// When the bytes of the port in hand arrived, for its index.
static ComArrival arrival_buf[COM_ARRIVALS_MAX];

void hex_text(const unsigned char *bytes, int count, int *line_left, char *out)
{
    const int to_cvt = count;
    char *hex_cursor = out;
    for (int have_cvt = 0; have_cvt < to_cvt; ++have_cvt) {
        const unsigned char hi_nibble = static_cast<unsigned char>(bytes[have_cvt] >> 4);
        const unsigned char lo_nibble = static_cast<unsigned char>(bytes[have_cvt] & 0x0F);
        *hex_cursor++ = static_cast<char>(to_hex[hi_nibble]);
        *hex_cursor++ = static_cast<char>(to_hex[lo_nibble]);
        *hex_cursor++ = ' ';
        if (--*line_left == 0) {
            *line_left = HEX_LINE_BYTES;
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
        hex_text(rx_buf[port], n, &have_cvted[port], hex_buf[port]);
    SetCtrlVal(panelHandle, pc_idx[slot], latest_text(port));
}

// The port's data file, opened again when it is not open (at a rollover or
// after a failed write, on a full or failing disk), with its index when that
// is not open either. NO_HANDLE while the disk refuses it.
static int reopen_files(int port, int n)
{
    if (file_handle[port] == NO_HANDLE && open_data_file(port) == NO_HANDLE) {
        file_refused(port, REFUSED_DATA, n);
        return NO_HANDLE;
    }
    if (index_enabled != 0 && index_handle[port] == NO_HANDLE)
        open_index_file(port);
    return file_handle[port];
}

// The bytes go to the data file unaltered, zero bytes included, and then
// when they arrived to its index. A file that could not be opened is tried
// again first, and one that failed a write is closed to be opened again at
// the next tick, so bytes are lost only while the disk keeps refusing; the
// engine's line for each failure gives way to one report an episode.
static void store_bytes(int port, int n)
{
    if (file_stat[port] == 0)
        return;
    DisableBreakOnLibraryErrors();
    if (reopen_files(port, n) != NO_HANDLE) {
        const int written = RT_WriteFile(file_handle[port], reinterpret_cast<const char *>(rx_buf[port]), n);
        if (written < n)
            file_refused(port, REFUSED_DATA, written > 0 ? n - written : n);
        if (written > 0) {
            written_total[port] += written;
            const int marks = index_handle[port] != NO_HANDLE ? ComRdArrivals(port, arrival_buf, COM_ARRIVALS_MAX) : 0;
            index_bytes(port, arrival_buf, marks > 0 ? marks : 0, written);
        }
        if (written < n)
            close_data_file(port);
        else
            file_took(port, REFUSED_DATA);
    }
    EnableBreakOnLibraryErrors();
}

// One port's share of a tick: what waits in its queue, read in one go.
static void take_port(int port)
{
    if (RS232Sel[port] == 0)
        return;
    in_q_len[port] = GetInQLen(port);
    // Opened by the engine since the start of the run (missing or busy then).
    if (in_q_len[port] >= 0 && port_set_up[port] == 0)
        set_up_port(port);
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

// Reads a queue's worth of every selected port until nothing waits, the
// backlog behind the queues too: before the files of a period close, and
// before logging pauses or resumes, so that every byte goes with the period
// in which it arrived. A port that keeps sending is taken as far as its
// full queue and the whole backlog budget held when this began (one read
// more in case some were on their way).
static void take_all_waiting(void)
{
    const long long reads_max = (COM_QUEUE_MAX + GetComBacklogBudget()) / COM_QUEUE_MAX + 2;
    for (int port = 1; port <= MAX_PORT; ++port)
        for (long long reads = 0; reads < reads_max; ++reads) {
            take_port(port);
            if (in_q_len[port] <= 0)
                break;
        }
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

// Closes the data files of the period that ends, with every byte that
// arrived in it, and opens the next set.
static void rollover(void)
{
    take_all_waiting();
    close_data_files();
    if (ck_julian() == 0 && !enter_new_day()) {
        end_program();
        return;
    }
    create_fn_base();
    for (int port = 1; port <= MAX_PORT; ++port) {
        if (file_stat[port] != 0) {
            create_fn(file_name[port], port);
            DisableBreakOnLibraryErrors();
            if (open_data_file(port) == NO_HANDLE)
                file_refused(port, REFUSED_DATA, 0);
            EnableBreakOnLibraryErrors();
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
    // Progress, paused or not: a tick that hangs stops the watchdog's pets,
    // and the service manager restarts the logger.
    ServiceAlive();
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
    take_all_waiting();
}

// --- Pause and resume

// What arrived while logging was on is stored before the pause.
static void pause_logging(void)
{
    take_all_waiting();
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

// What arrived while paused is shown, never stored: it is taken before the
// files are written to again.
static void resume_logging(void)
{
    take_all_waiting();
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
