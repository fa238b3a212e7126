// systemtime_win32.h - Windows' broken-down time (SYSTEMTIME) as the C
// library's (std::tm): the one reading of it, for the engine's local time
// and vornacq4-when's time zone (Windows only).
#pragma once

#include <ctime>
#include <windows.h>

// st's date and time of day, its day of the week and of the year; tm_isdst
// is 0, as st says nothing of it.
std::tm tm_of(const SYSTEMTIME &st);
