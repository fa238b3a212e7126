// PLACEHOLDER on the skeleton branch: the Win32 file back end replaces it.
#include "file_backend.h"
#include <cerrno>
namespace filesys {
int open(const char *, Access, Existing) { return -ENOSYS; }
int open_regular(const char *) { return -ENOSYS; }
int read_regular(const char *, std::size_t, std::string &) { return -ENOSYS; }
int create_new(const char *, int) { return -ENOSYS; }
int permissions(const char *) { return -1; }
std::size_t write_all(int, const char *, std::size_t, int &error) { error = -ENOSYS; return 0; }
int close(int) { return -ENOSYS; }
long long length(int) { return -ENOSYS; }
int sync(int) { return -ENOSYS; }
int replace(const char *, const char *) { return -ENOSYS; }
int rename_new(const char *, const char *) { return -ENOSYS; }
int current_dir(std::string &) { return -ENOSYS; }
int change_dir(const char *) { return -ENOSYS; }
int make_dir(const char *) { return -ENOSYS; }
const char *error_text(int) { return "placeholder"; }
}
