// files.h - opening what vornacq4-when reads so that nothing standing under a
// name can hurt it: a data file and its arrival-time index are opened
// non-blocking, never as a controlling terminal, and read only when they are
// regular files, in pieces of a bounded size. A named pipe, a directory or a
// link to a device is refused with a message, never waited on or slurped.
//
// Paths are UTF-8 on every system. The first group of functions is all that
// touches the system: the engine's file back end for the first two,
// files_posix.cpp or files_win32.cpp, as CMake chooses, for the rest.
// Files the logger is still writing are read alongside it (on Windows they
// are opened sharing read, write and delete).
#pragma once

#include <cstdio>
#include <string>
#include <vector>

namespace when {

// Opens `path` for reading when it is a regular file, looked at before it is
// opened, as the logger opens what it reads (filesys::open_regular): on
// Linux links are followed, on Windows a link or a device's name is refused
// unopened. Returns the descriptor and its length in `length`; -1 with a
// message in `error` when it cannot be opened or is not a regular file.
int open_regular(const std::string &path, long long &length, std::string &error);
// Closes a descriptor that open_regular gave.
void close_file(int fd);

// Reads up to `count` bytes at `offset`, retrying when interrupted. Returns
// how many were read: fewer at the end of the file, 0 on an error.
long long read_at(int fd, long long offset, char *buffer, long long count);

// The absolute form of `path` (links resolved where the system resolves
// them in names), or `path` itself when it has none.
std::string full_path(const std::string &path);

// The characters that separate the names in a path.
const char *separators();

// `name` inside the directory `dir`, as the system writes it.
std::string join_path(const std::string &dir, const std::string &name);

// Whether `path` names a directory (links followed).
bool is_directory(const std::string &path);

// Adds the names of the regular files in `dir` (links followed) to `names`,
// in no particular order. False when the directory cannot be read.
bool regular_files_in(const std::string &dir, std::vector<std::string> &names);

// `path` made afresh for writing bytes as they are; null when it cannot be.
std::FILE *open_output(const std::string &path);

// The index's path for a data file's: the day directory's D becomes T.
// Empty when the data file is not in a day directory Dddd, or is named as
// an index set aside (name.stale-N), which no data file is.
std::string index_path(const std::string &dataPath);

// Whether a file name is that of an index set aside when its data file was
// made anew ("name.stale-N").
bool is_set_aside(const std::string &name);

// A data file and its index, both open. The index's length is taken before
// the data's: the logger writes a tick's data before its index, so every
// record within that length is for bytes the data file already held.
struct Recording {
    std::string path;
    int dataFd = -1;
    long long size = 0;
    int indexFd = -1;
    long long indexLength = 0;

    Recording() = default;
    Recording(const Recording &) = delete;
    Recording &operator=(const Recording &) = delete;
    ~Recording();
};

// Opens the data file `path` and its index. False, with a message in
// `error`, when either is missing, unreadable or not a regular file.
bool open_recording(const std::string &path, Recording &r, std::string &error);

} // namespace when
