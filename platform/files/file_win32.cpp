// Win32 back end of the file services.
//
// Descriptors are the C runtime's: CreateFileW's HANDLE becomes one through
// _open_osfhandle, and _get_osfhandle gives it back. They could not be
// indexes into a table of our own, because files.cpp hands the descriptors
// of the files read at start-up or replaced whole to fdopen, and takes them
// back from the stream with fileno for sync. The C runtime's table holds
// thousands; files.cpp holds at most 64 of them.
//
// Names are UTF-8, turned into whole "\\?\" paths (file_win32.h) so that no
// length limit but the system's 32767 characters applies. Relative names are
// resolved against the program's current directory, which the back end keeps
// (file_win32_dir.cpp): Windows' own cannot be longer than MAX_PATH, and the
// program must be able to start in a deeper directory and make its day
// directories there. Win32's error codes become -errno codes, with Linux's
// words for them, in file_win32_errors.cpp.
#include "file_backend.h"
#include "file_win32.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <io.h>
#include <string>
#include <windows.h>

namespace filesys {

namespace {

// Where nobody else holds the file, others may read it while it is written
// (a viewer following a data file), and rename or remove it.
constexpr DWORD kShareWhileWriting = FILE_SHARE_READ | FILE_SHARE_DELETE;
// A reader shares with the writer too, or it could not open a file being written.
constexpr DWORD kShareWhileReading = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
// Write access without FILE_WRITE_DATA: Windows then puts every write at the
// end of the file, wherever the file position is, so an append never
// overwrites what another program added meanwhile.
constexpr DWORD kAppendAccess = FILE_GENERIC_WRITE & ~FILE_WRITE_DATA;
// WriteFile counts in a DWORD; a gibibyte a call is far beyond any write here.
constexpr std::size_t kMaxWrite = 1u << 30;

// The C runtime's descriptor for handle, which it takes over; -EMFILE (the
// handle closed) when its table is full.
int descriptor_of(HANDLE handle, int flags)
{
    const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(handle), flags);
    if (fd < 0) {
        CloseHandle(handle);
        return -EMFILE;
    }
    return fd;
}

HANDLE handle_of(int fd)
{
    return reinterpret_cast<HANDLE>(_get_osfhandle(fd));
}

bool is_directory(const std::wstring &path)
{
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

// Why CreateFileW failed: Windows refuses a directory as it refuses
// permission; Linux says what it is.
int open_error(const std::wstring &path)
{
    const DWORD error = GetLastError();
    if (error == ERROR_ACCESS_DENIED && is_directory(path))
        return -EISDIR;
    return win32::errno_of(error);
}

DWORD access_of(Access access, Existing existing)
{
    const bool append = existing == Append;
    switch (access) {
    case ReadWrite: return append ? FILE_GENERIC_READ | kAppendAccess : GENERIC_READ | GENERIC_WRITE;
    case ReadOnly: return GENERIC_READ;
    case WriteOnly: return append ? kAppendAccess : GENERIC_WRITE;
    }
    return GENERIC_READ;
}

DWORD disposition_of(Access access, Existing existing)
{
    if (access == ReadOnly)
        return OPEN_EXISTING;
    switch (existing) {
    case Truncate: return CREATE_ALWAYS;
    case Append: return OPEN_ALWAYS;
    case Keep: return OPEN_EXISTING;
    }
    return OPEN_EXISTING;
}

// Opens an existing regular file to read, shared with its writer.
HANDLE open_to_read(const std::wstring &path)
{
    return CreateFileW(path.c_str(), GENERIC_READ, kShareWhileReading, nullptr, OPEN_EXISTING,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
}

HANDLE create_exclusively(const std::wstring &path)
{
    return CreateFileW(path.c_str(), GENERIC_WRITE, kShareWhileWriting, nullptr, CREATE_NEW,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
}

// Removes what create_new finds in its way: a file, or a link (to a file or
// a directory) without what it points to; never a directory. A read-only
// leftover goes too, as on Linux, where the directory decides.
int remove_leftover(const std::wstring &path)
{
    const DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return GetLastError() == ERROR_FILE_NOT_FOUND ? 0 : win32::last_errno();
    const bool link = (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
    const bool directory = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    if (directory && !link)
        return -EISDIR;
    if (!link && (attributes & FILE_ATTRIBUTE_READONLY) != 0)
        SetFileAttributesW(path.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
    const BOOL removed = directory ? RemoveDirectoryW(path.c_str()) : DeleteFileW(path.c_str());
    return removed ? 0 : win32::last_errno();
}

// from and to as Disk paths for a rename; 0 or -errno.
int rename_paths(const char *from, const char *to, std::wstring &from_path, std::wstring &to_path)
{
    win32::Target target;
    int err = win32::target_of(from, target, from_path);
    if (err == 0 && target.kind != win32::Kind::Disk)
        err = NOT_REGULAR;
    if (err == 0)
        err = win32::target_of(to, target, to_path);
    if (err == 0 && target.kind != win32::Kind::Disk)
        err = NOT_REGULAR;
    return err;
}

} // namespace

int open(const char *name, Access access, Existing existing)
{
    win32::Target target;
    std::wstring path;
    const int err = win32::target_of(name, target, path);
    if (err < 0)
        return err;
    const DWORD share = access == ReadOnly ? kShareWhileReading : kShareWhileWriting;
    const HANDLE handle = CreateFileW(path.c_str(), access_of(access, existing), share, nullptr,
                                      disposition_of(access, existing), FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return open_error(path);
    int flags = access == ReadOnly ? _O_RDONLY : 0;
    if (access != ReadOnly && existing == Append)
        flags |= _O_APPEND;
    return descriptor_of(handle, flags);
}

int open_regular(const char *name)
{
    // Looked at before it is opened: opening a pipe takes one of its
    // instances from the program that serves it, and opening a serial port
    // can reset the instrument behind it. Device names are told by their
    // form alone, without asking the device.
    win32::Target target;
    std::wstring path;
    DWORD attributes = 0;
    const int err = win32::disk_attributes(name, target, path, attributes);
    if (err < 0)
        return err;
    // A link is not followed: where it leads is known only once it is opened,
    // and opening a device or a pipe is what must not happen. Links to files
    // are rare on Windows; this one is refused as no regular file.
    if ((attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != 0)
        return NOT_REGULAR;
    const HANDLE handle = open_to_read(path);
    if (handle == INVALID_HANDLE_VALUE)
        return open_error(path);
    // The name may have been given to something else meanwhile.
    if (GetFileType(handle) != FILE_TYPE_DISK) {
        CloseHandle(handle);
        return NOT_REGULAR;
    }
    return descriptor_of(handle, _O_RDONLY);
}

int read_regular(const char *name, std::size_t limit, std::string &text)
{
    text.clear();
    const int fd = open_regular(name);
    if (fd < 0)
        return fd;
    // One byte beyond the limit tells a file that is too large, whatever
    // its recorded size.
    const HANDLE handle = handle_of(fd);
    char buffer[4096];
    int result = 0;
    for (;;) {
        DWORD n = 0;
        if (!ReadFile(handle, buffer, sizeof buffer, &n, nullptr))
            result = win32::last_errno();
        else if (text.size() + n > limit)
            result = TOO_LARGE;
        if (n == 0 || result != 0)
            break;
        text.append(buffer, n);
    }
    _close(fd);
    if (result != 0)
        text.clear();
    return result;
}

int create_new(const char *name, int)
{
    // CREATE_NEW fails on any existing name, a link included, so nothing is
    // ever written through a link someone put in the way. The mode is not
    // used: see permissions().
    win32::Target target;
    std::wstring path;
    int err = win32::target_of(name, target, path);
    if (err < 0)
        return err;
    if (target.kind != win32::Kind::Disk)
        return NOT_REGULAR;
    HANDLE handle = create_exclusively(path);
    const DWORD error = GetLastError();
    if (handle == INVALID_HANDLE_VALUE && (error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS)) {
        err = remove_leftover(path);
        if (err < 0)
            return err;
        handle = create_exclusively(path);
    }
    if (handle == INVALID_HANDLE_VALUE)
        return open_error(path);
    return descriptor_of(handle, 0);
}

int permissions(const char *name)
{
    // Windows keeps who may do what in access lists, which a new file takes
    // from its directory, and has no permission bits to carry over to a
    // replacement: every regular file reads as 0666, which create_new does
    // not use. A read-only file is not made writable by its replacement:
    // Windows refuses to replace it, and replace() says so (-EACCES).
    win32::Target target;
    std::wstring path;
    DWORD attributes = 0;
    if (win32::disk_attributes(name, target, path, attributes) < 0 || (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
        return -1;
    return 0666;
}

std::size_t write_all(int fd, const char *buffer, std::size_t count, int &error)
{
    std::size_t done = 0;
    error = 0;
    const HANDLE handle = handle_of(fd);
    if (handle == INVALID_HANDLE_VALUE) {
        error = -EBADF;
        return 0;
    }
    while (done < count) {
        const DWORD chunk = static_cast<DWORD>(std::min(count - done, kMaxWrite));
        DWORD n = 0; // WriteFile sets it before it fails, to what it wrote
        const BOOL ok = WriteFile(handle, buffer + done, chunk, &n, nullptr);
        done += n;
        if (!ok || n == 0) {
            error = ok ? -EIO : win32::last_errno();
            break;
        }
    }
    return done;
}

int close(int fd)
{
    // The C runtime closes the HANDLE with its descriptor.
    return _close(fd) == 0 ? 0 : -errno;
}

long long length(int fd)
{
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(handle_of(fd), &size))
        return win32::last_errno();
    return size.QuadPart;
}

int sync(int fd)
{
    return FlushFileBuffers(handle_of(fd)) ? 0 : win32::last_errno();
}

int replace(const char *from, const char *to)
{
    // MOVEFILE_WRITE_THROUGH returns once the rename is on the disk, as the
    // sync of the directory does on Linux.
    std::wstring from_path, to_path;
    const int err = rename_paths(from, to, from_path, to_path);
    if (err < 0)
        return err;
    const DWORD flags = MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH;
    return MoveFileExW(from_path.c_str(), to_path.c_str(), flags) ? 0 : win32::last_errno();
}

int rename_new(const char *from, const char *to)
{
    // Without MOVEFILE_REPLACE_EXISTING the rename fails on an existing to.
    std::wstring from_path, to_path;
    const int err = rename_paths(from, to, from_path, to_path);
    if (err < 0)
        return err;
    return MoveFileExW(from_path.c_str(), to_path.c_str(), 0) ? 0 : win32::last_errno();
}

int make_dir(const char *path)
{
    win32::Target target;
    std::wstring wide;
    const int err = win32::target_of(path, target, wide);
    if (err < 0)
        return err;
    if (target.kind != win32::Kind::Disk)
        return -EEXIST;
    if (CreateDirectoryW(wide.c_str(), nullptr))
        return 0;
    const int made = win32::last_errno();
    if (made == -EEXIST && is_directory(wide))
        return 1;
    return made;
}

} // namespace filesys
