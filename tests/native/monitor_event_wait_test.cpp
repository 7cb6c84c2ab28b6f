// The worker thread's loop over scripted events: ordinary pulses, and events
// that somebody set and left signalled.
#include <gtest/gtest.h>

#include <deque>
#include <vector>

#include "EventWaitLogic.h"

namespace {

constexpr MonitorEvent S = MONITOR_EVENT_SETTINGS_CHANGED;
constexpr MonitorEvent STOP = MONITOR_EVENT_THREAD_STOP;
constexpr MonitorEvent C = MONITOR_EVENT_MONITOR_CLOSE;

enum StepKind { PULSE, SET, RESET, ELAPSE };
struct Step {
    StepKind kind;
    MonitorEvent event;
};

struct WaitCall {
    std::vector<MonitorEvent> events;
    uint32_t timeout;
};

// Manual-reset events and a script of what other processes do while the
// thread waits. Each step happens during one wait; a wait with no time-out
// that nothing wakes goes on to the next step. When the script has run out
// the thread-stop event is set (or, if it does not exist, the wait fails).
struct ScriptedEvents {
    std::deque<Step> script;
    bool signalled[MONITOR_EVENT_COUNT] = {};
    bool stopPresent = true;
    std::vector<WaitCall> waits;
    std::vector<MonitorEvent> posts;

    int Wait(const MonitorEvent* events, size_t count, uint32_t timeout)
    {
        waits.push_back({ std::vector<MonitorEvent>(events, events + count), timeout });
        if (waits.size() > 1000) {
            ADD_FAILURE() << "the thread keeps waiting";
            return EVENT_WAIT_FAILED;
        }
        for (;;) {
            int pulsed = -1;
            if (script.empty()) {
                if (!stopPresent)
                    return EVENT_WAIT_FAILED;
                signalled[STOP] = true;
            } else {
                Step step = script.front();
                script.pop_front();
                if (step.kind == SET)
                    signalled[step.event] = true;
                else if (step.kind == RESET)
                    signalled[step.event] = false;
                else if (step.kind == PULSE)
                    pulsed = step.event;
            }
            // The lowest position wins, as with WaitForMultipleObjects; a
            // pulse leaves its event clear, waiter or not.
            int woken = -1;
            for (size_t i = 0; i < count && woken < 0; ++i) {
                if (signalled[events[i]] || static_cast<int>(events[i]) == pulsed)
                    woken = static_cast<int>(i);
            }
            if (pulsed >= 0)
                signalled[pulsed] = false;
            if (woken >= 0)
                return woken;
            if (timeout != EVENT_WAIT_FOREVER)
                return EVENT_WAIT_TIMED_OUT;
        }
    }

    bool IsSignalled(MonitorEvent event) { return signalled[event]; }
    void Post(MonitorEvent event) { posts.push_back(event); }

    void Run(std::vector<MonitorEvent> present = { S, STOP, C })
    {
        RunEventWait(*this, present.data(), present.size());
    }
};

const std::vector<MonitorEvent> ALL = { S, STOP, C };
const std::vector<MonitorEvent> NOT_SETTINGS = { STOP, C };

}  // namespace

TEST(MonitorEventWait, PulsesPostOneMessageEachAndTheWaitNeverChanges)
{
    ScriptedEvents events;
    events.script = { { PULSE, S }, { PULSE, S }, { PULSE, C }, { PULSE, S } };
    events.Run();
    EXPECT_EQ(events.posts, (std::vector<MonitorEvent>{ S, S, C, S }));
    ASSERT_EQ(events.waits.size(), 5u);  // four pulses, then the stop
    for (const WaitCall& wait : events.waits) {
        EXPECT_EQ(wait.events, ALL);
        EXPECT_EQ(wait.timeout, EVENT_WAIT_FOREVER);
    }
}

TEST(MonitorEventWait, SettingsLeftSignalledIsPostedOnceAndHeldOffUntilClear)
{
    ScriptedEvents events;
    events.script = { { SET, S },
                      { ELAPSE, S },
                      { ELAPSE, S },
                      { ELAPSE, S },
                      // close and stop are still heard while settings is held off
                      { PULSE, C },
                      { ELAPSE, S },
                      // cleared: back in the wait, with one reload for what may
                      // have changed meanwhile
                      { RESET, S },
                      { PULSE, S } };
    events.Run();
    EXPECT_EQ(events.posts, (std::vector<MonitorEvent>{ S, C, S, S }));
    ASSERT_EQ(events.waits.size(), 9u);
    EXPECT_EQ(events.waits[0].events, ALL);
    for (size_t i = 1; i <= 6; ++i) {
        EXPECT_EQ(events.waits[i].events, NOT_SETTINGS) << i;
        EXPECT_EQ(events.waits[i].timeout, SIGNALLED_EVENT_HOLD_OFF) << i;
    }
    EXPECT_EQ(events.waits[7].events, ALL);
    EXPECT_EQ(events.waits[7].timeout, EVENT_WAIT_FOREVER);
}

TEST(MonitorEventWait, PulseOnAHeldOffSettingsEventIsNotLost)
{
    // A pulse clears a signalled event: the change it announces is reloaded
    // when the hold-off ends, though no wait included the event.
    ScriptedEvents events;
    events.script = { { SET, S }, { PULSE, S } };
    events.Run();
    EXPECT_EQ(events.posts, (std::vector<MonitorEvent>{ S, S }));
    EXPECT_EQ(events.waits.back().events, ALL);
}

TEST(MonitorEventWait, CloseLeftSignalledClosesOnceAndTheStopStillEnds)
{
    ScriptedEvents events;
    events.script = { { SET, C }, { ELAPSE, C }, { ELAPSE, C }, { PULSE, S } };
    events.Run();
    EXPECT_EQ(events.posts, (std::vector<MonitorEvent>{ C, S }));
    EXPECT_EQ(events.waits.back().events, (std::vector<MonitorEvent>{ S, STOP }));
}

TEST(MonitorEventWait, SettingsSignalledWithTheStopIsPostedBeforeTheEnd)
{
    ScriptedEvents events;
    events.signalled[S] = true;
    events.signalled[STOP] = true;
    events.Run();
    EXPECT_EQ(events.posts, (std::vector<MonitorEvent>{ S }));
    EXPECT_EQ(events.waits.size(), 2u);
}

TEST(MonitorEventWait, MissingEventsNeitherSpinNorBlock)
{
    ScriptedEvents none;
    none.Run({});
    EXPECT_TRUE(none.waits.empty());
    EXPECT_TRUE(none.posts.empty());

    // Only the settings event exists, and it is left signalled: with nothing
    // else to wait on, the thread sleeps the hold-off between looks.
    ScriptedEvents settingsOnly;
    settingsOnly.stopPresent = false;
    settingsOnly.script = { { SET, S }, { ELAPSE, S }, { ELAPSE, S } };
    settingsOnly.Run({ S });
    EXPECT_EQ(settingsOnly.posts, (std::vector<MonitorEvent>{ S }));
    ASSERT_EQ(settingsOnly.waits.size(), 4u);
    for (size_t i = 1; i < settingsOnly.waits.size(); ++i) {
        EXPECT_TRUE(settingsOnly.waits[i].events.empty());
        EXPECT_EQ(settingsOnly.waits[i].timeout, SIGNALLED_EVENT_HOLD_OFF);
    }
}
