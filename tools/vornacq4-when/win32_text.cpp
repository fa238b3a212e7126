#include "win32_text.h"

#include "base/utf16.h"

#include <windows.h>

namespace when {

namespace {

bool starts_with(const std::wstring &text, const wchar_t *prefix)
{
    return text.compare(0, std::wcslen(prefix), prefix) == 0;
}

} // namespace

std::wstring system_path(const std::string &path)
{
    std::wstring wide;
    if (!utf16::from_utf8(path, wide))
        return std::wstring();
    if (wide.size() < MAX_PATH || starts_with(wide, L"\\\\?\\") || starts_with(wide, L"\\\\.\\"))
        return wide;
    const DWORD n = GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
    std::wstring full(n, L'\0');
    if (n == 0 || GetFullPathNameW(wide.c_str(), n, &full[0], nullptr) + 1 != n)
        return wide;
    full.resize(n - 1);
    // \\server\share\... becomes \\?\UNC\server\share\...
    if (starts_with(full, L"\\\\"))
        return L"\\\\?\\UNC\\" + full.substr(2);
    return L"\\\\?\\" + full;
}

std::string error_text(unsigned long code)
{
    wchar_t *text = nullptr;
    const DWORD n = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                       FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_MAX_WIDTH_MASK,
                                   nullptr, code, 0, reinterpret_cast<wchar_t *>(&text), 0, nullptr);
    std::string message;
    if (n == 0 || !utf16::to_utf8(text, static_cast<int>(n), message))
        message = "error " + std::to_string(code);
    LocalFree(text);
    while (!message.empty() && (message.back() == ' ' || message.back() == '\r' || message.back() == '\n' ||
                                message.back() == '.'))
        message.pop_back();
    return message;
}

} // namespace when
