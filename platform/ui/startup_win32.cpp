// Start-up on Windows: Qt's windows platform needs no display server, Qt
// names no runtime directory there, and the network side (live feeds, the
// monitor) is not built for Windows yet, so a network.map is named once on
// stderr as ignored rather than silently left unserved.
#include "ui_internal.h"

#include "files/file_backend.h"

#include <cstdio>
#include <string>

namespace ui {

bool display_available(int, char *[])
{
    return true;
}

void start_network(const std::string &dir)
{
    const std::string mapPath = dir + "/network.map";
    std::string text;
    if (filesys::read_regular(mapPath.c_str(), 64 * 1024, text) == 0)
        std::fprintf(stderr, "vornacq4: %s: live feeds and the monitor are not available on Windows; "
                             "file ignored\n", mapPath.c_str());
}

void name_runtime_dir()
{
}

} // namespace ui
