// The machine's drive-root list, read and walked as both programs do it.
// No Windows headers: the system's two queries come in through a small
// interface, so the same code runs in the programs and in native tests.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>

#include "DriveSettingsRecord.h"

// Whether the second call of the root-list query filled the buffer: it
// returns the characters written without the final terminator, or the size
// needed when the list grew meanwhile, or 0 on failure.
inline bool IsRootListComplete(size_t capacity, size_t returned) { return returned != 0 && returned < capacity; }

// A root list read whole, and the drive mask taken right after it. No roots
// when the list could not be read.
struct DriveRootList {
    std::unique_ptr<wchar_t[]> roots;
    uint32_t driveMask = 0;
};

// Reads the list over a system that offers
//   size_t RootList(wchar_t* buffer, size_t capacity)   GetLogicalDriveStringsW
//   uint32_t DriveMask()                                 GetLogicalDrives
// The first call, without a buffer, gives the size; the second fills a
// buffer of that size. Nothing is read when either call fails, when the list
// grew between them, or when no buffer can be had; the mask is asked only
// after a complete read.
template <typename System>
DriveRootList ReadDriveRootList(System& system)
{
    DriveRootList list;
    const size_t length = system.RootList(nullptr, 0);
    if (length == 0)
        return list;
    // Two zeroed characters more than asked for: whatever the second call
    // writes, its last string is terminated and an empty string follows.
    std::unique_ptr<wchar_t[]> roots(new (std::nothrow) wchar_t[length + 2]());
    if (!roots || !IsRootListComplete(length, system.RootList(roots.get(), length)))
        return list;
    list.roots = std::move(roots);
    list.driveMask = system.DriveMask();
    return list;
}

// Walks a list of NUL-terminated root strings (ending with an empty string)
// beside a drive mask. The k-th root belongs to the k-th set bit of the
// mask; the letter inside the string is never parsed. Calls
// visit(driveIndex, root) for each matched drive, in index order, and stops
// at index 26 or at the end of the list, whichever comes first.
template <typename Visit>
void WalkDriveRoots(const wchar_t* roots, uint32_t driveMask, Visit visit)
{
    if (roots == nullptr)
        return;
    const wchar_t* p = roots;
    for (int i = 0; i < DRIVE_COUNT && *p != L'\0'; ++i) {
        if ((driveMask & (1u << i)) == 0)
            continue;
        visit(i, p);
        while (*p != L'\0')
            ++p;
        ++p;
    }
}
