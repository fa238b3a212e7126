// console.h on Windows: the UTF-16 command line (main's argv is in the ANSI
// code page, which cannot hold every file name), and stdout switched from
// text mode, which would turn every LF into CR LF.
#include "console.h"

#include "win32_text.h"

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
    for (int i = 1; wide != nullptr && i < count; ++i)
        args.push_back(to_utf8(wide[i]));
    LocalFree(wide);
    return args;
}

void binary_output()
{
    _setmode(_fileno(stdout), _O_BINARY);
}

} // namespace when
