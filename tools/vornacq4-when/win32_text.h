// win32_text.h - the text Win32 calls take and give, for the Windows half of
// vornacq4-when: the program keeps UTF-8 throughout, the system speaks
// UTF-16 and reports errors by code.
#pragma once

#include <string>

namespace when {

// UTF-8 as UTF-16; an invalid byte becomes U+FFFD.
std::wstring to_wide(const std::string &utf8);

// UTF-16 (up to `length` units, or to its end at -1) as UTF-8.
std::string to_utf8(const wchar_t *wide, int length = -1);

// The UTF-16 path a Win32 call should be given for the UTF-8 `path`: as it
// is when short, absolute in the \\?\ form when it is too long for the plain
// one (MAX_PATH), so that deep day directories can still be read.
std::wstring system_path(const std::string &path);

// The system's text for an error code (GetLastError()), one line.
std::string error_text(unsigned long code);

} // namespace when
