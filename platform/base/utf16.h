// utf16.h - the one conversion between the UTF-8 the program keeps
// throughout and the UTF-16 that Win32 calls take and give (Windows only).
//
// Invalid input is refused, never replaced: a name holding a byte that is no
// UTF-8, or a lone surrogate from the system, would otherwise become one with
// U+FFFD in it, which names another file or none. The caller says what a
// refusal means where it happens.
#pragma once

#include <string>

namespace utf16 {

// UTF-16 of UTF-8 text. False, with wide empty, when text is no valid UTF-8.
bool from_utf8(const std::string &text, std::wstring &wide);

// UTF-8 of the first length units of wide, or of all of it up to its
// terminating zero when length is -1. False, with text empty, when they hold
// a lone surrogate.
bool to_utf8(const wchar_t *wide, int length, std::string &text);

inline bool to_utf8(const std::wstring &wide, std::string &text)
{
    return to_utf8(wide.c_str(), static_cast<int>(wide.size()), text);
}

} // namespace utf16
