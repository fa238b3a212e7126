#include "utf16.h"

#include <climits>
#include <cwchar>
#include <windows.h>

namespace utf16 {

bool from_utf8(const std::string &text, std::wstring &wide)
{
    wide.clear();
    if (text.empty())
        return true;
    if (text.size() > INT_MAX)
        return false;
    const int size = static_cast<int>(text.size());
    const int n = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), size, nullptr, 0);
    if (n <= 0)
        return false;
    wide.resize(static_cast<std::size_t>(n));
    if (MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), size, &wide[0], n) == n)
        return true;
    wide.clear();
    return false;
}

bool to_utf8(const wchar_t *wide, int length, std::string &text)
{
    text.clear();
    const std::size_t units = length < 0 ? std::wcslen(wide) : static_cast<std::size_t>(length);
    if (units == 0)
        return true;
    if (units > INT_MAX / 3) // room for three bytes a unit in an int
        return false;
    const int size = static_cast<int>(units);
    const int n = WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, wide, size, nullptr, 0, nullptr, nullptr);
    if (n <= 0)
        return false;
    text.resize(static_cast<std::size_t>(n));
    if (WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, wide, size, &text[0], n, nullptr, nullptr) == n)
        return true;
    text.clear();
    return false;
}

} // namespace utf16
