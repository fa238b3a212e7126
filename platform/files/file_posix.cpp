// POSIX back end of the file services.
#include "file_backend.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <string>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace filesys {

namespace {

int open_retrying(const char *name, int flags, mode_t mode)
{
    int fd;
    do {
        fd = ::open(name, flags, mode);
    } while (fd < 0 && errno == EINTR);
    return fd >= 0 ? fd : -errno;
}

} // namespace

int open(const char *name, Access access, Existing existing)
{
    int flags = O_CLOEXEC;
    switch (access) {
    case ReadWrite: flags |= O_RDWR; break;
    case ReadOnly: flags |= O_RDONLY; break;
    case WriteOnly: flags |= O_WRONLY; break;
    }
    if (access != ReadOnly) {
        switch (existing) {
        case Truncate: flags |= O_CREAT | O_TRUNC; break;
        case Append: flags |= O_CREAT | O_APPEND; break;
        case Keep: break;
        }
    }
    return open_retrying(name, flags, 0666);
}

int open_regular(const char *name)
{
    // Looked at before it is opened: opening a named pipe waits for a writer,
    // and opening a terminal can reset the instrument behind it.
    struct stat st;
    if (::stat(name, &st) != 0)
        return -errno;
    if (!S_ISREG(st.st_mode))
        return NOT_REGULAR;
    const int fd = open_retrying(name, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0);
    if (fd < 0)
        return fd;
    // The name may have been given to something else meanwhile.
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return NOT_REGULAR;
    }
    return fd;
}

int read_regular(const char *name, std::size_t limit, std::string &text)
{
    text.clear();
    const int fd = open_regular(name);
    if (fd < 0)
        return fd;
    // One byte beyond the limit tells a file that is too large, whatever
    // its recorded size (files of /proc record none).
    char buffer[4096];
    int result = 0;
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            result = -errno;
        else if (text.size() + static_cast<std::size_t>(n) > limit)
            result = TOO_LARGE;
        if (n <= 0 || result != 0)
            break;
        text.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(fd);
    if (result != 0)
        text.clear();
    return result;
}

int create_new(const char *name, int mode)
{
    // O_EXCL makes the open fail on any existing name, a link included, so
    // nothing is ever written through a link someone put in the way.
    const int flags = O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC;
    const mode_t bits = mode >= 0 ? static_cast<mode_t>(mode) : 0666;
    int fd = open_retrying(name, flags, bits);
    if (fd == -EEXIST) {
        if (::unlink(name) != 0)
            return -errno;
        fd = open_retrying(name, flags, bits);
    }
    // The umask narrowed the bits asked for; the old file's are wanted.
    if (fd >= 0 && mode >= 0 && ::fchmod(fd, bits) != 0) {
        const int err = -errno;
        ::close(fd);
        ::unlink(name);
        return err;
    }
    return fd;
}

int permissions(const char *name)
{
    struct stat st;
    if (::stat(name, &st) != 0 || !S_ISREG(st.st_mode))
        return -1;
    return static_cast<int>(st.st_mode & 0777);
}

std::size_t write_all(int fd, const char *buffer, std::size_t count, int &error)
{
    std::size_t done = 0;
    error = 0;
    while (done < count) {
        ssize_t n = ::write(fd, buffer + done, count - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            error = n < 0 ? -errno : -EIO;
            break;
        }
        done += static_cast<std::size_t>(n);
    }
    return done;
}

int close(int fd)
{
    // close() is not retried on EINTR: on Linux the descriptor is gone anyway.
    return ::close(fd) == 0 ? 0 : -errno;
}

long long length(int fd)
{
    struct stat st {};
    return ::fstat(fd, &st) == 0 ? static_cast<long long>(st.st_size) : -errno;
}

int sync(int fd)
{
    return ::fsync(fd) == 0 ? 0 : -errno;
}

int replace(const char *from, const char *to)
{
    if (::rename(from, to) != 0)
        return -errno;
    // The rename is on the disk once the directory that holds it is.
    std::string dir = to;
    const std::size_t slash = dir.rfind('/');
    dir = slash == std::string::npos ? "." : slash == 0 ? "/" : dir.substr(0, slash);
    const int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return -errno;
    const int result = ::fsync(fd) == 0 ? 0 : -errno;
    ::close(fd);
    return result;
}

int rename_new(const char *from, const char *to)
{
    if (::renameat2(AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE) == 0)
        return 0;
    if (errno != EINVAL && errno != ENOSYS)
        return -errno;
    // A file system without the flag: a second link, then the first goes.
    if (::link(from, to) != 0)
        return -errno;
    return ::unlink(from) == 0 ? 0 : -errno;
}

int current_dir(std::string &dir)
{
    char buffer[PATH_MAX];
    if (::getcwd(buffer, sizeof buffer) == nullptr)
        return -errno;
    dir = buffer;
    return 0;
}

int change_dir(const char *path)
{
    return ::chdir(path) == 0 ? 0 : -errno;
}

int make_dir(const char *path)
{
    if (::mkdir(path, 0777) == 0)
        return 0;
    const int err = errno;
    struct stat st;
    if (err == EEXIST && ::stat(path, &st) == 0 && S_ISDIR(st.st_mode))
        return 1;
    return -err;
}

const char *error_text(int code)
{
    switch (code) {
    case NOT_REGULAR: return "not a regular file";
    case TOO_LARGE: return "too large";
    default: return std::strerror(-code);
    }
}

} // namespace filesys
