// What the monitor's source files share: the module instance and the
// messages between the event-wait thread and the hidden window.
#pragma once

#include <windows.h>

// Posted by the event-wait thread when the settings changed. With wParam
// RELOAD_WITHOUT_RESCAN the settings are only read again: the thread's
// first message, once the registry watches the key, covers a change made
// between the start-up read and the watch.
constexpr UINT WM_RELOADSETTINGS = WM_USER + 2;
constexpr WPARAM RELOAD_WITHOUT_RESCAN = 1;

// Posted by the event-wait thread when MonitorCloseEvent was signalled: the
// window looks whether an administrator asked the monitors to close
// (SignalEvents.h). One at a time: CloseCheckTaken allows the next.
constexpr UINT WM_CHECKCLOSEREQUEST = WM_USER + 3;

// The program's own module: every resource load uses it.
extern HINSTANCE ModuleInstance;

// Creates the worker thread, which turns the named events and the
// registry's reports of a settings change into messages posted to
// `window`; it ends when ThreadStopEvent is set. Null when it could not
// start.
HANDLE StartEventWaitThread(HWND window);

// Whether the worker thread now has the registry watch the settings key
// itself. While it has not (the key does not exist yet, or the watch could
// not be set up), the settings are read at every tick.
bool IsSettingsKeyWatched();

// Asks the worker thread to try the watch again.
void RetrySettingsWatch();

// The window took the reload message: the next change posts another.
void SettingsReloadTaken();

// The window took the close check: the next signal posts another.
void CloseCheckTaken();
