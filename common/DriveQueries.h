// What both programs ask the system about the drives, written once.
#pragma once

#include <windows.h>
#include <shlwapi.h>

#include <cstdint>

#include "DriveRoots.h"

// The machine's drive roots and drive mask (DriveRoots.h): the one way both
// programs list the drives.
struct SystemDriveRoots {
    size_t RootList(wchar_t* buffer, size_t capacity)
    {
        return GetLogicalDriveStringsW(static_cast<DWORD>(capacity), buffer);
    }
    uint32_t DriveMask() { return GetLogicalDrives(); }
};

inline DriveRootList ReadDriveRoots()
{
    SystemDriveRoots system;
    return ReadDriveRootList(system);
}

// Visits each local fixed drive of the machine now, in letter order, as
// visit(driveIndex, root): the root list walked beside the drive mask
// (DriveRoots.h), and each root's type asked.
template <typename Visit>
void WalkFixedDrives(Visit visit)
{
    DriveRootList list = ReadDriveRoots();
    WalkDriveRoots(list.roots.get(), list.driveMask, [&visit](int drive, const wchar_t* root) {
        if (GetDriveTypeW(root) == DRIVE_FIXED)
            visit(drive, root);
    });
}

// The space of the drive of `root`, as GetDiskFreeSpaceExW gives it: the
// bytes the calling user may still use (a quota counted), the capacity,
// and all free bytes. One call, whichever figures the caller uses.
struct DriveSpaceFigures {
    uint64_t AvailableBytes = 0;
    uint64_t TotalBytes = 0;
    uint64_t FreeBytes = 0;
};

inline bool QueryDriveSpace(const wchar_t* root, DriveSpaceFigures& space)
{
    ULARGE_INTEGER available = {}, total = {}, free = {};
    if (!GetDiskFreeSpaceExW(root, &available, &total, &free))
        return false;
    space.AvailableBytes = available.QuadPart;
    space.TotalBytes = total.QuadPart;
    space.FreeBytes = free.QuadPart;
    return true;
}

// The text of a byte count as the shell writes it ("1.52 GB"), in the
// 20-character buffer both programs give StrFormatByteSizeW; empty when the
// call fails.
constexpr int BYTE_SIZE_TEXT_CAPACITY = 20;
inline void FormatByteSize(uint64_t bytes, wchar_t (&text)[BYTE_SIZE_TEXT_CAPACITY])
{
    text[0] = L'\0';
    StrFormatByteSizeW(static_cast<LONGLONG>(bytes), text, BYTE_SIZE_TEXT_CAPACITY);
}
