// The package's judgement of the folder it installs into, apart from the
// Win32 calls that resolve a path (BrimSetCheck.dll's CheckInstallDir,
// InstallCheck.cpp). No Windows headers: tested natively.
//
// The installed programs run with administrator rights, so they may go only
// where only administrators can change them: the Program Files folder of the
// package's bitness, or a folder inside it. The text an administrator gives
// as INSTALLDIR can name another folder in many spellings ("..", short
// names, "\\?\" prefixes), so the folder is judged on its resolved path, one
// path component at a time, and anything this cannot be sure of counts as
// outside.
#pragma once

#include <cstddef>
#include <string>

#include "CommandLine.h"

// A path as the system's path functions read it: '/' as '\', and without a
// "\\?\" prefix, which would keep GetFullPathNameW from resolving "." and
// ".." ("\\?\C:\x" becomes "C:\x", "\\?\UNC\server\share" becomes
// "\\server\share").
std::wstring PlainPathText(const std::wstring& path);

// The length of a path's root: 3 for a drive's ("C:\"), the length of
// "\\server\share" for a share's, 0 for any path that is not fully
// qualified (relative to a current folder or drive, or a device path).
size_t PathRootLength(const std::wstring& path);

// The folder that holds the last component of a fully qualified path,
// without separators after it unless it is a drive's root ("C:\a\b\" gives
// "C:\a", "C:\a" gives "C:\"); empty for a root or a path that is not fully
// qualified.
std::wstring ParentPath(const std::wstring& path);

// Whether the resolved, fully qualified `path` is `folder` or lies inside
// it, compared by whole components, in either case (`upper` upper-cases a
// character as the system does): "C:\Program FilesX" is outside
// "C:\Program Files". Repeated and trailing separators do not count. A
// component the system would read otherwise than as a plain name ("." and
// "..", one that ends in a dot or a blank, wildcards, a stream's colon,
// control characters) makes the answer false.
bool IsInsideFolder(const std::wstring& path, const std::wstring& folder, CharUpperFunction upper);
