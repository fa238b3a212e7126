// The logger's entry: set up, then hand the thread to the event loop.
#include "engine.h"
#include "run_state.h"
#include "vornacq4.h"

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

    // Start the engine; without it there is nothing to run.
    if (InitEngine(0, argv, 0) == 0)
        return -1;
    // The program's callbacks, by the names the panel resource gives them.
    RegisterCallbacks(callback_table);

    // Load the main panel, find the ports, show the panel with the port
    // table and the countdown; without the panel there is nothing to run.
    if (!set_up_main_panel())
        return -1;

    // From here on everything happens in callbacks, until the operator quits.
    RunUserInterface();

    // The engine's threads end in their order; what the ports delivered
    // since the last tick waits in their queues, and is kept too.
    StopEngine();
    take_last_bytes();
    DiscardPanel(panelHandle);
    return 0;
}
