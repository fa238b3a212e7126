#include "liberr.h"

#include "engine.h"

#include <cstdio>
#include <map>
#include <mutex>
#include <string>

namespace {

std::mutex g_mutex; // over g_last alone, never held across a write
// Each thread's own switch: the user-interface thread quiets its probe of
// the ports, and the reopen thread's lines about a device that came back
// (or another one in its place) still go out meanwhile.
thread_local bool t_enabled = true;
// subject -> the error code last printed for it
std::map<std::string, std::string> g_last;

} // namespace

void DisableBreakOnLibraryErrors(void)
{
    t_enabled = false;
}

void EnableBreakOnLibraryErrors(void)
{
    t_enabled = true;
}

int lib_fail(const char *operation, const char *subject, int code, const char *text)
{
    if (!t_enabled)
        return code;
    // One line per change of the subject's error, whichever call meets it.
    // The line is written after the table is let go: a stderr that waits on
    // its reader then holds up this thread alone.
    {
        const std::string key = std::to_string(code);
        std::lock_guard<std::mutex> lock(g_mutex);
        std::string &last = g_last[subject];
        if (last == key)
            return code;
        last = key;
    }
    std::fprintf(stderr, "vornacq4: %s(%s): %s (%d)\n", operation, subject, text, code);
    return code;
}

void lib_ok(const char *subject)
{
    std::lock_guard<std::mutex> lock(g_mutex);
    g_last.erase(subject);
}

int ReportLine(const char *text)
{
    std::fprintf(stderr, "vornacq4: %s\n", text != nullptr ? text : "");
    std::fflush(stderr);
    return 0;
}
