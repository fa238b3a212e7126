// scratch_tree.h - the tests' own directory trees under names of any length:
// the \\?\ form of a path, and a tree removed with all it holds, read-only
// files too.
#pragma once

#include <windows.h>

#include <string>

// The \\?\ form, so that the tests themselves reach paths of any length.
inline std::wstring long_form(const std::wstring &path)
{
    return path.compare(0, 4, L"\\\\?\\") == 0 ? path : L"\\\\?\\" + path;
}

inline void remove_tree(const std::wstring &dir)
{
    WIN32_FIND_DATAW found{};
    const HANDLE h = FindFirstFileW(long_form(dir + L"\\*").c_str(), &found);
    for (bool more = h != INVALID_HANDLE_VALUE; more; more = FindNextFileW(h, &found)) {
        const std::wstring name = found.cFileName, path = long_form(dir + L"\\" + name);
        if (name == L"." || name == L"..")
            continue;
        if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
            remove_tree(path);
            continue;
        }
        SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileW(path.c_str());
    }
    if (h != INVALID_HANDLE_VALUE)
        FindClose(h);
    RemoveDirectoryW(long_form(dir).c_str());
}
