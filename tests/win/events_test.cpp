// The named events: their names, their one open ACE, and a pulse crossing
// from one process to another.
#include <windows.h>

#include <aclapi.h>
#include <gtest/gtest.h>

#include <string>

#include "Handles.h"
#include "SignalEvents.h"

namespace {

bool IsWorldSid(PSID sid)
{
    SID_IDENTIFIER_AUTHORITY world = SECURITY_WORLD_SID_AUTHORITY;
    PSID everyone = nullptr;
    if (!AllocateAndInitializeSid(&world, 1, SECURITY_WORLD_RID, 0, 0, 0, 0, 0, 0, 0, &everyone))
        return false;
    bool equal = EqualSid(sid, everyone) != FALSE;
    FreeSid(everyone);
    return equal;
}

void ExpectOneEveryoneAce(PACL acl)
{
    ASSERT_NE(acl, nullptr);
    ACL_SIZE_INFORMATION info = {};
    ASSERT_TRUE(GetAclInformation(acl, &info, sizeof(info), AclSizeInformation));
    ASSERT_EQ(info.AceCount, 1u);
    void* ace = nullptr;
    ASSERT_TRUE(GetAce(acl, 0, &ace));
    auto* allowed = static_cast<ACCESS_ALLOWED_ACE*>(ace);
    EXPECT_EQ(allowed->Header.AceType, ACCESS_ALLOWED_ACE_TYPE);
    EXPECT_EQ(allowed->Header.AceFlags, 0);
    EXPECT_EQ(allowed->Mask, static_cast<DWORD>(SYNCHRONIZE | EVENT_MODIFY_STATE));
    EXPECT_TRUE(IsWorldSid(&allowed->SidStart));
}

}  // namespace

TEST(SignalEvents, DescriptorHoldsOneAceForEveryone)
{
    SECURITY_DESCRIPTOR descriptor;
    UniqueLocalMemory owned = BuildEventSecurityDescriptor(&descriptor);
    PACL acl = static_cast<PACL>(owned.Get());
    ASSERT_NE(acl, nullptr);
    EXPECT_TRUE(IsValidSecurityDescriptor(&descriptor));
    EXPECT_EQ(acl->AclRevision, ACL_REVISION);
    EXPECT_EQ(acl->AclSize, 28);  // 8 header + 8 ACE fixed part + 12 world SID

    BOOL present = FALSE, defaulted = TRUE;
    PACL dacl = nullptr;
    ASSERT_TRUE(GetSecurityDescriptorDacl(&descriptor, &present, &dacl, &defaulted));
    EXPECT_TRUE(present);
    EXPECT_FALSE(defaulted);
    EXPECT_EQ(dacl, acl);
    ExpectOneEveryoneAce(dacl);

    PSID owner = reinterpret_cast<PSID>(1);
    BOOL ownerDefaulted = FALSE;
    ASSERT_TRUE(GetSecurityDescriptorOwner(&descriptor, &owner, &ownerDefaulted));
    EXPECT_EQ(owner, nullptr);
}

TEST(SignalEvents, EventsAreCreatedUnderTheirNamesWithTheOpenDescriptor)
{
    CreateSignalEvents();
    ASSERT_NE(SettingsChangedEvent, nullptr);
    ASSERT_NE(ThreadStopEvent, nullptr);
    ASSERT_NE(MonitorCloseEvent, nullptr);
    EXPECT_NE(SettingsChangedEvent, MonitorCloseEvent);

    // Both named events can be opened by the exact global names.
    UniqueKernelHandle settings(OpenEventW(SYNCHRONIZE, FALSE, L"Global\\CA56EB1D-CE28-487d-8572-E071B8507203"));
    UniqueKernelHandle close(OpenEventW(SYNCHRONIZE, FALSE, L"Global\\{4AC75521-5B5A-4c49-B9A1-46EF08628F12}"));
    EXPECT_TRUE(settings);
    EXPECT_TRUE(close);

    // Manual reset, not signalled.
    EXPECT_EQ(WaitForSingleObject(SettingsChangedEvent, 0), static_cast<DWORD>(WAIT_TIMEOUT));
    EXPECT_EQ(WaitForSingleObject(MonitorCloseEvent, 0), static_cast<DWORD>(WAIT_TIMEOUT));
    EXPECT_EQ(WaitForSingleObject(ThreadStopEvent, 0), static_cast<DWORD>(WAIT_TIMEOUT));
    SetEvent(ThreadStopEvent);
    EXPECT_EQ(WaitForSingleObject(ThreadStopEvent, 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(ThreadStopEvent, 0), WAIT_OBJECT_0);
    ResetEvent(ThreadStopEvent);

    // Read back from the kernel; an open asking for exactly that access works.
    for (const wchar_t* name : { SETTINGS_CHANGED_EVENT_NAME, MONITOR_CLOSE_EVENT_NAME }) {
        SCOPED_TRACE(testing::Message() << "event " << name);
        UniqueKernelHandle readable(OpenEventW(READ_CONTROL, FALSE, name));
        ASSERT_TRUE(readable);
        PACL dacl = nullptr;
        PSECURITY_DESCRIPTOR descriptor = nullptr;
        ASSERT_EQ(ERROR_SUCCESS, GetSecurityInfo(readable.Get(), SE_KERNEL_OBJECT, DACL_SECURITY_INFORMATION, nullptr,
                                                 nullptr, &dacl, nullptr, &descriptor));
        ExpectOneEveryoneAce(dacl);
        LocalFree(descriptor);
        UniqueKernelHandle signalling(OpenEventW(SYNCHRONIZE | EVENT_MODIFY_STATE, FALSE, name));
        EXPECT_TRUE(signalling && PulseEvent(signalling.Get()));
    }
}

TEST(SignalEvents, APulseWithNobodyWaitingIsLost)
{
    CreateSignalEvents();
    NotifySettingsChanged();
    RequestMonitorClose();
    EXPECT_EQ(WaitForSingleObject(SettingsChangedEvent, 0), static_cast<DWORD>(WAIT_TIMEOUT));
    EXPECT_EQ(WaitForSingleObject(MonitorCloseEvent, 0), static_cast<DWORD>(WAIT_TIMEOUT));
}

// The close request is the stored value, not the pulse: two requests in a
// row, however close, are told apart.
TEST(SignalEvents, EachCloseRequestStoresANewValue)
{
    uint64_t first = 0;
    uint64_t second = 0;
    ASSERT_EQ(RequestMonitorClose(), static_cast<DWORD>(ERROR_SUCCESS));
    ASSERT_TRUE(ReadMonitorCloseRequest(first));
    ASSERT_EQ(RequestMonitorClose(), static_cast<DWORD>(ERROR_SUCCESS));
    ASSERT_TRUE(ReadMonitorCloseRequest(second));
    EXPECT_NE(first, second);
}

TEST(SignalEvents, APulseWakesAWaiterInAnotherProcess)
{
    CreateSignalEvents();
    UniqueKernelHandle ready(CreateEventW(nullptr, TRUE, FALSE, L"BrimTestWaiterReady"));
    ASSERT_TRUE(ready);
    ResetEvent(ready.Get());

    wchar_t self[MAX_PATH];
    ASSERT_GT(GetModuleFileNameW(nullptr, self, MAX_PATH), 0u);
    std::wstring commandLine = std::wstring(L"\"") + self + L"\" --wait-settings";
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process = {};
    ASSERT_TRUE(
        CreateProcessW(nullptr, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process));
    UniqueKernelHandle child(process.hProcess);
    CloseHandle(process.hThread);

    ASSERT_EQ(WaitForSingleObject(ready.Get(), 20000), WAIT_OBJECT_0);
    // The waiter may not be inside its wait yet: a pulse then is lost, so
    // pulse until it reports.
    DWORD waited = WAIT_TIMEOUT;
    for (int i = 0; i < 200 && waited == WAIT_TIMEOUT; ++i) {
        NotifySettingsChanged();
        waited = WaitForSingleObject(child.Get(), 50);
    }
    ASSERT_EQ(waited, WAIT_OBJECT_0);
    DWORD code = 99;
    GetExitCodeProcess(child.Get(), &code);
    EXPECT_EQ(code, 0u);
}
