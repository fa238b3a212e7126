// The Win32 file back end's current directory, and what a name stands for
// from it.
//
// The program's current directory is kept here: Windows' own cannot be
// longer than MAX_PATH, and the program must be able to start in a deeper
// directory and make its day directories there. change_dir moves Windows'
// own along with it where Windows lets it, so that the C runtime's relative
// names (std::remove) mean the same directory; where it refuses (a directory
// longer than MAX_PATH, without long paths enabled) they still mean the one
// before.
#include "file_backend.h"
#include "file_win32.h"

#include "base/utf16.h"

#include <cerrno>
#include <mutex>
#include <string>
#include <windows.h>

namespace filesys {

namespace {

std::mutex g_dirMutex;
std::string g_dir; // the program's current directory (plain form); "" until first asked

// Windows' own current directory, absolute, in the plain form.
int windows_dir(std::string &dir)
{
    std::wstring wide(MAX_PATH, L'\0');
    DWORD n = GetCurrentDirectoryW(static_cast<DWORD>(wide.size()), &wide[0]);
    if (n >= wide.size()) { // too small: n is the size it needs
        wide.resize(n);
        n = GetCurrentDirectoryW(static_cast<DWORD>(wide.size()), &wide[0]);
    }
    if (n == 0 || n >= wide.size())
        return win32::last_errno();
    wide.resize(n);
    std::string utf8;
    if (!utf16::to_utf8(wide, utf8))
        return -EILSEQ;
    const win32::Target target = win32::resolve("", utf8);
    if (target.kind != win32::Kind::Disk)
        return -ENOENT;
    dir = win32::plain(target.path);
    return 0;
}

// The directory relative names start from: Windows' own until change_dir.
int program_dir(std::string &dir)
{
    std::lock_guard<std::mutex> lock(g_dirMutex);
    if (g_dir.empty()) {
        const int err = windows_dir(g_dir);
        if (err < 0)
            return err;
    }
    dir = g_dir;
    return 0;
}

} // namespace

namespace win32 {

int last_errno()
{
    return errno_of(GetLastError());
}

int target_of(const char *name, Target &target, std::wstring &path)
{
    std::wstring unused;
    if (!utf16::from_utf8(name, unused)) // before ".." could drop an invalid component
        return -EILSEQ;
    std::string dir;
    const int err = program_dir(dir);
    if (err < 0)
        return err;
    target = resolve(dir, name);
    if (target.kind == Kind::Invalid)
        return -ENOENT;
    return utf16::from_utf8(target.path, path) ? 0 : -EILSEQ;
}

int disk_attributes(const char *name, Target &target, std::wstring &path, DWORD &attributes)
{
    const int err = target_of(name, target, path);
    if (err < 0)
        return err;
    if (target.kind != Kind::Disk)
        return NOT_REGULAR;
    attributes = GetFileAttributesW(path.c_str());
    return attributes == INVALID_FILE_ATTRIBUTES ? last_errno() : 0;
}

} // namespace win32

int current_dir(std::string &dir)
{
    return program_dir(dir);
}

int change_dir(const char *path)
{
    win32::Target target;
    std::wstring wide;
    DWORD attributes = 0;
    const int err = win32::disk_attributes(path, target, wide, attributes);
    if (err == NOT_REGULAR || (err == 0 && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0))
        return -ENOTDIR;
    if (err < 0)
        return err;
    const std::string dir = win32::plain(target.path);
    std::lock_guard<std::mutex> lock(g_dirMutex);
    g_dir = dir;
    // Windows' own follows where it can; the program's is the one that counts.
    std::wstring windows;
    if (utf16::from_utf8(dir, windows))
        SetCurrentDirectoryW(windows.c_str());
    return 0;
}

} // namespace filesys
