// com_name.h - reading a port's name as it is written: "COMn", in any letter
// case, n without a leading zero. The one reading of it, for the start-up
// directory's maps (COM1 .. COM18), the Win32 device names that hold one
// ("\\.\COM7") and the tools' command lines.
#pragma once

#include <string>

// The largest n read: Windows numbers its ports up to COM256 at most.
enum { COM_NAME_MAX = 9999 };

// The n of "COMn" (1..COM_NAME_MAX, no leading zero), or 0 for anything else.
int com_name_number(const std::string &word);

// The n of "COMn" for one of the logger's ports (1..COM_PORTS), or 0.
int com_number(const std::string &word);
