// win32_text.h - the text Win32 calls take and give, for the Windows half of
// vornacq4-when: the program keeps UTF-8 throughout, the system speaks
// UTF-16 (converted by the engine's base/utf16.h) and reports errors by code.
#pragma once

#include <string>

namespace when {

// The UTF-16 path a Win32 call should be given for the UTF-8 `path`: as it
// is when short, absolute in the \\?\ form when it is too long for the plain
// one (MAX_PATH), so that deep day directories can still be read. Empty when
// `path` is no valid UTF-8, which names no file.
std::wstring system_path(const std::string &path);

// The system's text for an error code (GetLastError()), one line.
std::string error_text(unsigned long code);

} // namespace when
