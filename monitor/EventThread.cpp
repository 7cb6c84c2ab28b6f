#include <windows.h>

#include "Monitor.h"
#include "MonitorLogic.h"
#include "SignalEvents.h"

unsigned __stdcall EventWaitThread(void* parameter)
{
    HWND window = static_cast<HWND>(parameter);

    // Only the events that exist are waited on: a null handle would make
    // every wait fail at once. The list keeps the order of precedence.
    const HANDLE events[MONITOR_EVENT_COUNT] = { SettingsChangedEvent, ThreadStopEvent, MonitorCloseEvent };
    HANDLE waitList[MONITOR_EVENT_COUNT] = {};
    MonitorEvent meaning[MONITOR_EVENT_COUNT] = {};
    const DWORD count = static_cast<DWORD>(BuildWaitList(events, waitList, meaning));
    if (count == 0)
        return 0;

    for (;;) {
        DWORD result = WaitForMultipleObjects(count, waitList, FALSE, INFINITE);
        // A wait that failed would fail again at once: end instead of spinning.
        if (result >= WAIT_OBJECT_0 + count)
            return 0;
        switch (meaning[result - WAIT_OBJECT_0]) {
        case MONITOR_EVENT_SETTINGS_CHANGED:
            PostMessageW(window, WM_RELOADSETTINGS, 0, 0);
            break;
        case MONITOR_EVENT_THREAD_STOP:
            return 0;
        case MONITOR_EVENT_MONITOR_CLOSE:
            PostMessageW(window, WM_CLOSE, 0, 0);
            break;
        }
    }
}
