// file_backend.h - the operating system's files and directories.
//
// The one place where the engine touches the file system; the rest of the
// engine keeps handles and error reporting. A Windows back end would provide
// these functions over its own calls.
#pragma once

#include <cstddef>
#include <string>

namespace filesys {

enum Access { ReadWrite, ReadOnly, WriteOnly };
enum Existing { Truncate, Append, Keep };

// Returns a descriptor (>= 0) or -errno.
int open(const char *name, Access access, Existing existing);
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

// 0, or -errno.
int current_dir(std::string &dir);
int change_dir(const char *path);
// 0 created, 1 a directory of that name exists, -errno otherwise.
int make_dir(const char *path);

const char *error_text(int negErrno);

} // namespace filesys
