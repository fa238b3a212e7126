// What files.h says of data files and their indexes, on every system; the
// system's own calls are in files_posix.cpp and files_win32.cpp, and files
// are opened by the logger's own file back end.
#include "files.h"

#include "files/file_backend.h"

namespace when {

int open_regular(const std::string &path, long long &length, std::string &error)
{
    const int fd = filesys::open_regular(path.c_str());
    if (fd == filesys::NOT_REGULAR) {
        error = path + " is not a regular file";
        return -1;
    }
    if (fd < 0) {
        error = path + " cannot be read: " + filesys::error_text(fd);
        return -1;
    }
    length = filesys::length(fd);
    if (length < 0) {
        error = path + " cannot be read: " + filesys::error_text(static_cast<int>(length));
        filesys::close(fd);
        return -1;
    }
    return fd;
}

void close_file(int fd)
{
    filesys::close(fd);
}

bool is_set_aside(const std::string &name)
{
    const std::size_t at = name.rfind(".stale-");
    return at != std::string::npos && at + 7 < name.size() &&
           name.find_first_not_of("0123456789", at + 7) == std::string::npos;
}

std::string index_path(const std::string &given)
{
    const std::string dataPath = full_path(given);
    const std::size_t slash = dataPath.find_last_of(separators());
    if (slash == std::string::npos || slash == 0 || is_set_aside(dataPath.substr(slash + 1)))
        return std::string();
    const std::size_t day = dataPath.find_last_of(separators(), slash - 1);
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
        close_file(dataFd);
    if (indexFd >= 0)
        close_file(indexFd);
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
