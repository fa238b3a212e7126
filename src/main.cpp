// The logger's entry: set up, then hand the thread to the event loop.
#include "engine.h"
#include "vorn_utl.h"
#include "vornacq4.h"
#include "vorncoms.h"

#include <cstring>

// Whether the command line holds the option. The other arguments are the
// engine's (Qt's own options).
static bool has_option(int argc, char *argv[], const char *option)
{
    for (int i = 1; i < argc; ++i)
        if (std::strcmp(argv[i], option) == 0)
            return true;
    return false;
}

int main(int argc, char *argv[])
{
    // Beside each data file, when its bytes arrived, unless asked not to.
    index_enabled = has_option(argc, argv, "--no-index") ? 0 : 1;

    // Start the engine and load the main panel; without them there is nothing to run.
    if (InitEngine(0, argv, 0) == 0)
        return -1;
    panelHandle = LoadPanel(0, PANEL_FILE, main_panel);
    if (panelHandle < 0)
        return -1;

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

    // From here on everything happens in callbacks, until the operator quits.
    RunUserInterface();

    // What the ports delivered since the last tick is kept too.
    take_last_bytes();
    DiscardPanel(panelHandle);
    return 0;
}
