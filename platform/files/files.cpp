// Files and directories: handles over the file back end.
#include "engine.h"

#include "file_backend.h"
#include "base/liberr.h"
#include "net/logger_files.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>

// GetDir must hold any directory the program can be started from.
static_assert(PATH_LEN >= PATH_MAX, "a directory buffer holds the longest path");

namespace {

// Eighteen data files are open at most at once, and a rollover closes each
// before it opens the next; the rest is headroom for tools and tests.
constexpr int kMaxFiles = 64;

std::mutex g_mutex;
int g_fd[kMaxFiles + 1]; // by handle; 0 is never a handle
std::string g_name[kMaxFiles + 1];
bool g_used[kMaxFiles + 1];
// Why the latest open, write, rename or directory failed, for RT_FileErrorText.
thread_local std::string g_lastError;

// Notes the reason of a failure, then reports it as every failure is.
int file_fail(const char *operation, const char *subject, const char *reason, const char *text = nullptr)
{
    g_lastError = reason;
    return lib_fail(operation, subject, -1, text != nullptr ? text : reason);
}

int add_handle(int fd, const char *name)
{
    std::lock_guard<std::mutex> lock(g_mutex);
    for (int h = 1; h <= kMaxFiles; ++h) {
        if (g_used[h])
            continue;
        g_used[h] = true;
        g_fd[h] = fd;
        g_name[h] = name;
        return h;
    }
    return -1;
}

// The descriptor of handle, or -1.
int fd_of(int handle)
{
    std::lock_guard<std::mutex> lock(g_mutex);
    return handle >= 1 && handle <= kMaxFiles && g_used[handle] ? g_fd[handle] : -1;
}

// What a report names: the file's name, or the handle that names none. Only
// failures need it, so a write does not copy the name.
std::string subject_of(int handle)
{
    std::lock_guard<std::mutex> lock(g_mutex);
    if (handle >= 1 && handle <= kMaxFiles && g_used[handle])
        return g_name[handle];
    return "handle " + std::to_string(handle);
}

// A stream over fd, which it takes over; nullptr when none can be made.
std::FILE *stream_of(int fd, const char *mode, const char *name)
{
    std::FILE *file = fdopen(fd, mode);
    if (file == nullptr) {
        lib_fail("OpenFile", name, -1, std::strerror(errno));
        filesys::close(fd);
    }
    return file;
}

} // namespace

int RT_OpenFile(const char *name, int mode, int action, int type)
{
    const char *subject = name != nullptr ? name : "";
    if (name == nullptr || mode < 0 || mode > 2 || action < 0 || action > 2 || type < 0 || type > 1)
        return lib_fail("OpenFile", subject, -1, "invalid argument");
    const filesys::Access access = mode == 0 ? filesys::ReadWrite
                                 : mode == 1 ? filesys::ReadOnly
                                             : filesys::WriteOnly;
    const filesys::Existing existing = action == 0 ? filesys::Truncate
                                     : action == 1 ? filesys::Append
                                                   : filesys::Keep;
    const int fd = filesys::open(name, access, existing);
    if (fd < 0)
        return file_fail("OpenFile", subject, filesys::error_text(fd));
    const int handle = add_handle(fd, name);
    if (handle < 0) {
        filesys::close(fd);
        return file_fail("OpenFile", subject, "too many open files");
    }
    if (access == filesys::WriteOnly)
        net::note_opened(handle, name); // the uplink follows the logger's data files
    lib_ok(subject);
    return handle;
}

int RT_WriteFile(int handle, const char *buffer, int count)
{
    const int fd = fd_of(handle);
    if (fd < 0)
        return lib_fail("WriteFile", subject_of(handle).c_str(), -1, "not an open file");
    if (buffer == nullptr || count < 0)
        return lib_fail("WriteFile", subject_of(handle).c_str(), -1, "invalid argument");
    int error = 0;
    const std::size_t n = filesys::write_all(fd, buffer, static_cast<std::size_t>(count), error);
    if (error == 0)
        return count;
    // What did reach the file is counted, so no caller writes it twice.
    const std::string text = std::string(filesys::error_text(error)) + " after " + std::to_string(n) + " bytes";
    file_fail("WriteFile", subject_of(handle).c_str(), filesys::error_text(error), text.c_str());
    return n > 0 ? static_cast<int>(n) : -1;
}

int RT_CloseFile(int handle)
{
    int fd;
    std::string subject;
    {
        std::lock_guard<std::mutex> lock(g_mutex);
        if (handle < 1 || handle > kMaxFiles || !g_used[handle])
            return lib_fail("CloseFile", ("handle " + std::to_string(handle)).c_str(), -1,
                            "not an open file");
        fd = g_fd[handle];
        subject = g_name[handle];
        g_used[handle] = false;
    }
    net::note_closed(handle);
    const int result = filesys::close(fd);
    if (result < 0)
        return lib_fail("CloseFile", subject.c_str(), -1, filesys::error_text(result));
    return 0;
}

long long RT_FileLength(int handle)
{
    const int fd = fd_of(handle);
    if (fd < 0)
        return lib_fail("FileLength", subject_of(handle).c_str(), -1, "not an open file");
    const long long length = filesys::length(fd);
    if (length < 0)
        return lib_fail("FileLength", subject_of(handle).c_str(), -1, filesys::error_text(static_cast<int>(length)));
    return length;
}

std::FILE *RT_OpenRegularFile(const char *name)
{
    if (name == nullptr)
        return nullptr;
    const int fd = filesys::open_regular(name);
    if (fd == filesys::NOT_REGULAR) {
        std::fprintf(stderr, "vornacq4: %s: not a regular file; not read\n", name);
        return nullptr;
    }
    if (fd < 0) {
        lib_fail("OpenFile", name, -1, filesys::error_text(fd));
        return nullptr;
    }
    return stream_of(fd, "rb", name);
}

std::FILE *RT_CreateReplacement(const char *name, const char *replaces)
{
    if (name == nullptr || replaces == nullptr)
        return nullptr;
    const int fd = filesys::create_new(name, filesys::permissions(replaces));
    if (fd < 0) {
        lib_fail("OpenFile", name, -1, filesys::error_text(fd));
        return nullptr;
    }
    return stream_of(fd, "wb", name);
}

int RT_SyncFile(std::FILE *file)
{
    if (file == nullptr)
        return lib_fail("SyncFile", "stream", -1, "invalid argument");
    if (std::fflush(file) != 0)
        return lib_fail("SyncFile", "stream", -1, std::strerror(errno));
    const int result = filesys::sync(fileno(file));
    if (result < 0)
        return lib_fail("SyncFile", "stream", -1, filesys::error_text(result));
    return 0;
}

int RT_ReplaceFile(const char *from, const char *to)
{
    if (from == nullptr || to == nullptr)
        return lib_fail("ReplaceFile", "", -1, "invalid argument");
    const int result = filesys::replace(from, to);
    if (result < 0)
        return lib_fail("ReplaceFile", to, -1, filesys::error_text(result));
    return 0;
}

int GetDirInto(char *dir, std::size_t size)
{
    if (dir == nullptr || size == 0)
        return -1;
    dir[0] = '\0';
    std::string cwd;
    const int result = filesys::current_dir(cwd);
    if (result < 0)
        return lib_fail("GetDir", ".", -1, filesys::error_text(result));
    if (cwd.size() >= size)
        return lib_fail("GetDir", cwd.c_str(), -1, "path longer than the buffer");
    std::memcpy(dir, cwd.c_str(), cwd.size() + 1);
    return 0;
}

int SetDir(const char *path)
{
    const int result = filesys::change_dir(path != nullptr ? path : "");
    if (result < 0)
        return lib_fail("SetDir", path != nullptr ? path : "", -1, filesys::error_text(result));
    return 0;
}

int MakeDir(const char *path)
{
    const int result = filesys::make_dir(path != nullptr ? path : "");
    if (result == 0)
        return 0;
    if (result == 1)
        return MAKEDIR_EXISTS;
    return file_fail("MakeDir", path != nullptr ? path : "", filesys::error_text(result));
}

int RT_RenameFile(const char *from, const char *to)
{
    if (from == nullptr || to == nullptr)
        return file_fail("RenameFile", "", "invalid argument");
    const int result = filesys::rename_new(from, to);
    if (result == -EEXIST)
        return RENAME_EXISTS;
    if (result < 0)
        return file_fail("RenameFile", from, filesys::error_text(result));
    return 0;
}

const char *RT_FileErrorText(void)
{
    return g_lastError.c_str();
}
