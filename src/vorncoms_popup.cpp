// The configuration popup's rows: showing the port table, reading it back,
// and keeping it sound while the operator changes it.
#include "vorncoms.h"

#include "engine.h"
#include "run_state.h"

const int bb_idx[PORT_SLOTS] = {57, 57, 58, 59, 60, 61, 62, 63, 64, 65, 66, 67, 68, 69, 70, 71, 72, 73, 74};
const int bc_idx[PORT_SLOTS] = {20, 20, 19, 18, 17, 16, 15, 14, 13, 12, 11, 10, 9, 8, 7, 6, 5, 4, 3};
const int cd_idx[PORT_SLOTS] = {38, 38, 37, 36, 35, 34, 33, 32, 27, 31, 30, 29, 28, 26, 21, 25, 24, 23, 22};
const int ph_idx[PORT_SLOTS] = {56, 56, 55, 54, 53, 52, 51, 50, 49, 48, 39, 47, 46, 45, 44, 43, 42, 41, 40};
const int dev_idx[PORT_SLOTS] = {100, 100, 101, 102, 103, 104, 105, 106, 107, 108,
                                 109, 110, 111, 112, 113, 114, 115, 116, 117};
const int why_idx[PORT_SLOTS] = {120, 120, 121, 122, 123, 124, 125, 126, 127, 128,
                                 129, 130, 131, 132, 133, 134, 135, 136, 137};

const char *probe_reason(int code)
{
    switch (code) {
    case 0: return "";
    case COM_ERR_NO_DEVICE: return "no such device";
    case COM_ERR_PERMISSION: return "permission denied: is the user in the dialout group?";
    case COM_ERR_BUSY: return "in use by another program";
    case COM_ERR_NOT_SERIAL: return "not a serial device";
    }
    return ComErrorText(code);
}

static void set_mode(int control, int mode)
{
    SetCtrlAttribute(config_handle, control, ATTR_CTRL_MODE, mode);
}

// A row's slot and hexadecimal display take input only while the port logs.
static void set_row_mode(int port)
{
    const int mode = RS232Sel[port] != 0 ? MODE_OPERABLE : MODE_INDICATOR;
    set_mode(cd_idx[port], mode);
    set_mode(ph_idx[port], mode);
}

// The port has no slot and no hexadecimal display, in the table and the row.
static void clear_display(int port)
{
    RS232Disp[port] = 0;
    HEXDisp[port] = 0;
    SetCtrlVal(config_handle, cd_idx[port], 0);
    SetCtrlVal(config_handle, ph_idx[port], 0);
}

static void show_device(int port)
{
    static char device[PATH_LEN];
    if (GetComDevice(port, device) == COM_ERR_NO_DEVICE)
        Fmt(device, "%s<none");
    SetCtrlAttribute(config_handle, dev_idx[port], ATTR_LABEL_TEXT, device);
    SetCtrlAttribute(config_handle, why_idx[port], ATTR_LABEL_TEXT, probe_reason(RS232Err[port]));
}

// A port whose probe failed: its four controls dimmed, showing what the
// table keeps for it, so that the close saves that: an awaited port stays
// logged with its slot, any other is off. Its rate is shown all the same, so
// that the close keeps it for a later start.
static void write_absent_port(int port)
{
    SetCtrlVal(config_handle, bc_idx[port], RS232Sel[port] != 0 ? 1 : 0);
    if (RS232Sel[port] == 0) {
        clear_display(port);
    } else {
        SetCtrlVal(config_handle, cd_idx[port], RS232Disp[port]);
        SetCtrlVal(config_handle, ph_idx[port], HEXDisp[port]);
    }
    const int controls[] = {bb_idx[port], bc_idx[port], cd_idx[port], ph_idx[port]};
    for (int control : controls)
        SetCtrlAttribute(config_handle, control, ATTR_DIMMED, 1);
}

void write_panel(void)
{
    for (int port = 1; port <= MAX_PORT; ++port) {
        show_device(port);
        SetCtrlVal(config_handle, bb_idx[port], baudrate[port]);
        if (RS232Err[port] != 0) {
            write_absent_port(port);
        } else if (RS232Sel[port] == 0) {
            SetCtrlVal(config_handle, bc_idx[port], 0);
            clear_display(port);
        } else {
            SetCtrlVal(config_handle, bc_idx[port], 1);
            SetCtrlVal(config_handle, cd_idx[port], RS232Disp[port]);
            SetCtrlVal(config_handle, ph_idx[port], HEXDisp[port]);
        }
        set_row_mode(port);
    }
}

void read_panel(void)
{
    for (int port = 1; port <= MAX_PORT; ++port) {
        GetCtrlVal(config_handle, bb_idx[port], &baudrate[port]);
        GetCtrlVal(config_handle, bc_idx[port], &RS232Sel[port]);
        GetCtrlVal(config_handle, cd_idx[port], &RS232Disp[port]);
        GetCtrlVal(config_handle, ph_idx[port], &HEXDisp[port]);
    }
}

int ck_onoff(int, int, int event, void *, int, int)
{
    if (event != EVENT_COMMIT)
        return 0;
    for (int port = 1; port <= MAX_PORT; ++port) {
        GetCtrlVal(config_handle, bc_idx[port], &RS232Sel[port]);
        if (RS232Sel[port] == 0)
            clear_display(port);
        set_row_mode(port);
    }
    return 0;
}

// The lowest-numbered port whose slot_control differs from its slot in the
// table, or 0 when none does.
static int changed_slot_port(int *value)
{
    for (int port = 1; port <= MAX_PORT; ++port) {
        GetCtrlVal(config_handle, cd_idx[port], value);
        if (*value != RS232Disp[port])
            return port;
    }
    return 0;
}

// A port whose device was not there at the start gives up its slot to one
// the operator can set: it cannot give it up itself.
static void free_absent_slot(int slot)
{
    for (int port = 1; port <= MAX_PORT; ++port)
        if (RS232Err[port] != 0 && RS232Disp[port] == slot)
            clear_display(port);
}

static int slot_held(int slot)
{
    for (int port = 1; port <= MAX_PORT; ++port)
        if (RS232Disp[port] == slot)
            return 1;
    return 0;
}

int ck_display(int, int, int event, void *, int, int)
{
    if (event != EVENT_COMMIT)
        return 0;
    int slot = 0;
    const int port = changed_slot_port(&slot);
    if (port == 0)
        return 0;
    if (slot != 0)
        free_absent_slot(slot);
    if (!slot_held(slot))
        RS232Disp[port] = slot;
    else if (slot == 0)
        clear_display(port);
    else // another port holds it: refused, shown by the control going back
        SetCtrlVal(config_handle, cd_idx[port], RS232Disp[port]);
    return 0;
}

int ck_hex(int, int, int event, void *, int, int)
{
    if (event != EVENT_COMMIT)
        return 0;
    for (int port = 1; port <= MAX_PORT; ++port) {
        if (RS232Disp[port] == 0) {
            HEXDisp[port] = 0;
            SetCtrlVal(config_handle, ph_idx[port], 0);
        } else {
            GetCtrlVal(config_handle, ph_idx[port], &HEXDisp[port]);
        }
    }
    return 0;
}
