#include <windows.h>
#include <process.h>

#include <atomic>

#include "DriveSettings.h"
#include "Handles.h"
#include "Monitor.h"
#include "MonitorLogic.h"
#include "SignalEvents.h"

namespace {

// Set by the registry when the watched key changes; manual reset, so that
// only the worker thread, just before it waits again, clears it.
HANDLE SettingsKeyEvent = nullptr;
// The key the worker thread watches: the settings key, or while that does
// not exist the nearest parent that does (to see it created). Worker
// thread only.
UniqueRegKey WatchedKey;

std::atomic<bool> SettingsKeyWatched{ false };
// The window asked for another try at the watch; no reload goes with it.
std::atomic<bool> WatchRetryRequested{ false };
// A reload message is on its way and not yet handled: the next change
// needs no message of its own, the reload reads the value after it.
std::atomic<bool> ReloadPosted{ false };

// The parent of a key path ("Software\\Velloran" of "Software\\Velloran\\BrimSet"),
// or false when the path has none.
bool TrimToParent(wchar_t* path)
{
    wchar_t* last = nullptr;
    for (wchar_t* p = path; *p != L'\0'; ++p) {
        if (*p == L'\\')
            last = p;
    }
    if (last == nullptr)
        return false;
    *last = L'\0';
    return true;
}

// Opens the settings key, or its nearest existing parent, for notification.
// `isSettingsKey` says which one it got; null when none could be opened.
HKEY OpenKeyToWatch(bool& isSettingsKey)
{
    wchar_t path[MAX_PATH] = L"";
    lstrcpynW(path, SETTINGS_KEY, MAX_PATH);
    isSettingsKey = true;
    for (;;) {
        HKEY key = nullptr;
        LSTATUS status = RegOpenKeyExW(HKEY_LOCAL_MACHINE, path, 0, KEY_NOTIFY | SETTINGS_KEY_VIEW, &key);
        if (status == ERROR_SUCCESS)
            return key;
        if (status != ERROR_FILE_NOT_FOUND || !TrimToParent(path))
            return nullptr;
        isSettingsKey = false;
    }
}

// Points the registry's notification at the key to watch now: the key is
// opened afresh each time, so that one deleted and created again is
// followed. A parent is watched for new subkeys only; after it is armed the
// settings key is looked for once more, in case it came in between.
void WatchSettingsKey()
{
    for (int attempt = 0; attempt < 2; ++attempt) {
        bool isSettingsKey = false;
        UniqueRegKey key(OpenKeyToWatch(isSettingsKey));
        // Closing the old key completes its notification: the event is
        // cleared after that, and before the new one is armed.
        WatchedKey.Reset();
        ResetEvent(SettingsKeyEvent);
        const DWORD filter = isSettingsKey ? REG_NOTIFY_CHANGE_LAST_SET | REG_NOTIFY_CHANGE_NAME
                                           : REG_NOTIFY_CHANGE_NAME;
        if (!key || RegNotifyChangeKeyValue(key.Get(), FALSE, filter, SettingsKeyEvent, TRUE) != ERROR_SUCCESS) {
            SettingsKeyWatched = false;
            return;
        }
        WatchedKey = std::move(key);
        SettingsKeyWatched = isSettingsKey;
        if (isSettingsKey)
            return;
        HKEY created = nullptr;
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, SETTINGS_KEY, 0, KEY_NOTIFY | SETTINGS_KEY_VIEW, &created) !=
            ERROR_SUCCESS)
            return;
        RegCloseKey(created);
    }
}

void PostReload(HWND window)
{
    if (!ReloadPosted.exchange(true) && !PostMessageW(window, WM_RELOADSETTINGS, 0, 0))
        ReloadPosted = false;
}

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
        switch (event) {
        case MONITOR_EVENT_SETTINGS_CHANGED: PostReload(window); break;
        case MONITOR_EVENT_MONITOR_CLOSE: PostMessageW(window, WM_CLOSE, 0, 0); break;
        case MONITOR_EVENT_SETTINGS_KEY: {
            // Armed again before the reload reads the value: a change after
            // the read sets the event again.
            const bool retryOnly = WatchRetryRequested.exchange(false);
            WatchSettingsKey();
            if (!retryOnly)
                PostReload(window);
            break;
        }
        case MONITOR_EVENT_THREAD_STOP: break;
        }
    }
};

unsigned __stdcall EventWaitThread(void* parameter)
{
    EventWaitPlatform platform = { static_cast<HWND>(parameter),
                                   { SettingsChangedEvent, ThreadStopEvent, MonitorCloseEvent, SettingsKeyEvent } };
    if (SettingsKeyEvent != nullptr) {
        WatchSettingsKey();
        PostMessageW(platform.window, WM_RELOADSETTINGS, RELOAD_WITHOUT_RESCAN, 0);
    }

    // Only the events that exist are waited on: a null handle would make
    // every wait fail at once. The list keeps the order of precedence.
    HANDLE waitList[MONITOR_EVENT_COUNT] = {};
    MonitorEvent present[MONITOR_EVENT_COUNT] = {};
    const size_t count = BuildWaitList(platform.handles, waitList, present);
    RunEventWait(platform, present, count);
    return 0;
}

}  // namespace

HANDLE StartEventWaitThread(HWND window)
{
    SettingsKeyEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    return reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, EventWaitThread, window, 0, nullptr));
}

bool IsSettingsKeyWatched()
{
    return SettingsKeyWatched;
}

void RetrySettingsWatch()
{
    if (SettingsKeyEvent == nullptr)
        return;
    WatchRetryRequested = true;
    SetEvent(SettingsKeyEvent);
}

void SettingsReloadTaken()
{
    ReloadPosted = false;
}
