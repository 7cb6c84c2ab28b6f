#include "SignalEvents.h"

HANDLE SettingsChangedEvent = nullptr;
HANDLE ThreadStopEvent = nullptr;
HANDLE MonitorCloseEvent = nullptr;

const wchar_t SETTINGS_CHANGED_EVENT_NAME[] = L"Global\\CA56EB1D-CE28-487d-8572-E071B8507203";
const wchar_t SETTINGS_CHANGED_EVENT_FALLBACK_NAME[] = L"CA56EB1D-CE28-487d-8572-E071B8507203";
const wchar_t MONITOR_CLOSE_EVENT_NAME[] = L"Global\\{4AC75521-5B5A-4c49-B9A1-46EF08628F12}";
const wchar_t MONITOR_CLOSE_EVENT_FALLBACK_NAME[] = L"{4AC75521-5B5A-4c49-B9A1-46EF08628F12}";

namespace {

// Frees the world SID on every path out of the builder.
class WorldSid {
public:
    WorldSid()
    {
        SID_IDENTIFIER_AUTHORITY world = SECURITY_WORLD_SID_AUTHORITY;
        if (!AllocateAndInitializeSid(&world, 1, SECURITY_WORLD_RID, 0, 0, 0, 0, 0, 0, 0, &sid_))
            sid_ = nullptr;
    }
    ~WorldSid()
    {
        if (sid_ != nullptr)
            FreeSid(sid_);
    }
    WorldSid(const WorldSid&) = delete;
    WorldSid& operator=(const WorldSid&) = delete;
    PSID Get() const { return sid_; }

private:
    PSID sid_ = nullptr;
};

HANDLE CreateNamedSignalEvent(SECURITY_ATTRIBUTES* attributes, const wchar_t* name, const wchar_t* fallbackName)
{
    HANDLE event = CreateEventW(attributes, TRUE, FALSE, name);
    if (event == nullptr)
        event = CreateEventW(attributes, TRUE, FALSE, fallbackName);
    return event;
}

}  // namespace

PACL BuildEventSecurityDescriptor(SECURITY_DESCRIPTOR* descriptor)
{
    if (!InitializeSecurityDescriptor(descriptor, SECURITY_DESCRIPTOR_REVISION))
        return nullptr;

    WorldSid sid;
    if (sid.Get() == nullptr)
        return nullptr;

    // ACL header (8) + ACCESS_ALLOWED_ACE (12) - its SidStart member (4) + the SID.
    DWORD aclSize = GetLengthSid(sid.Get()) + 16;
    PACL acl = static_cast<PACL>(LocalAlloc(LPTR, aclSize));
    if (acl == nullptr)
        return nullptr;

    bool built = InitializeAcl(acl, aclSize, ACL_REVISION) &&
                 AddAccessAllowedAce(acl, ACL_REVISION, EVENT_ALL_ACCESS, sid.Get()) &&
                 SetSecurityDescriptorDacl(descriptor, TRUE, acl, FALSE);
    if (!built) {
        LocalFree(acl);
        return nullptr;
    }
    return acl;
}

void CreateSignalEvents()
{
    SECURITY_DESCRIPTOR descriptor;
    SECURITY_ATTRIBUTES attributes = {};
    attributes.nLength = sizeof(attributes);
    attributes.lpSecurityDescriptor = &descriptor;
    attributes.bInheritHandle = FALSE;

    // Without an initialised descriptor its content is undefined: create the
    // events with no attributes at all (the creator's default security).
    SECURITY_ATTRIBUTES* eventAttributes = &attributes;
    PACL acl = nullptr;
    if (InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION))
        acl = BuildEventSecurityDescriptor(&descriptor);
    else
        eventAttributes = nullptr;

    SettingsChangedEvent =
        CreateNamedSignalEvent(eventAttributes, SETTINGS_CHANGED_EVENT_NAME, SETTINGS_CHANGED_EVENT_FALLBACK_NAME);
    ThreadStopEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    MonitorCloseEvent =
        CreateNamedSignalEvent(eventAttributes, MONITOR_CLOSE_EVENT_NAME, MONITOR_CLOSE_EVENT_FALLBACK_NAME);

    if (acl != nullptr)
        LocalFree(acl);
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
