// The drive queries a scan pass cannot do without, and nothing else: the
// free and total space of each watched drive. The floor the bench programs
// measure the monitor's own pass against.
#pragma once

#include <windows.h>

// Keeps the results alive, so that no query can be optimised away.
inline volatile ULONGLONG BareQueriesSink = 0;

// Asks the free space of each drive of `drives` (bit i: drive index i);
// returns the number of drives whose space was read.
inline int BareQueries(DWORD drives)
{
    int queried = 0;
    for (int i = 0; i < 26; ++i) {
        if ((drives & (1u << i)) == 0)
            continue;
        const wchar_t root[] = { static_cast<wchar_t>(L'A' + i), L':', L'\\', L'\0' };
        ULARGE_INTEGER freeBytes = {};
        ULARGE_INTEGER totalBytes = {};
        if (GetDiskFreeSpaceExW(root, &freeBytes, &totalBytes, nullptr)) {
            BareQueriesSink = BareQueriesSink + freeBytes.QuadPart + totalBytes.QuadPart;
            ++queried;
        }
    }
    return queried;
}

// The drives named by the letters of `text` ("DE" is D: and E:), either case.
inline DWORD DrivesOfLetters(const wchar_t* text)
{
    DWORD drives = 0;
    for (; text != nullptr && *text != L'\0'; ++text) {
        const wchar_t letter = *text;
        if (letter >= L'A' && letter <= L'Z')
            drives |= 1u << (letter - L'A');
        else if (letter >= L'a' && letter <= L'z')
            drives |= 1u << (letter - L'a');
    }
    return drives;
}
