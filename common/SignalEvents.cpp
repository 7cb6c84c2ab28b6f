#include "SignalEvents.h"

HANDLE SettingsChangedEvent = nullptr;
HANDLE ThreadStopEvent = nullptr;
HANDLE MonitorCloseEvent = nullptr;

const wchar_t SETTINGS_CHANGED_EVENT_NAME[] = L"Global\\CA56EB1D-CE28-487d-8572-E071B8507203";
const wchar_t SETTINGS_CHANGED_EVENT_FALLBACK_NAME[] = L"CA56EB1D-CE28-487d-8572-E071B8507203";
const wchar_t MONITOR_CLOSE_EVENT_NAME[] = L"Global\\{4AC75521-5B5A-4c49-B9A1-46EF08628F12}";
const wchar_t MONITOR_CLOSE_EVENT_FALLBACK_NAME[] = L"{4AC75521-5B5A-4c49-B9A1-46EF08628F12}";

namespace {

HANDLE CreateNamedSignalEvent(SECURITY_ATTRIBUTES* attributes, const wchar_t* name, const wchar_t* fallbackName)
{
    HANDLE event = CreateEventExW(attributes, name, CREATE_EVENT_MANUAL_RESET, SIGNAL_EVENT_ACCESS);
    if (event == nullptr)
        event = CreateEventExW(attributes, fallbackName, CREATE_EVENT_MANUAL_RESET, SIGNAL_EVENT_ACCESS);
    return event;
}

}  // namespace

UniqueLocalMemory BuildEventSecurityDescriptor(SECURITY_DESCRIPTOR* descriptor)
{
    if (!InitializeSecurityDescriptor(descriptor, SECURITY_DESCRIPTOR_REVISION))
        return {};

    SID_IDENTIFIER_AUTHORITY worldAuthority = SECURITY_WORLD_SID_AUTHORITY;
    PSID allocated = nullptr;
    if (!AllocateAndInitializeSid(&worldAuthority, 1, SECURITY_WORLD_RID, 0, 0, 0, 0, 0, 0, 0, &allocated))
        return {};
    // The ACE takes its own copy of the SID: this one goes on every path out.
    UniqueSid world(allocated);

    // ACL header (8) + ACCESS_ALLOWED_ACE (12) - its SidStart member (4) + the SID.
    DWORD aclSize = GetLengthSid(world.Get()) + 16;
    UniqueLocalMemory aclMemory(LocalAlloc(LPTR, aclSize));
    PACL acl = static_cast<PACL>(aclMemory.Get());
    bool built = acl != nullptr && InitializeAcl(acl, aclSize, ACL_REVISION) &&
                 AddAccessAllowedAce(acl, ACL_REVISION, SIGNAL_EVENT_ACCESS, world.Get()) &&
                 SetSecurityDescriptorDacl(descriptor, TRUE, acl, FALSE);
    if (!built)
        return {};
    return aclMemory;
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

void RequestMonitorClose()
{
    Sleep(0);
    PulseEvent(MonitorCloseEvent);
}
