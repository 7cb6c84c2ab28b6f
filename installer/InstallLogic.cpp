#include "InstallLogic.h"

#include <algorithm>
#include <cwchar>
#include <vector>

namespace {

const wchar_t SEPARATOR = L'\\';

bool IsAsciiLetter(wchar_t c)
{
    return (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z');
}

// Whether `text` starts with `prefix`, ASCII letters in either case.
bool StartsWithAscii(const std::wstring& text, const wchar_t* prefix)
{
    size_t i = 0;
    for (; prefix[i] != L'\0'; ++i) {
        if (i >= text.size())
            return false;
        wchar_t a = text[i], b = prefix[i];
        if (IsAsciiLetter(a) && IsAsciiLetter(b)) {
            a = static_cast<wchar_t>(a | 0x20);
            b = static_cast<wchar_t>(b | 0x20);
        }
        if (a != b)
            return false;
    }
    return true;
}

bool SameText(const std::wstring& a, const std::wstring& b, CharUpperFunction upper)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (upper(a[i]) != upper(b[i]))
            return false;
    }
    return true;
}

// A name the system takes as it is written. Windows drops a last component's
// trailing dots and blanks but keeps them elsewhere, and a colon names a
// stream: such a name could mean one folder here and another to the
// installer.
bool IsPlainName(const std::wstring& name)
{
    if (name.empty() || name == L"." || name == L".." || name.back() == L'.' || name.back() == L' ')
        return false;
    for (wchar_t c : name) {
        if (c < 0x20 || std::wcschr(L"<>:\"/|?*", c) != nullptr)
            return false;
    }
    return true;
}

// The components after the root, without the empty ones that repeated and
// trailing separators leave.
std::vector<std::wstring> ComponentsAfterRoot(const std::wstring& path, size_t root)
{
    std::vector<std::wstring> components;
    size_t start = root;
    while (start < path.size()) {
        const size_t end = std::min(path.find(SEPARATOR, start), path.size());
        if (end > start)
            components.push_back(path.substr(start, end - start));
        start = end + 1;
    }
    return components;
}

}  // namespace

std::wstring PlainPathText(const std::wstring& path)
{
    std::wstring plain = path;
    std::replace(plain.begin(), plain.end(), L'/', SEPARATOR);
    if (!StartsWithAscii(plain, L"\\\\?\\"))
        return plain;
    plain.erase(0, 4);
    if (StartsWithAscii(plain, L"UNC\\"))
        plain.replace(0, 3, L"\\");
    return plain;
}

size_t PathRootLength(const std::wstring& path)
{
    if (path.size() >= 3 && IsAsciiLetter(path[0]) && path[1] == L':' && path[2] == SEPARATOR)
        return 3;
    if (!StartsWithAscii(path, L"\\\\"))
        return 0;
    const size_t serverEnd = path.find(SEPARATOR, 2);
    if (serverEnd == std::wstring::npos || serverEnd == 2)
        return 0;
    // "\\.\" and "\\?\" name devices, not a server.
    if (serverEnd == 3 && (path[2] == L'.' || path[2] == L'?'))
        return 0;
    const size_t shareEnd = std::min(path.find(SEPARATOR, serverEnd + 1), path.size());
    return shareEnd > serverEnd + 1 ? shareEnd : 0;
}

std::wstring ParentPath(const std::wstring& path)
{
    const size_t root = PathRootLength(path);
    const size_t last = path.find_last_not_of(SEPARATOR);
    if (root == 0 || last == std::wstring::npos || last < root)
        return std::wstring();
    const size_t separator = path.find_last_of(SEPARATOR, last);
    const size_t before = path.find_last_not_of(SEPARATOR, separator);
    return path.substr(0, std::max(before + 1, root));
}

bool IsInsideFolder(const std::wstring& path, const std::wstring& folder, CharUpperFunction upper)
{
    const size_t pathRoot = PathRootLength(path);
    const size_t folderRoot = PathRootLength(folder);
    if (upper == nullptr || pathRoot == 0 || folderRoot == 0)
        return false;
    // A drive's root with its separator, a share's without one: the same
    // kind of root has the same length.
    if (pathRoot != folderRoot || !SameText(path.substr(0, pathRoot), folder.substr(0, folderRoot), upper))
        return false;
    const std::vector<std::wstring> inner = ComponentsAfterRoot(path, pathRoot);
    const std::vector<std::wstring> outer = ComponentsAfterRoot(folder, folderRoot);
    if (inner.size() < outer.size())
        return false;
    if (!std::all_of(inner.begin(), inner.end(), IsPlainName) || !std::all_of(outer.begin(), outer.end(), IsPlainName))
        return false;
    for (size_t i = 0; i < outer.size(); ++i) {
        if (!SameText(inner[i], outer[i], upper))
            return false;
    }
    return true;
}
