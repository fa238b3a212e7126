// files.h over POSIX: descriptors, pread, realpath and dirent.
#include "files.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace when {

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

std::string full_path(const std::string &path)
{
    char resolved[PATH_MAX];
    return realpath(path.c_str(), resolved) != nullptr ? resolved : path;
}

const char *separators()
{
    return "/";
}

std::string join_path(const std::string &dir, const std::string &name)
{
    return dir + "/" + name;
}

bool is_directory(const std::string &path)
{
    struct stat st {};
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool regular_files_in(const std::string &dir, std::vector<std::string> &names)
{
    DIR *d = opendir(dir.c_str());
    if (d == nullptr)
        return false;
    while (const dirent *e = readdir(d)) {
        const std::string name = e->d_name;
        struct stat st {};
        if (stat(join_path(dir, name).c_str(), &st) == 0 && S_ISREG(st.st_mode))
            names.push_back(name);
    }
    closedir(d);
    return true;
}

std::FILE *open_output(const std::string &path)
{
    return std::fopen(path.c_str(), "wb");
}

} // namespace when
