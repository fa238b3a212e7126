// files.h over Win32: ReadFile at an offset, GetFullPathNameW and
// FindFirstFileW. A handle travels as a C runtime descriptor, as the
// logger's file back end (which opens the files, sharing them with the
// logger that may be writing or rolling them over) hands it out.
#include "files.h"

#include "win32_text.h"

#include "base/utf16.h"

#include <algorithm>
#include <fcntl.h>
#include <io.h>
#include <windows.h>

namespace when {

namespace {

constexpr long long kLargestRead = 1 << 30; // what one ReadFile is asked for at most

} // namespace

long long read_at(int fd, long long offset, char *buffer, long long count)
{
    const HANDLE h = reinterpret_cast<HANDLE>(_get_osfhandle(fd));
    long long done = 0;
    while (done < count) {
        OVERLAPPED at{};
        at.Offset = static_cast<DWORD>(static_cast<unsigned long long>(offset + done) & 0xFFFFFFFFu);
        at.OffsetHigh = static_cast<DWORD>(static_cast<unsigned long long>(offset + done) >> 32);
        DWORD n = 0;
        const DWORD want = static_cast<DWORD>(std::min(count - done, kLargestRead));
        if (!ReadFile(h, buffer + done, want, &n, &at) || n == 0)
            break;
        done += n;
    }
    return done;
}

std::string full_path(const std::string &path)
{
    std::wstring wide;
    if (!utf16::from_utf8(path, wide))
        return path;
    const DWORD n = GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
    std::wstring full(n, L'\0');
    std::string text;
    if (n == 0 || GetFullPathNameW(wide.c_str(), n, &full[0], nullptr) + 1 != n ||
        !utf16::to_utf8(full.c_str(), static_cast<int>(n - 1), text))
        return path;
    return text;
}

const char *separators()
{
    return "\\/";
}

std::string join_path(const std::string &dir, const std::string &name)
{
    const bool ended = !dir.empty() && (dir.back() == '\\' || dir.back() == '/' || dir.back() == ':');
    return ended ? dir + name : dir + "\\" + name;
}

bool is_directory(const std::string &path)
{
    const DWORD attributes = GetFileAttributesW(system_path(path).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool regular_files_in(const std::string &dir, std::vector<std::string> &names)
{
    WIN32_FIND_DATAW found{};
    const HANDLE h = FindFirstFileExW(system_path(join_path(dir, "*")).c_str(), FindExInfoBasic, &found,
                                      FindExSearchNameMatch, nullptr, 0);
    if (h == INVALID_HANDLE_VALUE)
        return false; // even an empty directory has "." and ".."
    // A name that is no valid UTF-16 can be named by no command line here.
    std::string name;
    do {
        if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0 && utf16::to_utf8(found.cFileName, -1, name))
            names.push_back(name);
    } while (FindNextFileW(h, &found));
    FindClose(h);
    return true;
}

std::FILE *open_output(const std::string &path)
{
    return _wfopen(system_path(path).c_str(), L"wb");
}

} // namespace when
