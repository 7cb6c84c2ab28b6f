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

// The text of a byte count as the shell writes it ("1.52 GB"), in the
// 20-character buffer both programs give StrFormatByteSizeW; empty when the
// call fails.
constexpr int BYTE_SIZE_TEXT_CAPACITY = 20;
inline void FormatByteSize(uint64_t bytes, wchar_t (&text)[BYTE_SIZE_TEXT_CAPACITY])
{
    text[0] = L'\0';
    StrFormatByteSizeW(static_cast<LONGLONG>(bytes), text, BYTE_SIZE_TEXT_CAPACITY);
}
