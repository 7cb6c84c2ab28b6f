// The window's small rules outside the scan (Monitor.cpp): its command
// line, the command lines of the programs it starts, the registered taskbar
// message, the administrators' close request and the scan timer. The worker
// thread's rules are in EventWaitLogic.h. No Windows headers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "CommandLine.h"

// Whether the arguments after the program name hold the restart switch
// (/R, -r, /Restart ...). 'N' and every other argument are ignored.
bool HasRestartSwitch(int argc, const wchar_t* const* argv, CharUpperFunction upper);

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

// The administrators' close request (SignalEvents.h) as the monitor found
// it at its start, and as it finds it now: only a request made since its
// start closes it. A value gone (the key deleted) is no request, and a
// monitor started after a request is not closed by it.
struct CloseRequestMark {
    bool Present = false;
    uint64_t Stamp = 0;
};

inline bool IsNewCloseRequest(const CloseRequestMark& atStart, const CloseRequestMark& now)
{
    return now.Present && (!atStart.Present || now.Stamp != atStart.Stamp);
}

// The scan timer: the regular period, and the delay of the rescan after a
// settings reload.
constexpr uint32_t SCAN_PERIOD = 45000;  // ms
constexpr uint32_t RESCAN_DELAY = 1000;  // ms

// Whether a settings reload at tick `now` moves the scan timer, whose next
// tick is due at `scanDue`, to RESCAN_DELAY from now. A tick already due
// within that delay (or overdue) stays where it is: reloads that come
// faster than the delay, and any account may pulse, would otherwise push
// the scan away for as long as they last. Tick counts wrap modulo 2^32.
inline bool ReloadMovesScan(uint32_t now, uint32_t scanDue)
{
    return static_cast<int32_t>(scanDue - now) > static_cast<int32_t>(RESCAN_DELAY);
}

// Whether the scan timer's tick, due at `scanDue`, is due or overdue at
// `now`. The window's timer message comes only when no other message
// waits, so a stream of reload messages could keep a due tick from ever
// arriving; the reload handler runs such a tick itself.
inline bool IsScanDue(uint32_t now, uint32_t scanDue)
{
    return static_cast<int32_t>(scanDue - now) <= 0;
}
