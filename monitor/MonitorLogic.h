// The monitor's small rules outside the scan: its command line, the
// command lines of the programs it starts, the registered taskbar message
// and the worker thread's wait list. No Windows headers.
#pragma once

#include <cstddef>
#include <string>

#include "CommandLine.h"

// Whether the arguments after the program name hold the restart switch
// (/R, -r, /Restart ...). 'N' and every other argument are ignored.
bool HasRestartSwitch(int argc, const wchar_t* const* argv, CharUpperFunction upper);

// "C:\" for drive index 2.
std::wstring DriveRootPath(int driveIndex);

// The clean-up tool's parameters: "/d" and the bare letter ("/dC").
std::wstring CleanupToolParameters(int driveIndex);

// Explorer's parameters: "/e,D:\" for drive index 3.
std::wstring ExplorerParameters(int driveIndex);

// The configuration program beside the running monitor, whatever the
// monitor's own file is called.
std::wstring ConfigProgramPath(const std::wstring& monitorPath);

constexpr wchar_t CONFIG_PROGRAM_FILE_NAME[] = L"BrimSet.exe";
constexpr wchar_t CLEANUP_TOOL_FILE_NAME[] = L"cleanmgr.exe";

// The shell's "TaskbarCreated" message, registered at window creation. A
// failed registration gives 0, which must never match (0 is WM_NULL).
inline bool IsTaskbarCreatedMessage(unsigned message, unsigned registeredMessage)
{
    return registeredMessage != 0 && message == registeredMessage;
}

// The worker thread's events, in the order of precedence of its wait.
enum MonitorEvent {
    MONITOR_EVENT_SETTINGS_CHANGED = 0,
    MONITOR_EVENT_THREAD_STOP = 1,
    MONITOR_EVENT_MONITOR_CLOSE = 2,
};
constexpr size_t MONITOR_EVENT_COUNT = 3;

// Keeps the handles that exist, in order, and notes which event each one
// is. An event whose creation failed is simply not waited on. Returns how
// many handles are in the list.
template <typename Handle>
size_t BuildWaitList(const Handle (&events)[MONITOR_EVENT_COUNT], Handle (&waitList)[MONITOR_EVENT_COUNT],
                     MonitorEvent (&meaning)[MONITOR_EVENT_COUNT])
{
    size_t count = 0;
    for (size_t i = 0; i < MONITOR_EVENT_COUNT; ++i) {
        if (events[i] == Handle())
            continue;
        waitList[count] = events[i];
        meaning[count] = static_cast<MonitorEvent>(i);
        ++count;
    }
    return count;
}
