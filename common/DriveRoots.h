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
inline bool IsRootListComplete(size_t capacity, size_t returned)
{
    return returned != 0 && returned < capacity;
}

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

// The root of drive `driveIndex` ("C:\\" for 2), as the system's drive
// queries take it.
struct DriveRootText {
    wchar_t Text[4];
};

inline DriveRootText DriveRoot(int driveIndex)
{
    return DriveRootText{ { DriveLetter(driveIndex), L':', L'\\', L'\0' } };
}

// The drive index a root names by its own letter ("C:\\" is 2, either
// case), or -1 when it does not start with a drive letter and a colon.
inline int DriveIndexOfRoot(const wchar_t* root)
{
    const wchar_t letter = root[0];
    if (root[1] != L':')
        return -1;
    if (letter >= L'A' && letter <= L'Z')
        return letter - L'A';
    if (letter >= L'a' && letter <= L'z')
        return letter - L'a';
    return -1;
}

// Walks a list of NUL-terminated root strings (ending with an empty string)
// beside the drive mask taken after it. Each root's drive index comes from
// its own letter, never from its place in the list: a drive that comes or
// goes between the two queries shifts no other drive. A root is visited,
// as visit(driveIndex, root), when it names a drive letter that the mask
// also holds and that comes after the last one visited (the list is in
// letter order; a repeat or a stray entry is passed over).
template <typename Visit>
void WalkDriveRoots(const wchar_t* roots, uint32_t driveMask, Visit visit)
{
    if (roots == nullptr)
        return;
    int last = -1;
    for (const wchar_t* p = roots; *p != L'\0';) {
        const int index = DriveIndexOfRoot(p);
        if (index > last && (driveMask & (1u << index)) != 0) {
            visit(index, p);
            last = index;
        }
        while (*p != L'\0')
            ++p;
        ++p;
    }
}
