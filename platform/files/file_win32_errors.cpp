// Win32 error codes and the -errno codes the file back end gives for them,
// and the texts of those codes (file_win32.h, file_backend.h).
#include "file_backend.h"
#include "file_win32.h"

#include <cerrno>
#include <cstring>
#include <windows.h>

namespace filesys {

namespace win32 {

// Microsoft's winerror.h has it; MinGW's lacks it.
constexpr unsigned long kErrorDiskQuotaExceeded = 1295;

int errno_of(unsigned long win32_error)
{
    switch (win32_error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_DRIVE:
    case ERROR_BAD_NETPATH:
    case ERROR_BAD_NET_NAME:
    case ERROR_BAD_PATHNAME:
        return -ENOENT;
    case ERROR_ACCESS_DENIED:
    case ERROR_INVALID_ACCESS:
    case ERROR_LOCK_VIOLATION:
    case ERROR_DELETE_PENDING:
    case ERROR_CURRENT_DIRECTORY:
        return -EACCES;
    // Another program holds the file without sharing it.
    case ERROR_SHARING_VIOLATION:
    case ERROR_BUSY:
    case ERROR_PIPE_BUSY:
        return -EBUSY;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
    case kErrorDiskQuotaExceeded: // no EDQUOT in this C library
        return -ENOSPC;
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
        return -EEXIST;
    case ERROR_DIRECTORY:
        return -ENOTDIR;
    case ERROR_DIR_NOT_EMPTY:
        return -ENOTEMPTY;
    case ERROR_FILENAME_EXCED_RANGE:
        return -ENAMETOOLONG;
    case ERROR_NO_UNICODE_TRANSLATION:
        return -EILSEQ;
    case ERROR_INVALID_NAME:
    case ERROR_INVALID_PARAMETER:
    case ERROR_INVALID_FUNCTION:
    case ERROR_NEGATIVE_SEEK:
        return -EINVAL;
    case ERROR_INVALID_HANDLE:
        return -EBADF;
    case ERROR_TOO_MANY_OPEN_FILES:
        return -EMFILE;
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY:
        return -ENOMEM;
    case ERROR_NOT_SAME_DEVICE:
        return -EXDEV;
    case ERROR_WRITE_PROTECT:
        return -EROFS;
    case ERROR_BROKEN_PIPE:
    case ERROR_NO_DATA:
        return -EPIPE;
    case ERROR_NOT_READY:
    case ERROR_DEV_NOT_EXIST:
        return -ENODEV;
    case ERROR_CANT_RESOLVE_FILENAME:
        return -ELOOP;
    case ERROR_NOT_SUPPORTED:
        return -ENOTSUP;
    default:
        return -EIO;
    }
}

} // namespace win32

const char *error_text(int code)
{
    // Linux's words for the codes this back end gives, so that a report
    // reads the same on both systems; this C library words some otherwise.
    switch (code) {
    case NOT_REGULAR: return "not a regular file";
    case TOO_LARGE: return "too large";
    case -ENOENT: return "No such file or directory";
    case -EACCES: return "Permission denied";
    case -EBUSY: return "Device or resource busy";
    case -ENOSPC: return "No space left on device";
    case -EEXIST: return "File exists";
    case -ENOTDIR: return "Not a directory";
    case -EISDIR: return "Is a directory";
    case -ENOTEMPTY: return "Directory not empty";
    case -ENAMETOOLONG: return "File name too long";
    case -EILSEQ: return "Invalid or incomplete multibyte or wide character";
    case -EINVAL: return "Invalid argument";
    case -EBADF: return "Bad file descriptor";
    case -EMFILE: return "Too many open files";
    case -ENOMEM: return "Cannot allocate memory";
    case -EXDEV: return "Invalid cross-device link";
    case -EROFS: return "Read-only file system";
    case -EPIPE: return "Broken pipe";
    case -ENODEV: return "No such device";
    case -ELOOP: return "Too many levels of symbolic links";
    case -ENOTSUP: return "Operation not supported";
    case -EIO: return "Input/output error";
    default: return std::strerror(-code);
    }
}

} // namespace filesys
