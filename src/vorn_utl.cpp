#include "vorn_utl.h"

#include "engine.h"
#include "run_state.h"

#include <cstdio>
#include <cstring>

// Room for the texts of a data file's popup and labels ("COMM18 @ 115200 Baud").
enum { LABEL_LEN = 64 };

const int cal_day[2][13] = {
    {0, 0, 31, 59, 90, 120, 151, 181, 212, 243, 273, 304, 334},
    {0, 0, 31, 60, 91, 121, 152, 182, 213, 244, 274, 305, 335},
};

// The module's latest reading of the clock, made by ck_julian and create_fn_base.
static int clock_hours, clock_minutes, clock_seconds;
static int clock_month, clock_day, clock_year;

static void read_clock(void)
{
    RT_GetSystemTime(&clock_hours, &clock_minutes, &clock_seconds);
    GetSystemDate(&clock_month, &clock_day, &clock_year);
}

int isleap(int year)
{
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0 ? 1 : 0;
}

int calc_julian(int month, int day, int year)
{
    return cal_day[isleap(year)][month] + day;
}

int ck_julian(void)
{
    read_clock();
    const int today = calc_julian(clock_month, clock_day, clock_year);
    if (today == jday)
        return 1;
    jday = today;
    return 0;
}

int back_ddr(void)
{
    if (SetDir(base_dir) == -1) {
        MessagePopup("Disk ERROR!", "Cannot Return to Base Directory, Quiting!");
        return 0;
    }
    return 1;
}

int create_ddr(void)
{
    std::snprintf(data_dir, sizeof data_dir, "D%03d", jday);
    const int made = MakeDir(data_dir);
    const int entered = (made == 0 || made == MAKEDIR_EXISTS) && SetDir(data_dir) != -1;
    if (!entered) {
        MessagePopup("Disk ERROR!", "A Data Subdirectory Error has occured, Quiting!");
        return 0;
    }
    return 1;
}

void create_fn_base(void)
{
    read_clock();
    const int day = calc_julian(clock_month, clock_day, clock_year);
    const int seconds = clock_hours * 3600 + clock_minutes * 60 + clock_seconds;
    // Each field has its fixed width: a day is at most 366 and a day's
    // seconds at most 86400 (with a leap second), so nothing is cut.
    std::snprintf(file_nm_base, sizeof file_nm_base, "%03u%05u.C", static_cast<unsigned>(day),
                  static_cast<unsigned>(seconds));
}

static_assert(FILE_NAME_LEN == FILE_BASE_LEN + 2, "a data file's name is its base and a two-digit port");

void create_fn(char name[PATH_LEN], int port)
{
    std::memcpy(name, file_nm_base, FILE_BASE_LEN);
    std::snprintf(name + FILE_BASE_LEN, PATH_LEN - FILE_BASE_LEN, "%02d", port);
}

// Asks whether the run goes on without the port whose file cannot be opened.
static int ask_to_go_on(int port)
{
    char file_text[LABEL_LEN], port_text[LABEL_LEN], title[LABEL_LEN];
    Fmt(file_text, "%s<%s", "FILE ");
    Fmt(port_text, "%s<%i ERROR", port);
    Fmt(title, "%s<%s%s", file_text, port_text);
    if (ConfirmPopup(title, "CONTINUE") == 0)
        return 0;
    file_stat[port] = 0;
    return 255;
}

// Shows on the port's display slot that the port logs, at what rate, to which file.
static void label_slot(int port, int slot)
{
    char comm[LABEL_LEN], tail[LABEL_LEN], led_label[LABEL_LEN];
    char rate[LABEL_LEN], box_label[LABEL_LEN];
    SetCtrlAttribute(panelHandle, pl_idx[slot], ATTR_ON_COLOR, COLOR_GREEN);
    Fmt(comm, "%s<%s", "COMM");
    Fmt(tail, "%s<%i Logging", port);
    Fmt(led_label, "%s<%s%s", comm, tail);
    SetCtrlAttribute(panelHandle, pl_idx[slot], ATTR_LABEL_TEXT, led_label);
    SetCtrlVal(panelHandle, pl_idx[slot], 1);

    Fmt(tail, "%s<%i @ ", port);
    Fmt(box_label, "%s<%s%s", comm, tail);
    Fmt(rate, "%s<%i Baud", baudrate[port]);
    Fmt(box_label, "%s<%s%s", box_label, rate);
    SetCtrlAttribute(panelHandle, pc_idx[slot], ATTR_LABEL_TEXT, box_label);

    SetCtrlVal(panelHandle, pf_idx[slot], file_name[port]);
}

int open_data_file(int port)
{
    file_handle[port] = RT_OpenFile(file_name[port], DATA_FILE_ACCESS, DATA_FILE_ACTION, DATA_FILE_TYPE);
    if (file_handle[port] != NO_HANDLE && index_enabled)
        open_index_file(port);
    return file_handle[port];
}

void close_data_file(int port)
{
    if (file_handle[port] != NO_HANDLE)
        RT_CloseFile(file_handle[port]);
    file_handle[port] = NO_HANDLE;
    close_index_file(port);
}

int ck_file_stat(int port)
{
    if (open_data_file(port) == NO_HANDLE)
        return ask_to_go_on(port);
    const int slot = RS232Disp[port];
    if (slot == 0)
        return 255;
    label_slot(port, slot);
    return 255;
}
