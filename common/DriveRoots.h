// Matching the drive-root list to the drive mask, as both programs walk it.
#pragma once

#include <cstdint>

#include "DriveSettingsRecord.h"

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
