// The drive queries a scan pass cannot do without, and nothing else: the
// root list, the drive mask, and for each root its type and, for a fixed
// drive, its free and total space. The floor the bench programs measure the
// monitor's own pass against.
#pragma once

#include <windows.h>

constexpr DWORD BARE_ROOTS_LENGTH = 26 * 4 + 1;  // "A:\" and its NUL per letter, one NUL more

// Keeps the results alive, so that no query can be optimised away.
inline volatile ULONGLONG BareQueriesSink = 0;

// Returns the number of fixed drives whose space was read.
inline int BareQueries()
{
    wchar_t roots[BARE_ROOTS_LENGTH] = L"";
    DWORD length = GetLogicalDriveStringsW(BARE_ROOTS_LENGTH, roots);
    if (length == 0 || length >= BARE_ROOTS_LENGTH)
        return 0;
    DWORD mask = GetLogicalDrives();
    int queried = 0;
    const wchar_t* root = roots;
    for (int i = 0; i < 26 && *root != L'\0'; ++i) {
        if ((mask & (1u << i)) == 0)
            continue;
        if (GetDriveTypeW(root) == DRIVE_FIXED) {
            ULARGE_INTEGER freeBytes = {};
            ULARGE_INTEGER totalBytes = {};
            if (GetDiskFreeSpaceExW(root, &freeBytes, &totalBytes, nullptr)) {
                BareQueriesSink = BareQueriesSink + freeBytes.QuadPart + totalBytes.QuadPart;
                ++queried;
            }
        }
        root += lstrlenW(root) + 1;
    }
    return queried;
}
