// The worker thread's rules (EventThread.cpp): which events it waits on,
// in which order, and what it does with a named event that somebody left
// signalled. No Windows headers.
//
// The thread waits on the two named events other programs signal (settings
// changed, monitor close), its own stop event, and two unnamed events the
// registry sets when the settings key or its parent changes. The registry
// watch and the window share a small handshake, kept in EventThread.cpp:
//   - Watched: once the registry watches the settings key and its parent,
//     the thread posts one reload without a rescan (a change made between
//     the window's start-up read and the watch is not missed), and every
//     later report re-arms the key before it posts a reload, so that a
//     change after the window's read is reported again.
//   - Not watched (the key does not exist yet, or the watch failed): the
//     window reads the settings at every scan tick instead, and asks the
//     thread to try the watch again by setting the key's event with a
//     "retry only" flag; the thread then sets the watch up afresh and posts
//     nothing. Once it succeeds, the ticks stop reading.
//   - Reloads are coalesced: while one reload message is queued and not
//     yet taken, the next change posts nothing (the queued reload reads the
//     value after it).
#pragma once

#include <cstddef>
#include <cstdint>

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
