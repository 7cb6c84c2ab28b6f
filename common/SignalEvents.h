// The named events through which the configuration program reaches every
// running monitor, and the monitor's own stop event.
#pragma once

#include <windows.h>

#include <cstdint>

#include "Handles.h"

// Held until the process ends; null when creation failed for both names.
extern HANDLE SettingsChangedEvent;
extern HANDLE ThreadStopEvent;
extern HANDLE MonitorCloseEvent;

extern const wchar_t SETTINGS_CHANGED_EVENT_NAME[];           // "Global\CA56EB1D-..."
extern const wchar_t SETTINGS_CHANGED_EVENT_FALLBACK_NAME[];  // session-local
extern const wchar_t MONITOR_CLOSE_EVENT_NAME[];              // "Global\{4AC75521-...}"
extern const wchar_t MONITOR_CLOSE_EVENT_FALLBACK_NAME[];

// What every account may do with the named events, and all that signalling
// and waiting need: no account but the creator's can change their security,
// take them over or delete them. Each program opens them asking for exactly
// this, so that the open works for every account.
constexpr DWORD SIGNAL_EVENT_ACCESS = SYNCHRONIZE | EVENT_MODIFY_STATE;

// Initialises the caller's `descriptor` and gives it a DACL that grants
// `access` to each of the `count` well-known accounts, and nothing to anyone
// else. Returns the owner of the ACL, which must outlive every use of the
// descriptor; empty on failure, when the descriptor, if it could be
// initialised, has no DACL.
UniqueLocalMemory BuildGrantingSecurityDescriptor(SECURITY_DESCRIPTOR* descriptor, const WELL_KNOWN_SID_TYPE* accounts,
                                                  size_t count, DWORD access);

// Initialises the caller's `descriptor` and gives it a DACL holding one ACE
// that grants Everyone SIGNAL_EVENT_ACCESS. Returns the owner of the ACL, which
// must outlive every use of the descriptor; empty on failure, when the
// descriptor, if it could be initialised, has no DACL.
UniqueLocalMemory BuildEventSecurityDescriptor(SECURITY_DESCRIPTOR* descriptor);

// Creates or opens SettingsChangedEvent, ThreadStopEvent and
// MonitorCloseEvent, in that order.
void CreateSignalEvents();

// Sleep(0), then pulse SettingsChangedEvent: every waiting monitor reloads.
void NotifySettingsChanged();

// An administrator's request that every running monitor exit. Every account
// may signal the named events, so a signal alone closes nothing: the close
// request is a value only administrators can write, the system time of the
// last request ("MonitorCloseRequest", REG_QWORD, in the settings key), and
// a monitor exits when it finds that value changed since its own start.
// The registry reports the write to each monitor's worker thread; the
// pulse of MonitorCloseEvent that follows tells a monitor whose watch is
// not set up, and monitors of versions that knew only the pulse.
extern const wchar_t MONITOR_CLOSE_REQUEST_VALUE[];

// Writes the close request, then Sleep(0) and pulses MonitorCloseEvent.
// The pulse goes out even when the write fails: older monitors need
// nothing more. Returns the write's Windows status, 0 on success.
DWORD RequestMonitorClose();

// The stored close request now; false when there is none (no key, no
// value, or a value of another shape).
bool ReadMonitorCloseRequest(uint64_t& stamp);
