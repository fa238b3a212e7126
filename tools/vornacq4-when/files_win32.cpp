// files.h over Win32: CreateFileW with every sharing mode (the logger may be
// writing the file, or roll it over, while it is read), ReadFile at an
// offset, GetFullPathNameW and FindFirstFileW. A handle travels as a C
// runtime descriptor, so the rest of the program keeps one kind of number.
#include "files.h"

#include "win32_text.h"

#include <algorithm>
#include <fcntl.h>
#include <io.h>
#include <windows.h>

namespace when {

namespace {

// Whether the open handle is a file on a disk rather than a directory (opened
// for its attributes), a device or a pipe.
bool is_regular(HANDLE h)
{
    BY_HANDLE_FILE_INFORMATION info{};
    return GetFileType(h) == FILE_TYPE_DISK && GetFileInformationByHandle(h, &info) &&
           (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

constexpr long long kLargestRead = 1 << 30; // what one ReadFile is asked for at most

} // namespace

int open_regular(const std::string &path, long long &length, std::string &error)
{
    // Backup semantics let a directory open too, so that it is refused as
    // one below rather than reported as access denied.
    const HANDLE h = CreateFileW(system_path(path).c_str(), GENERIC_READ,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                 FILE_ATTRIBUTE_NORMAL | FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        error = path + " cannot be read: " + error_text(GetLastError());
        return -1;
    }
    LARGE_INTEGER size{};
    if (!is_regular(h) || !GetFileSizeEx(h, &size)) {
        CloseHandle(h);
        error = path + " is not a regular file";
        return -1;
    }
    const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(h), _O_RDONLY | _O_BINARY);
    if (fd < 0) {
        CloseHandle(h);
        error = path + " cannot be read: too many files open";
        return -1;
    }
    length = size.QuadPart;
    return fd;
}

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

void close_file(int fd)
{
    _close(fd);
}

std::string full_path(const std::string &path)
{
    const std::wstring wide = to_wide(path);
    const DWORD n = GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
    std::wstring full(n, L'\0');
    if (n == 0 || GetFullPathNameW(wide.c_str(), n, &full[0], nullptr) + 1 != n)
        return path;
    return to_utf8(full.c_str(), static_cast<int>(n - 1));
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
    do {
        if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0)
            names.push_back(to_utf8(found.cFileName));
    } while (FindNextFileW(h, &found));
    FindClose(h);
    return true;
}

std::FILE *open_output(const std::string &path)
{
    return _wfopen(system_path(path).c_str(), L"wb");
}

} // namespace when
