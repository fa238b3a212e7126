// Names on Windows: the program's names turned into whole "\\?\" paths
// (file_win32.h). Pure string work: nothing here asks the system.
#include "file_win32.h"

#include <cstddef>
#include <string>
#include <vector>

namespace filesys {
namespace win32 {

namespace {

using Names = std::vector<std::string>;

// An absolute name cut in two: the root it hangs from ("C:" or
// "UNC\server\share") and the components below it.
struct Rooted {
    std::string root;
    Names names;
};

bool is_separator(char c)
{
    return c == '/' || c == '\\';
}

bool is_letter(char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

char upper(char c)
{
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

bool same_text_ignoring_case(const std::string &a, const std::string &b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (upper(a[i]) != upper(b[i]))
            return false;
    }
    return true;
}

bool starts_with(const std::string &s, const char *prefix)
{
    return s.compare(0, std::char_traits<char>::length(prefix), prefix) == 0;
}

// "C:" followed by a separator, at from.
bool drive_rooted(const std::string &s, std::size_t from)
{
    return s.size() > from + 2 && is_letter(s[from]) && s[from + 1] == ':' && is_separator(s[from + 2]);
}

// The components of s from position from, between separators of either kind.
Names components(const std::string &s, std::size_t from)
{
    Names names;
    std::string part;
    for (std::size_t i = from; i <= s.size(); ++i) {
        if (i < s.size() && !is_separator(s[i])) {
            part += s[i];
            continue;
        }
        if (!part.empty())
            names.push_back(part);
        part.clear();
    }
    return names;
}

// What Win32 trims from a component: one trailing '.' of a directory's,
// every trailing '.' and ' ' of the last one. A component of dots alone is
// left to apply().
std::string trimmed(std::string part, bool last)
{
    if (part.find_first_not_of('.') == std::string::npos)
        return part;
    if (!last) {
        if (part.back() == '.')
            part.pop_back();
        return part;
    }
    part.erase(part.find_last_not_of(". ") + 1);
    return part;
}

// Adds the components more below names, applying "." and ".."; ".." at the root stays there.
void apply(Names &names, const Names &more, bool ends_in_separator)
{
    for (std::size_t i = 0; i < more.size(); ++i) {
        const std::string part = trimmed(more[i], i + 1 == more.size() && !ends_in_separator);
        if (part.empty() || part == ".")
            continue;
        if (part == "..") {
            if (!names.empty())
                names.pop_back();
            continue;
        }
        names.push_back(part);
    }
}

// "\\server\share\..." (either separator): false when the share is missing.
bool split_unc(const std::string &name, Rooted &out)
{
    const Names names = components(name, 2);
    if (names.size() < 2)
        return false;
    out.root = "UNC\\" + names[0] + "\\" + names[1];
    out.names.assign(names.begin() + 2, names.end());
    return true;
}

// The root and components of cwd, which is absolute.
Rooted split_cwd(const std::string &cwd)
{
    Rooted out;
    if (drive_rooted(cwd, 0)) {
        out.root = cwd.substr(0, 2);
        out.names = components(cwd, 3);
    } else if (!split_unc(cwd, out)) {
        out.root = "UNC\\?\\?"; // unreachable for a cwd this back end recorded
    }
    return out;
}

// The device that the last component names when it is a reserved name,
// or "" when it is none. The name counts up to a '.' or ':', less trailing
// spaces, in any case: "nul", "COM1.txt" and "con :" are devices.
std::string reserved_device(const std::string &last)
{
    static const char *const names[] = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$",
                                        "COM1", "COM2", "COM3", "COM4", "COM5", "COM6", "COM7", "COM8", "COM9",
                                        "LPT1", "LPT2", "LPT3", "LPT4", "LPT5", "LPT6", "LPT7", "LPT8", "LPT9"};
    std::string base = last.substr(0, last.find_first_of(".:"));
    base.erase(base.find_last_not_of(' ') + 1);
    for (const char *name : names) {
        if (same_text_ignoring_case(base, name))
            return std::string("\\\\.\\") + name;
    }
    return "";
}

// A name in the device namespace "\\.\x" or the verbatim one "\\?\x".
Target namespaced(const std::string &name)
{
    const std::string rest = name.substr(4);
    if (name[2] == '?' && name.compare(0, 4, "\\\\?\\") == 0 &&
        (drive_rooted(rest, 0) || same_text_ignoring_case(rest.substr(0, 4), "UNC\\")))
        return {Kind::Disk, name};
    return {Kind::Device, "\\\\" + std::string(1, name[2]) + "\\" + rest};
}

bool pipe_share(const std::string &name)
{
    const Names names = components(name, 2);
    return names.size() >= 2 &&
           (same_text_ignoring_case(names[1], "pipe") || same_text_ignoring_case(names[1], "mailslot"));
}

// Where name starts from, and what is left of it to apply there. false for
// a name with no root to start from.
bool start_of(const std::string &cwd, const std::string &name, Rooted &base, Names &rest)
{
    if (is_separator(name[0]) && name.size() > 1 && is_separator(name[1])) {
        if (!split_unc(name, base))
            return false;
        rest = base.names;
        base.names.clear();
        return true;
    }
    if (drive_rooted(name, 0)) {
        base.root = name.substr(0, 2);
        rest = components(name, 3);
        return true;
    }
    const Rooted current = split_cwd(cwd);
    const bool drive_relative = name.size() >= 2 && is_letter(name[0]) && name[1] == ':';
    if (drive_relative) {
        // "D:x": from the current directory when it is on D:, else from D:'s root.
        base.root = name.substr(0, 2);
        if (same_text_ignoring_case(base.root, current.root))
            base.names = current.names;
        rest = components(name, 2);
        return true;
    }
    base.root = current.root;
    if (!is_separator(name[0]))
        base.names = current.names;
    rest = components(name, 0);
    return true;
}

std::string joined(const Rooted &at)
{
    std::string path = "\\\\?\\" + at.root + "\\";
    for (std::size_t i = 0; i < at.names.size(); ++i)
        path += (i > 0 ? "\\" : "") + at.names[i];
    return path;
}

} // namespace

Target resolve(const std::string &cwd, const std::string &name)
{
    if (name.empty())
        return {Kind::Invalid, ""};
    const bool namespaced_prefix = name.size() >= 4 && is_separator(name[0]) && is_separator(name[1]) &&
                                   (name[2] == '.' || name[2] == '?') && is_separator(name[3]);
    if (starts_with(name, "\\\\?\\") || (namespaced_prefix && !drive_rooted(name, 4)))
        return namespaced(name);
    const std::string local = namespaced_prefix ? name.substr(4) : name; // "\\.\C:\x" is "C:\x"
    if (pipe_share(local) && is_separator(local[0]) && is_separator(local[1]))
        return {Kind::Device, "\\\\" + local.substr(2)};
    Rooted at;
    Names rest;
    if (!start_of(cwd, local, at, rest))
        return {Kind::Invalid, ""};
    const bool ends_in_separator = is_separator(local.back());
    if (!ends_in_separator && !rest.empty()) {
        const std::string device = reserved_device(rest.back());
        if (!device.empty())
            return {Kind::Device, device};
    }
    apply(at.names, rest, ends_in_separator);
    return {Kind::Disk, joined(at)};
}

std::string plain(const std::string &disk_path)
{
    std::string path = disk_path;
    if (same_text_ignoring_case(path.substr(0, 8), "\\\\?\\UNC\\"))
        path = "\\\\" + path.substr(8);
    else if (starts_with(path, "\\\\?\\"))
        path = path.substr(4);
    const bool drive_root = path.size() == 3 && path[1] == ':';
    if (!drive_root && path.size() > 1 && path.back() == '\\')
        path.pop_back();
    return path;
}

} // namespace win32
} // namespace filesys
