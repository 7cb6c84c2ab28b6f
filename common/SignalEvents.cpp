#include "SignalEvents.h"

#include "DriveSettings.h"

HANDLE SettingsChangedEvent = nullptr;
HANDLE ThreadStopEvent = nullptr;
HANDLE MonitorCloseEvent = nullptr;

const wchar_t SETTINGS_CHANGED_EVENT_NAME[] = L"Global\\CA56EB1D-CE28-487d-8572-E071B8507203";
const wchar_t SETTINGS_CHANGED_EVENT_FALLBACK_NAME[] = L"CA56EB1D-CE28-487d-8572-E071B8507203";
const wchar_t MONITOR_CLOSE_EVENT_NAME[] = L"Global\\{4AC75521-5B5A-4c49-B9A1-46EF08628F12}";
const wchar_t MONITOR_CLOSE_EVENT_FALLBACK_NAME[] = L"{4AC75521-5B5A-4c49-B9A1-46EF08628F12}";
const wchar_t MONITOR_CLOSE_REQUEST_VALUE[] = L"MonitorCloseRequest";

namespace {

HANDLE CreateNamedSignalEvent(SECURITY_ATTRIBUTES* attributes, const wchar_t* name, const wchar_t* fallbackName)
{
    HANDLE event = CreateEventExW(attributes, name, CREATE_EVENT_MANUAL_RESET, SIGNAL_EVENT_ACCESS);
    if (event == nullptr)
        event = CreateEventExW(attributes, fallbackName, CREATE_EVENT_MANUAL_RESET, SIGNAL_EVENT_ACCESS);
    return event;
}

}  // namespace

UniqueLocalMemory BuildGrantingSecurityDescriptor(SECURITY_DESCRIPTOR* descriptor, const WELL_KNOWN_SID_TYPE* accounts,
                                                  size_t count, DWORD access)
{
    if (!InitializeSecurityDescriptor(descriptor, SECURITY_DESCRIPTOR_REVISION) || count > 8)
        return {};
    BYTE sids[8][SECURITY_MAX_SID_SIZE];
    // ACL header, then per account an ACCESS_ALLOWED_ACE less its SidStart
    // member (the SID's first DWORD) plus the SID.
    DWORD aclSize = sizeof(ACL);
    for (size_t i = 0; i < count; ++i) {
        DWORD sidSize = SECURITY_MAX_SID_SIZE;
        if (!CreateWellKnownSid(accounts[i], nullptr, sids[i], &sidSize))
            return {};
        aclSize += sizeof(ACCESS_ALLOWED_ACE) - sizeof(DWORD) + sidSize;
    }
    UniqueLocalMemory aclMemory(LocalAlloc(LPTR, aclSize));
    PACL acl = static_cast<PACL>(aclMemory.Get());
    if (acl == nullptr || !InitializeAcl(acl, aclSize, ACL_REVISION))
        return {};
    for (size_t i = 0; i < count; ++i) {
        if (!AddAccessAllowedAce(acl, ACL_REVISION, access, sids[i]))
            return {};
    }
    if (!SetSecurityDescriptorDacl(descriptor, TRUE, acl, FALSE))
        return {};
    return aclMemory;
}

UniqueLocalMemory BuildEventSecurityDescriptor(SECURITY_DESCRIPTOR* descriptor)
{
    const WELL_KNOWN_SID_TYPE everyone = WinWorldSid;
    return BuildGrantingSecurityDescriptor(descriptor, &everyone, 1, SIGNAL_EVENT_ACCESS);
}

void CreateSignalEvents()
{
    // Zeroed storage is no valid descriptor (revision 0) until the builder
    // has initialised it: built once, here.
    SECURITY_DESCRIPTOR descriptor = {};
    UniqueLocalMemory acl = BuildEventSecurityDescriptor(&descriptor);
    SECURITY_ATTRIBUTES attributes = {};
    attributes.nLength = sizeof(attributes);
    attributes.lpSecurityDescriptor = &descriptor;
    attributes.bInheritHandle = FALSE;

    // A descriptor that could not be initialised is not passed on: the
    // events then get the creator's default security. An initialised one
    // serves with its open DACL, or without a DACL if that could not be built.
    SECURITY_ATTRIBUTES* eventAttributes = IsValidSecurityDescriptor(&descriptor) ? &attributes : nullptr;

    SettingsChangedEvent =
        CreateNamedSignalEvent(eventAttributes, SETTINGS_CHANGED_EVENT_NAME, SETTINGS_CHANGED_EVENT_FALLBACK_NAME);
    ThreadStopEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    MonitorCloseEvent =
        CreateNamedSignalEvent(eventAttributes, MONITOR_CLOSE_EVENT_NAME, MONITOR_CLOSE_EVENT_FALLBACK_NAME);
}

void NotifySettingsChanged()
{
    Sleep(0);
    PulseEvent(SettingsChangedEvent);
}

DWORD RequestMonitorClose()
{
    // Each request differs from the one before, so that every monitor
    // running now sees a change: the system time, or one more than the
    // stored request where the clock has not moved past it.
    FILETIME now = {};
    GetSystemTimeAsFileTime(&now);
    uint64_t stamp = (static_cast<uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
    uint64_t stored = 0;
    if (ReadMonitorCloseRequest(stored) && stamp <= stored)
        stamp = stored + 1;
    bool keyFailed = false;
    const DWORD status = WriteMachineValue(SETTINGS_KEY, SETTINGS_KEY_VIEW, MONITOR_CLOSE_REQUEST_VALUE, REG_QWORD,
                                           &stamp, sizeof(stamp), keyFailed);
    Sleep(0);
    PulseEvent(MonitorCloseEvent);
    return status;
}

bool ReadMonitorCloseRequest(uint64_t& stamp)
{
    UniqueRegKey key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, SETTINGS_KEY, 0, KEY_QUERY_VALUE | SETTINGS_KEY_VIEW, key.Put()) !=
        ERROR_SUCCESS)
        return false;
    DWORD type = REG_NONE;
    uint64_t value = 0;
    DWORD size = sizeof(value);
    if (RegQueryValueExW(key.Get(), MONITOR_CLOSE_REQUEST_VALUE, nullptr, &type, reinterpret_cast<BYTE*>(&value),
                         &size) != ERROR_SUCCESS ||
        type != REG_QWORD || size != sizeof(value))
        return false;
    stamp = value;
    return true;
}
