// VelloranUpdater: program entry. Reads the caller's request and the
// administrator's policy, keeps to one updater per session, and either ends
// at once, checks in the background (the schedule) or opens its window.
#include <windows.h>
#include <objbase.h>

#include "CommandLine.h"
#include "Handles.h"
#include "MachinePolicy.h"
#include "SystemLibrary.h"
#include "Updater.h"
#include "Version.h"

HINSTANCE ModuleInstance = nullptr;
UpdaterRequest Request;

namespace {

static_assert(STORED_TYPE_STRING == REG_SZ && STORED_TYPE_DWORD == REG_DWORD,
              "the policy rule's value types are the registry's");

const wchar_t UPDATE_CHECK_VALUE[] = L"UpdateCheck";
const wchar_t UPDATE_FEED_URL_VALUE[] = L"UpdateFeedUrl";
// One updater per user's session: the monitor's daily start and a click in
// the About box must not stack windows.
const wchar_t INSTANCE_GUARD_NAME[] = L"Local\\Velloran.Brimline.VelloranUpdater";

StoredValue ReadStoredValue(HKEY key, const wchar_t* name)
{
    StoredValue value;
    DWORD type = REG_NONE;
    DWORD size = 0;
    if (RegQueryValueExW(key, name, nullptr, &type, nullptr, &size) != ERROR_SUCCESS)
        return value;
    value.data.resize(size);
    value.present = RegQueryValueExW(key, name, nullptr, &type, value.data.data(), &size) == ERROR_SUCCESS;
    value.type = type;
    value.data.resize(size);
    return value;
}

// The machine policy, in the native registry view whatever this program's
// bitness: policies are written there by the administrator's tools.
UpdatePolicy ReadUpdatePolicy()
{
    UniqueRegKey key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, BRIMLINE_POLICY_KEY, 0, KEY_QUERY_VALUE | BRIMLINE_POLICY_VIEW, key.Put()) != ERROR_SUCCESS)
        return UpdatePolicy{};
    return DecodeUpdatePolicy(ReadStoredValue(key.Get(), UPDATE_CHECK_VALUE),
                              ReadStoredValue(key.Get(), UPDATE_FEED_URL_VALUE));
}

// The schedule's check: no window unless there is something to offer.
void CheckInBackground(const std::wstring& address)
{
    CheckResult result;
    UniqueKernelHandle thread(StartFeedCheck(address, nullptr));
    if (!thread) {
        result.failure = CHECK_SYSTEM_ERROR;
        result.code = GetLastError();
    } else if (WaitForSingleObject(thread.Get(), UPDATE_CHECK_TIME_LIMIT) != WAIT_OBJECT_0) {
        result.failure = CHECK_TIMED_OUT;
    } else {
        result = JudgeFeedResponse(FinishedFeedResponse());
    }
    UpdaterView view = ChooseView(Request, result);
    if (view != VIEW_NONE)
        RunUpdateDialog(view, result, address);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int)
{
    ModuleInstance = instance;
    RestrictDllSearchToSystem();
    Request = ParseUpdaterParameters(SkipProgramToken(GetCommandLineW()));

    // Held until the process ends. A second updater ends at once; without
    // the guard (a name taken by another kind of object) the check goes on.
    HANDLE guard = CreateMutexW(nullptr, FALSE, INSTANCE_GUARD_NAME);
    if (guard != nullptr && GetLastError() == ERROR_ALREADY_EXISTS)
        return 0;

    // The shell, for opening the page, wants a single-threaded apartment.
    HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
    CheckPlan plan = PlanUpdateCheck(ReadUpdatePolicy(), BRIM_UPDATE_FEED_URL);
    if (!plan.contactFeed) {
        UpdaterView view = ChooseViewWithoutContact(Request, plan);
        if (view != VIEW_NONE)
            RunUpdateDialog(view, plan.result, std::wstring());
    } else if (Request.origin == UPDATE_ORIGIN_SCHEDULE) {
        CheckInBackground(plan.address);
    } else {
        RunUpdateDialog(VIEW_CHECKING, CheckResult{}, plan.address);
    }
    if (SUCCEEDED(com))
        CoUninitialize();
    return 0;
}
