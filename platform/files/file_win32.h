// file_win32.h - how the Win32 file back end reads names and errors; what its
// tests check without a disk, and what its files share.
//
// The program names files as it does on Linux: relative to its current
// directory, with '/' (or '\') between components, "." and ".." among them.
// Windows reaches a name longer than MAX_PATH (260) only in the "\\?\" form,
// which it takes verbatim: no '/' turned into '\', no "." or ".." resolved,
// no current directory applied. So the back end keeps the program's current
// directory itself and turns every name into a whole "\\?\" path here,
// before any call of the system sees it.
#pragma once

#include <string>

namespace filesys {
namespace win32 {

enum class Kind {
    Disk,    // a file or directory on a disk (a drive or a share)
    Device,  // a device or a pipe: never a regular file
    Invalid, // no name at all, or a share without its name
};

struct Target {
    Kind kind;
    std::string path; // UTF-8; "" for Invalid
};

// What name stands for, seen from the directory cwd (absolute, in the form
// plain() gives: "C:\data" or "\\server\share\data"):
// - Disk: path is the "\\?\C:\..." or "\\?\UNC\server\share\..." form, with
//   '/' read as '\', "." and ".." applied (".." stops at the root), and what
//   Win32 trims from a name trimmed (a trailing '.' from a directory
//   component, trailing dots and spaces from the last). A name already in
//   the "\\?\" form is taken as it is, as Windows takes it.
// - Device: "\\.\pipe\x", "\\.\COM7", "\\server\pipe\x", and the reserved
//   names (NUL, CON, PRN, AUX, COM1..COM9, LPT1..LPT9, CONIN$, CONOUT$,
//   with or without an extension) as the last component in any directory,
//   which Win32 takes for the device. path is the device's own name.
// - Invalid: "", or "\\server" without a share.
Target resolve(const std::string &cwd, const std::string &name);

// A Disk path as current_dir gives it: "\\?\" dropped ("C:\data",
// "\\server\share\data"), no trailing '\' but after a drive ("C:\").
std::string plain(const std::string &disk_path);

// The -errno code of a Win32 error code (GetLastError()); -EIO for one that
// no errno describes.
int errno_of(unsigned long win32_error);
// errno_of(GetLastError()).
int last_errno();

// What the back end's files share (file_win32_dir.cpp): what name stands for
// from the program's current directory, and its UTF-16 path. 0, or -errno:
// -EILSEQ for a name that is no UTF-8, -ENOENT for an Invalid one.
int target_of(const char *name, Target &target, std::wstring &path);
// What Windows knows of name on disk, looked up without opening it: 0 with
// its attributes (GetFileAttributesW's), NOT_REGULAR for a device or a pipe
// (told by the name alone), or -errno.
int disk_attributes(const char *name, Target &target, std::wstring &path, unsigned long &attributes);

} // namespace win32
} // namespace filesys
