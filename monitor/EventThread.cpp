#include <windows.h>

#include "Monitor.h"
#include "MonitorLogic.h"
#include "SignalEvents.h"

namespace {

// The worker thread's events as RunEventWait sees them.
struct EventWaitPlatform {
    HWND window;
    HANDLE handles[MONITOR_EVENT_COUNT];

    int Wait(const MonitorEvent* events, size_t count, uint32_t timeout)
    {
        if (count == 0) {
            Sleep(timeout);
            return EVENT_WAIT_TIMED_OUT;
        }
        HANDLE waitList[MONITOR_EVENT_COUNT] = {};
        for (size_t i = 0; i < count; ++i)
            waitList[i] = handles[events[i]];
        DWORD result = WaitForMultipleObjects(static_cast<DWORD>(count), waitList, FALSE,
                                              timeout == EVENT_WAIT_FOREVER ? INFINITE : timeout);
        if (result == WAIT_TIMEOUT)
            return EVENT_WAIT_TIMED_OUT;
        if (result >= WAIT_OBJECT_0 + count)
            return EVENT_WAIT_FAILED;
        return static_cast<int>(result - WAIT_OBJECT_0);
    }

    bool IsSignalled(MonitorEvent event) { return WaitForSingleObject(handles[event], 0) == WAIT_OBJECT_0; }

    void Post(MonitorEvent event)
    {
        if (event == MONITOR_EVENT_SETTINGS_CHANGED)
            PostMessageW(window, WM_RELOADSETTINGS, 0, 0);
        else if (event == MONITOR_EVENT_MONITOR_CLOSE)
            PostMessageW(window, WM_CLOSE, 0, 0);
    }
};

}  // namespace

unsigned __stdcall EventWaitThread(void* parameter)
{
    EventWaitPlatform platform = { static_cast<HWND>(parameter),
                                   { SettingsChangedEvent, ThreadStopEvent, MonitorCloseEvent } };

    // Only the events that exist are waited on: a null handle would make
    // every wait fail at once. The list keeps the order of precedence.
    HANDLE waitList[MONITOR_EVENT_COUNT] = {};
    MonitorEvent present[MONITOR_EVENT_COUNT] = {};
    const size_t count = BuildWaitList(platform.handles, waitList, present);
    RunEventWait(platform, present, count);
    return 0;
}
