// The Windows test program doubles as the helper process that the
// cross-process tests start: "--wait-settings" waits for one settings pulse.
#include <windows.h>

#include <gtest/gtest.h>

#include <cwchar>

#include "SignalEvents.h"

int WaitForSettingsPulse()
{
    CreateSignalEvents();
    HANDLE ready = CreateEventW(nullptr, TRUE, FALSE, L"BrimTestWaiterReady");
    SetEvent(ready);
    DWORD result = WaitForSingleObject(SettingsChangedEvent, 20000);
    return result == WAIT_OBJECT_0 ? 0 : 1;
}

int wmain(int argc, wchar_t** argv)
{
    if (argc > 1 && std::wcscmp(argv[1], L"--wait-settings") == 0)
        return WaitForSettingsPulse();
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
