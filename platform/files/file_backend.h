// file_backend.h - the operating system's files and directories.
//
// The one place where the engine touches the file system; the rest of the
// engine keeps handles and error reporting. file_posix.cpp provides these
// functions over POSIX, file_win32*.cpp over Win32. vornacq4-when opens the
// files it reads here too (engine_parts), so both refuse the same names.
#pragma once

#include <cstddef>
#include <string>

namespace filesys {

enum Access { ReadWrite, ReadOnly, WriteOnly };
enum Existing { Truncate, Append, Keep };

// Returns a descriptor (>= 0) or -errno.
int open(const char *name, Access access, Existing existing);

// Refusals of the readers below, beside the -errno codes.
enum { NOT_REGULAR = -100000, TOO_LARGE = -100001 };

// Opens an existing regular file for reading without ever waiting on it: a
// named pipe, a device, a directory or a socket of that name (or a link to
// one) is not opened at all. Returns a descriptor, -errno or NOT_REGULAR.
int open_regular(const char *name);
// Reads the whole of a regular file of at most limit bytes into text.
// Returns 0, -errno, NOT_REGULAR or TOO_LARGE.
int read_regular(const char *name, std::size_t limit, std::string &text);
// Creates name afresh for writing, never through a link of that name and
// never into a file that exists: a leftover that is no directory is removed
// first (a link goes, what it points to stays). mode: the permission bits, or
// -1 for 0666 less the umask. Returns a descriptor or -errno.
int create_new(const char *name, int mode);
// The permission bits of name when it is a regular file, else -1.
int permissions(const char *name);
// Writes all count bytes, resuming after partial writes and interruptions.
// Returns the number written; error is 0, or -errno when it stopped short.
std::size_t write_all(int fd, const char *buffer, std::size_t count, int &error);
int close(int fd);
// The file's length in bytes, or -errno.
long long length(int fd);
// Waits until what was written to fd is on the disk; 0, or -errno.
int sync(int fd);
// Renames from to to, replacing it, and syncs the directory; 0, or -errno.
int replace(const char *from, const char *to);
// Renames from to to only when nothing is called to yet; 0, or -errno
// (-EEXIST when something is).
int rename_new(const char *from, const char *to);

// 0, or -errno.
int current_dir(std::string &dir);
int change_dir(const char *path);
// 0 created, 1 a directory of that name exists, -errno otherwise.
int make_dir(const char *path);

// The text of a -errno code, NOT_REGULAR or TOO_LARGE.
const char *error_text(int code);

} // namespace filesys
