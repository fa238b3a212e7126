#include "liberr.h"

#include "engine.h"

#include <cstdio>
#include <map>
#include <mutex>
#include <string>

namespace {

std::mutex g_mutex;
bool g_enabled = true;
// subject -> the error code last printed for it
std::map<std::string, std::string> g_last;

} // namespace

void DisableBreakOnLibraryErrors(void)
{
    std::lock_guard<std::mutex> lock(g_mutex);
    g_enabled = false;
}

void EnableBreakOnLibraryErrors(void)
{
    std::lock_guard<std::mutex> lock(g_mutex);
    g_enabled = true;
}

int lib_fail(const char *operation, const char *subject, int code, const char *text)
{
    std::lock_guard<std::mutex> lock(g_mutex);
    if (!g_enabled)
        return code;
    // One line per change of the subject's error, whichever call meets it.
    const std::string key = std::to_string(code);
    std::string &last = g_last[subject];
    if (last == key)
        return code;
    last = key;
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
    std::lock_guard<std::mutex> lock(g_mutex);
    std::fprintf(stderr, "vornacq4: %s\n", text != nullptr ? text : "");
    std::fflush(stderr);
    return 0;
}
