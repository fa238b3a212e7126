#include "win32_text.h"

#include <windows.h>

namespace when {

std::wstring to_wide(const std::string &utf8)
{
    if (utf8.empty())
        return std::wstring();
    const int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(n > 0 ? n : 0), L'\0');
    if (n > 0)
        MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), &wide[0], n);
    return wide;
}

std::string to_utf8(const wchar_t *wide, int length)
{
    const int n = WideCharToMultiByte(CP_UTF8, 0, wide, length, nullptr, 0, nullptr, nullptr);
    if (n <= 0)
        return std::string();
    std::string utf8(static_cast<std::size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide, length, &utf8[0], n, nullptr, nullptr);
    if (length < 0)
        utf8.resize(utf8.size() - 1); // the terminating zero, counted with the rest
    return utf8;
}

namespace {

bool starts_with(const std::wstring &text, const wchar_t *prefix)
{
    return text.compare(0, std::wcslen(prefix), prefix) == 0;
}

} // namespace

std::wstring system_path(const std::string &path)
{
    const std::wstring wide = to_wide(path);
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
    std::string message = n > 0 ? to_utf8(text, static_cast<int>(n)) : "error " + std::to_string(code);
    LocalFree(text);
    while (!message.empty() && (message.back() == ' ' || message.back() == '\r' || message.back() == '\n' ||
                                message.back() == '.'))
        message.pop_back();
    return message;
}

} // namespace when
