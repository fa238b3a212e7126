// POSIX back end of the file services.
#include "file_backend.h"

#include <cerrno>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace filesys {

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
    int fd;
    do {
        fd = ::open(name, flags, 0666);
    } while (fd < 0 && errno == EINTR);
    return fd >= 0 ? fd : -errno;
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

const char *error_text(int negErrno)
{
    return std::strerror(-negErrno);
}

} // namespace filesys
