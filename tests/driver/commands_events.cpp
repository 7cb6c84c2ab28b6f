// The two named events through which the configuration program reaches the
// monitors: pulse, set, reset and wait on them as either program would.
#include "Driver.h"
#include "SignalEvents.h"

namespace {

// "settings" or "close": the shared event handle after CreateSignalEvents.
// "close-signal" is the close event too, for a pulse without the
// administrators' close request: what any account can send.
HANDLE EventByName(const std::wstring& name)
{
    CreateSignalEvents();
    if (name == L"settings")
        return SettingsChangedEvent;
    if (name == L"close" || name == L"close-signal")
        return MonitorCloseEvent;
    return nullptr;
}

bool IsEventName(const std::wstring& name)
{
    return name == L"settings" || name == L"close" || name == L"close-signal";
}

// pulse settings|close|close-signal [count] [interval_ms]: as the
// configuration program does it (Sleep(0), then PulseEvent; for "close"
// the administrators' close request first), `count` times (default 1).
int RunPulse(const std::vector<std::wstring>& args)
{
    if (args.empty() || args.size() > 3 || !IsEventName(args[0]))
        return UsageError(L"settings or close expected");
    uint64_t count = args.size() > 1 ? ParseUnsigned(args[1]).value_or(0) : 1;
    uint64_t interval = args.size() > 2 ? ParseUnsigned(args[2]).value_or(UINT64_MAX) : 100;
    if (count == 0 || interval > 600000)
        return UsageError(L"bad count or interval");
    HANDLE event = EventByName(args[0]);
    if (event == nullptr)
        return Fail(L"the " + args[0] + L" event could not be created or opened");
    for (uint64_t i = 0; i < count; ++i) {
        if (i != 0)
            Sleep(static_cast<DWORD>(interval));
        if (args[0] == L"settings") {
            NotifySettingsChanged();
        } else if (args[0] == L"close") {
            RequestMonitorClose();
        } else {
            Sleep(0);
            PulseEvent(event);
        }
    }
    OutLine(L"pulsed");
    return 0;
}

// set settings|close / reset settings|close: leave the event signalled, or
// clear it again (for faults: an event that somebody left set).
int RunSetOrReset(const std::vector<std::wstring>& args, bool set)
{
    if (args.size() != 1 || !IsEventName(args[0]))
        return UsageError(L"settings or close expected");
    HANDLE event = EventByName(args[0]);
    if (event == nullptr)
        return Fail(L"the " + args[0] + L" event could not be created or opened");
    if (!(set ? SetEvent(event) : ResetEvent(event)))
        return Fail(LastErrorText());
    OutLine(set ? L"set" : L"reset");
    return 0;
}

int RunSet(const std::vector<std::wstring>& args)
{
    return RunSetOrReset(args, true);
}
int RunReset(const std::vector<std::wstring>& args)
{
    return RunSetOrReset(args, false);
}

// wait settings|close <timeout_ms>: prints "waiting" right before it enters
// the wait, then "signalled" (exit 0) or "timeout" (exit 1). A pulse reaches
// only a thread that is inside its wait at that instant, so a test pulses
// again and again until this command reports.
int RunWait(const std::vector<std::wstring>& args)
{
    if (args.size() != 2 || !IsEventName(args[0]))
        return UsageError(L"settings or close and a time-out in ms expected");
    std::optional<uint64_t> timeout = ParseUnsigned(args[1]);
    if (!timeout || *timeout >= INFINITE)
        return UsageError(L"bad time-out: " + args[1]);
    HANDLE event = EventByName(args[0]);
    if (event == nullptr)
        return Fail(L"the " + args[0] + L" event could not be created or opened");
    OutLine(L"waiting");
    DWORD result = WaitForSingleObject(event, static_cast<DWORD>(*timeout));
    if (result == WAIT_OBJECT_0) {
        OutLine(L"signalled");
        return 0;
    }
    if (result == WAIT_TIMEOUT) {
        OutLine(L"timeout");
        return 1;
    }
    return Fail(L"wait failed: " + LastErrorText());
}

// events: which name of each event exists now (without creating any):
// "<settings|close>\t<global|local|both|none>".
int RunEvents(const std::vector<std::wstring>& args)
{
    if (!args.empty())
        return UsageError(L"no arguments expected");
    struct Names {
        const wchar_t* label;
        const wchar_t* global;
        const wchar_t* local;
    };
    const Names names[] = {
        { L"settings", SETTINGS_CHANGED_EVENT_NAME, SETTINGS_CHANGED_EVENT_FALLBACK_NAME },
        { L"close", MONITOR_CLOSE_EVENT_NAME, MONITOR_CLOSE_EVENT_FALLBACK_NAME },
    };
    for (const Names& entry : names) {
        HANDLE global = OpenEventW(SYNCHRONIZE, FALSE, entry.global);
        HANDLE local = OpenEventW(SYNCHRONIZE, FALSE, entry.local);
        const wchar_t* where =
            global != nullptr ? (local != nullptr ? L"both" : L"global") : (local != nullptr ? L"local" : L"none");
        if (global != nullptr)
            CloseHandle(global);
        if (local != nullptr)
            CloseHandle(local);
        OutLine(std::wstring(entry.label) + L"\t" + where);
    }
    return 0;
}

const CommandRegistrar pulseCommand{ L"pulse", L"settings|close|close-signal [count] [interval_ms]", RunPulse };
const CommandRegistrar setCommand{ L"set", L"settings|close", RunSet };
const CommandRegistrar resetCommand{ L"reset", L"settings|close", RunReset };
const CommandRegistrar waitCommand{ L"wait", L"settings|close <timeout_ms>", RunWait };
const CommandRegistrar eventsCommand{ L"events", L"", RunEvents };

}  // namespace
