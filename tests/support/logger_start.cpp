#include "logger_start.h"

#include "engine.h"
#include "vornacq4.h"
#include "vorncoms.h"

bool start_logger_in_process()
{
    panelHandle = LoadPanel(0, PANEL_FILE, main_panel);
    if (panelHandle < 0)
        return false;
    for (int port = 0; port < PORT_SLOTS; ++port)
        have_cvted[port] = HEX_LINE_BYTES;
    GetDir(base_dir);
    check_ports();
    DisplayPanel(panelHandle);
    init_bauds();
    SetCtrlAttribute(panelHandle, countdown_box, ATTR_TEXT_BGCOLOR, COLOR_CYAN);
    SetCtrlAttribute(panelHandle, pause_button, ATTR_DIMMED, 1);
    return true;
}
