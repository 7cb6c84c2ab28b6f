#include <windows.h>
#include <process.h>

#include <atomic>

#include "DriveSettings.h"
#include "Handles.h"
#include "Monitor.h"
#include "EventWaitLogic.h"
#include "SignalEvents.h"

namespace {

// Set by the registry when a watched key changes, one event a key (the
// system may clear an event when a key is armed with it, which would lose
// another key's report); manual reset, so that only the worker thread,
// just before it arms the keys again, clears them.
HANDLE SettingsKeyEvents[2] = {};
// The keys the worker thread watches: the settings key and its parent
// (whose report of a subkey gone is what tells of the key's deletion), or,
// while the settings key does not exist, its nearest existing parent alone
// (to see it made). Worker thread only.
UniqueRegKey WatchedKeys[2];

// What a report of the settings key itself covers: its values, and its
// subkeys made or deleted.
constexpr DWORD SETTINGS_KEY_FILTER = REG_NOTIFY_CHANGE_LAST_SET | REG_NOTIFY_CHANGE_NAME;

std::atomic<bool> SettingsKeyWatched{ false };
// The window asked for another try at the watch; no reload goes with it.
std::atomic<bool> WatchRetryRequested{ false };
// A reload message is on its way and not yet handled: the next change
// needs no message of its own, the reload reads the value after it.
std::atomic<bool> ReloadPosted{ false };
// Likewise for the close check: a stream of close signals, which any
// account may send, brings one check at a time.
std::atomic<bool> CloseCheckPosted{ false };

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

LSTATUS OpenForNotification(const wchar_t* path, UniqueRegKey& key)
{
    HKEY opened = nullptr;
    const LSTATUS status = RegOpenKeyExW(HKEY_LOCAL_MACHINE, path, 0, KEY_NOTIFY | SETTINGS_KEY_VIEW, &opened);
    if (status == ERROR_SUCCESS)
        key.Reset(opened);
    return status;
}

bool Watch(const UniqueRegKey& key, DWORD filter, HANDLE event)
{
    return key && RegNotifyChangeKeyValue(key.Get(), FALSE, filter, event, TRUE) == ERROR_SUCCESS;
}

// Opens for notification the settings key and its parent, or, while the
// key does not exist, its nearest existing parent alone (in keys[0]).
// Returns whether the settings key is among them.
bool OpenKeysToWatch(UniqueRegKey (&keys)[2])
{
    wchar_t path[MAX_PATH] = L"";
    lstrcpynW(path, SETTINGS_KEY, MAX_PATH);
    bool isSettingsKey = true;
    for (;;) {
        const LSTATUS status = OpenForNotification(path, keys[0]);
        if (status == ERROR_SUCCESS)
            break;
        if (status != ERROR_FILE_NOT_FOUND || !TrimToParent(path))
            return false;
        isSettingsKey = false;
    }
    if (isSettingsKey && TrimToParent(path))
        OpenForNotification(path, keys[1]);
    return isSettingsKey;
}

// Points the registry's notification at the keys to watch now: they are
// opened afresh each time, so that a key deleted and made again is
// followed. A parent is watched for subkeys made or deleted only. When only
// a parent could be watched, the settings key is looked for once more after
// it is armed, in case the key came in between.
void WatchSettingsKey()
{
    for (int attempt = 0; attempt < 2; ++attempt) {
        UniqueRegKey keys[2];
        const bool isSettingsKey = OpenKeysToWatch(keys);
        // Closing the old keys completes their notifications: the event is
        // cleared after that, and before the new ones are armed.
        for (int i = 0; i < 2; ++i) {
            WatchedKeys[i].Reset();
            ResetEvent(SettingsKeyEvents[i]);
        }
        const bool keyWatched =
            Watch(keys[0], isSettingsKey ? SETTINGS_KEY_FILTER : REG_NOTIFY_CHANGE_NAME, SettingsKeyEvents[0]);
        const bool parentWatched = isSettingsKey && Watch(keys[1], REG_NOTIFY_CHANGE_NAME, SettingsKeyEvents[1]);
        WatchedKeys[0] = std::move(keys[0]);
        WatchedKeys[1] = std::move(keys[1]);
        SettingsKeyWatched = keyWatched && parentWatched;
        if (!keyWatched || isSettingsKey)
            return;
        UniqueRegKey made;
        if (OpenForNotification(SETTINGS_KEY, made) != ERROR_SUCCESS)
            return;
    }
}

// After a report of the settings key alone: the same key is armed again,
// which is all a changed value needs; its deletion is reported through the
// parent, which has the keys opened afresh.
void RewatchSettingsKey()
{
    ResetEvent(SettingsKeyEvents[0]);
    if (!SettingsKeyWatched || !Watch(WatchedKeys[0], SETTINGS_KEY_FILTER, SettingsKeyEvents[0]))
        WatchSettingsKey();
}

void PostReload(HWND window)
{
    if (!ReloadPosted.exchange(true) && !PostMessageW(window, WM_RELOADSETTINGS, 0, 0))
        ReloadPosted = false;
}

void PostCloseCheck(HWND window)
{
    if (!CloseCheckPosted.exchange(true) && !PostMessageW(window, WM_CHECKCLOSEREQUEST, 0, 0))
        CloseCheckPosted = false;
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
        case MONITOR_EVENT_MONITOR_CLOSE: PostCloseCheck(window); break;
        case MONITOR_EVENT_SETTINGS_KEY:
        case MONITOR_EVENT_SETTINGS_PARENT: {
            // Armed again before the reload reads the value: a change after
            // the read sets the event again.
            const bool retryOnly = WatchRetryRequested.exchange(false);
            if (event == MONITOR_EVENT_SETTINGS_KEY && !retryOnly)
                RewatchSettingsKey();
            else
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
                                   { SettingsChangedEvent, ThreadStopEvent, MonitorCloseEvent, SettingsKeyEvents[0],
                                     SettingsKeyEvents[1] } };
    if (SettingsKeyEvents[0] != nullptr && SettingsKeyEvents[1] != nullptr) {
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
    for (HANDLE& event : SettingsKeyEvents)
        event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    return reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, EventWaitThread, window, 0, nullptr));
}

bool IsSettingsKeyWatched()
{
    return SettingsKeyWatched;
}

void RetrySettingsWatch()
{
    if (SettingsKeyEvents[0] == nullptr || SettingsKeyEvents[1] == nullptr)
        return;
    WatchRetryRequested = true;
    SetEvent(SettingsKeyEvents[0]);
}

void SettingsReloadTaken()
{
    ReloadPosted = false;
}

void CloseCheckTaken()
{
    CloseCheckPosted = false;
}
