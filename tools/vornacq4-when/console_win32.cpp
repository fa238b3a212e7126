// console.h on Windows: the UTF-16 command line (main's argv is in the ANSI
// code page, which cannot hold every file name), and stdout switched from
// text mode, which would turn every LF into CR LF.
#include "console.h"

#include "base/utf16.h"

#include <cstdio>
#include <fcntl.h>
#include <io.h>
#include <windows.h>
// After windows.h, which it needs.
#include <shellapi.h>

namespace when {

std::vector<std::string> arguments(int, char *[])
{
    int count = 0;
    wchar_t **wide = CommandLineToArgvW(GetCommandLineW(), &count);
    std::vector<std::string> args;
    // An argument that is no valid UTF-16 (a lone surrogate) is taken as
    // empty: made valid, it would name another file.
    std::string arg;
    for (int i = 1; wide != nullptr && i < count; ++i) {
        utf16::to_utf8(wide[i], -1, arg);
        args.push_back(arg);
    }
    LocalFree(wide);
    return args;
}

void binary_output()
{
    _setmode(_fileno(stdout), _O_BINARY);
}

} // namespace when
