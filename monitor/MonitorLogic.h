// The monitor's small rules outside the scan: its command line, the
// command lines of the programs it starts, the registered taskbar message
// and the worker thread's wait list. No Windows headers.
#pragma once

#include <cstddef>
#include <cstdint>
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

// The worker thread's events, in the order of precedence of its wait. The
// last two are the process's own, unnamed: set when the registry reports a
// change of the settings key, and of its parent (a subkey made or deleted).
enum MonitorEvent {
    MONITOR_EVENT_SETTINGS_CHANGED = 0,
    MONITOR_EVENT_THREAD_STOP = 1,
    MONITOR_EVENT_MONITOR_CLOSE = 2,
    MONITOR_EVENT_SETTINGS_KEY = 3,
    MONITOR_EVENT_SETTINGS_PARENT = 4,
};
constexpr size_t MONITOR_EVENT_COUNT = 5;

// Whether other processes can reach the event: only the named ones can be
// left signalled by somebody else, and only they are ever held off.
inline bool IsNamedMonitorEvent(MonitorEvent event)
{
    return event <= MONITOR_EVENT_MONITOR_CLOSE;
}

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

// ---------------------------------------------------------------- the wait

// The named events are meant to be pulsed, but every account may open them,
// so one may be set and left signalled. A wait that includes it would then
// return at once, again and again: the thread would spin and flood the
// window with messages. An event still signalled right after it woke the
// thread is therefore left out of the wait, and looked at again after
// SIGNALLED_EVENT_HOLD_OFF ms: while still signalled it stays out (nothing
// is posted again); once clear it goes back in, and for the settings event
// one reload is posted then, since a pulse also clears a signalled event.
// A pulsed event is clear by the time it is looked at, so ordinary pulses
// take the same path as ever: one message per wake-up, nothing held back.
constexpr uint32_t SIGNALLED_EVENT_HOLD_OFF = 1000;  // ms
constexpr uint32_t EVENT_WAIT_FOREVER = 0xFFFFFFFF;
constexpr int EVENT_WAIT_TIMED_OUT = -1;
constexpr int EVENT_WAIT_FAILED = -2;

// The worker thread's loop over a platform that offers:
//   int Wait(const MonitorEvent* events, size_t count, uint32_t timeoutMs):
//       the position in `events` of the event that woke it (lowest first),
//       EVENT_WAIT_TIMED_OUT, or EVENT_WAIT_FAILED; with count 0 it only
//       sleeps for the time-out;
//   bool IsSignalled(MonitorEvent event): the state now, without waiting;
//   void Post(MonitorEvent event): the event's message to the window.
// `present` lists the events that exist, in order of precedence. Returns
// when the thread-stop event wakes it or a wait fails (a failed wait would
// fail again at once).
template <typename Platform>
void RunEventWait(Platform& platform, const MonitorEvent* present, size_t presentCount)
{
    bool heldOff[MONITOR_EVENT_COUNT] = {};
    for (;;) {
        MonitorEvent active[MONITOR_EVENT_COUNT] = {};
        size_t count = 0;
        bool anyHeldOff = false;
        for (size_t i = 0; i < presentCount && i < MONITOR_EVENT_COUNT; ++i) {
            if (heldOff[present[i]])
                anyHeldOff = true;
            else
                active[count++] = present[i];
        }
        if (count == 0 && !anyHeldOff)
            return;

        int result = platform.Wait(active, count, anyHeldOff ? SIGNALLED_EVENT_HOLD_OFF : EVENT_WAIT_FOREVER);
        if (result == EVENT_WAIT_TIMED_OUT) {
            for (size_t i = 0; i < MONITOR_EVENT_COUNT; ++i) {
                const MonitorEvent event = static_cast<MonitorEvent>(i);
                if (!heldOff[i] || platform.IsSignalled(event))
                    continue;
                heldOff[i] = false;
                if (event == MONITOR_EVENT_SETTINGS_CHANGED)
                    platform.Post(event);
            }
            continue;
        }
        if (result < 0 || static_cast<size_t>(result) >= count)
            return;
        const MonitorEvent event = active[result];
        if (event == MONITOR_EVENT_THREAD_STOP)
            return;
        platform.Post(event);
        if (IsNamedMonitorEvent(event) && platform.IsSignalled(event))
            heldOff[event] = true;
    }
}
