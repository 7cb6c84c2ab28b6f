// What the monitor's source files share: the module instance and the
// messages between the event-wait thread and the hidden window.
#pragma once

#include <windows.h>

// Posted by the event-wait thread when the settings changed.
constexpr UINT WM_RELOADSETTINGS = WM_USER + 2;

// The program's own module: every resource load uses it.
extern HINSTANCE ModuleInstance;

// The worker thread: turns the named events into messages posted to the
// window given as its argument. Ends when ThreadStopEvent is set.
unsigned __stdcall EventWaitThread(void* window);
