// Start-up: whether Qt can start at all, the start-up directory, the network
// side and the application. What differs between systems is in
// startup_linux.cpp and startup_win32.cpp.
#include "engine.h"

#include "files/file_backend.h"
#include "serial/port_map.h"
#include "ui_internal.h"

#include <QApplication>

#include <cstdio>
#include <string>
#include <vector>

namespace {

// Qt keeps references to argc and argv for the life of the application.
int g_argc = 0;
std::vector<char *> g_argv;

} // namespace

int InitEngine(int, char *argv[], int)
{
    if (QApplication::instance() != nullptr)
        return 1;
    g_argv.clear();
    for (int i = 0; argv != nullptr && argv[i] != nullptr; ++i)
        g_argv.push_back(argv[i]);
    g_argc = static_cast<int>(g_argv.size());
    g_argv.push_back(nullptr);
    if (!ui::display_available(g_argc, g_argv.data())) {
        std::fprintf(stderr, "vornacq4: no display to show the window on; to run without one, "
                             "start it with QT_QPA_PLATFORM=offscreen\n");
        return 0;
    }
    std::string cwd;
    const bool haveDir = filesys::current_dir(cwd) == 0;
    ui::name_runtime_dir();
    auto *app = new QApplication(g_argc, g_argv.data());
    app->setQuitOnLastWindowClosed(false);
    ui::install_signal_handlers(app); // before the files are read: a stop meanwhile ends the loop
    if (haveDir) {
        port_map_set_startup_dir(cwd);
        // The map first: the monitor's thread names the ports' devices and
        // never reads a file itself.
        port_map_load();
        ui::start_network(cwd);
    }
    return 1;
}
