// The logger's entry: set up, then hand the thread to the event loop.
#include "engine.h"
#include "run_state.h"
#include "vornacq4.h"

#include <cstdlib>
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

// The text after "option=" in the command line, or null when absent.
static const char *option_value(int argc, char *argv[], const char *option)
{
    const std::size_t length = std::strlen(option);
    for (int i = 1; i < argc; ++i)
        if (std::strncmp(argv[i], option, length) == 0 && argv[i][length] == '=')
            return argv[i] + length + 1;
    return nullptr;
}

// --backlog-budget=MIB: what may wait for a late tick, all ports together.
// 1 when absent or right; 0 after a line on stderr.
static int set_backlog_budget(int argc, char *argv[])
{
    const char *text = option_value(argc, argv, "--backlog-budget");
    if (text == nullptr)
        return 1;
    char *end = nullptr;
    const long long mib = std::strtoll(text, &end, 10);
    const long long max_mib = COM_BACKLOG_BUDGET_MAX >> 20;
    if (end == text || *end != '\0' || mib < 1 || mib > max_mib) {
        char line[128];
        Fmt(line, "%s<--backlog-budget takes a number of MiB from 1 to %i, not \"%s\"", static_cast<long>(max_mib),
            text);
        ReportLine(line);
        return 0;
    }
    SetComBacklogBudget(mib << 20);
    return 1;
}

int main(int argc, char *argv[])
{
    // Beside each data file, when its bytes arrived, unless asked not to.
    index_enabled = has_option(argc, argv, "--no-index") ? 0 : 1;
    // Room for the ports' bytes while a tick is late, unless told otherwise.
    if (!set_backlog_budget(argc, argv))
        return -1;

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
