// One settings pulse as the configuration program sends it, stamped with
// the performance counter just before and just after it. Under Wine the
// counter is the host's raw monotonic clock in 100 ns units, so the driving
// script can set the pulse against the moment it sees the tray react.
// Prints: PULSE <counter before> <counter after> <counts per second>
#include <windows.h>

#include <cstdio>

#include "SignalEvents.h"

int wmain()
{
    CreateSignalEvents();
    if (SettingsChangedEvent == nullptr)
        return 1;
    LARGE_INTEGER frequency, before, after;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&before);
    NotifySettingsChanged();
    QueryPerformanceCounter(&after);
    // Whole counts as doubles: exact far beyond any uptime, and printable
    // the same way by every C runtime.
    std::printf("PULSE %.0f %.0f %.0f\n", static_cast<double>(before.QuadPart), static_cast<double>(after.QuadPart),
                static_cast<double>(frequency.QuadPart));
    std::fflush(stdout);
    return 0;
}
