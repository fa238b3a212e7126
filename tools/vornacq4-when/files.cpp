#include "files.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace when {

int open_regular(const std::string &path, long long &length, std::string &error)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        error = path + " cannot be read: " + std::strerror(errno);
        return -1;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        error = path + " is not a regular file";
        return -1;
    }
    length = static_cast<long long>(st.st_size);
    return fd;
}

long long read_at(int fd, long long offset, char *buffer, long long count)
{
    long long done = 0;
    while (done < count) {
        const ssize_t n = ::pread(fd, buffer + done, static_cast<std::size_t>(count - done), offset + done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        done += n;
    }
    return done;
}

bool is_set_aside(const std::string &name)
{
    const std::size_t at = name.rfind(".stale-");
    return at != std::string::npos && at + 7 < name.size() &&
           name.find_first_not_of("0123456789", at + 7) == std::string::npos;
}

std::string index_path(const std::string &given)
{
    char resolved[PATH_MAX];
    const std::string dataPath = realpath(given.c_str(), resolved) != nullptr ? resolved : given;
    const std::size_t slash = dataPath.rfind('/');
    if (slash == std::string::npos || slash == 0 || is_set_aside(dataPath.substr(slash + 1)))
        return std::string();
    const std::size_t day = dataPath.rfind('/', slash - 1);
    const std::size_t d = day == std::string::npos ? 0 : day + 1;
    if (dataPath.compare(d, 1, "D") != 0)
        return std::string();
    std::string path = dataPath;
    path[d] = 'T';
    return path;
}

Recording::~Recording()
{
    if (dataFd >= 0)
        ::close(dataFd);
    if (indexFd >= 0)
        ::close(indexFd);
}

bool open_recording(const std::string &path, Recording &r, std::string &error)
{
    r.path = path;
    const std::string index = index_path(path);
    if (index.empty()) {
        error = "no index for " + path + " (not a data file in a day directory Dddd)";
        return false;
    }
    r.indexFd = open_regular(index, r.indexLength, error);
    if (r.indexFd < 0) {
        error = "no index for " + path + ": " + error;
        return false;
    }
    r.dataFd = open_regular(path, r.size, error);
    return r.dataFd >= 0;
}

} // namespace when
