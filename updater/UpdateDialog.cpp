// The updater's one window: while the check runs, what it found, or why it
// failed; with a later version, the offer to open the download page.
#include <windows.h>
#include <winhttp.h>

#include <initializer_list>
#include <string>

#include "Handles.h"
#include "OpenAsUser.h"
#include "StringTable.h"
#include "SystemText.h"
#include "Updater.h"
#include "resource.h"

namespace {

constexpr UINT_PTR IDT_DEADLINE = 1;
constexpr size_t MESSAGE_CAPACITY = 1024;

// How the dialog begins (its creation parameter).
struct DialogStart {
    UpdaterView view;
    CheckResult result;
    std::wstring address;  // the feed, for VIEW_CHECKING
};

UpdaterView CurrentView = VIEW_NONE;
std::wstring PageAddress;  // the feed's download page, while it is offered

// A string-table text filled with the arguments.
std::wstring FormatString(UINT id, std::initializer_list<FormatArg> args)
{
    return LoadFormattedString(ModuleInstance, id, args, MESSAGE_CAPACITY);
}

// The system's words for an error. WinHTTP's own errors are in its message
// table, the rest in the system's.
std::wstring SystemMessage(DWORD error)
{
    HMODULE source = nullptr;
    if (error >= WINHTTP_ERROR_BASE && error <= WINHTTP_ERROR_LAST)
        source = GetModuleHandleW(L"winhttp.dll");
    std::wstring text = SystemErrorText(error, source);
    return text.empty() ? FormatString(IDS_ERROR_CODE, { error }) : text;
}

std::wstring FailureMessage(const CheckResult& result)
{
    switch (result.failure) {
    case CHECK_BAD_FEED_ADDRESS: return FormatString(IDS_FAILED_ADDRESS, {});
    case CHECK_HTTP_STATUS: return FormatString(IDS_FAILED_STATUS, { result.code });
    case CHECK_MALFORMED_FEED: return FormatString(IDS_FAILED_MALFORMED, {});
    case CHECK_TIMED_OUT: return FormatString(IDS_FAILED_TIMEOUT, { UPDATE_CHECK_TIME_LIMIT / 1000 });
    case CHECK_INSECURE_PAGE: return FormatString(IDS_FAILED_INSECURE_PAGE, {});
    default: return FormatString(IDS_FAILED_SYSTEM, { SystemMessage(result.code).c_str() });
    }
}

std::wstring ViewMessage(UpdaterView view, const CheckResult& result)
{
    std::wstring available = FormatPackedVersion(result.feed.version);
    std::wstring installed = FormatPackedVersion(Request.installedVersion);
    switch (view) {
    case VIEW_CHECKING: return FormatString(IDS_CHECKING, {});
    case VIEW_MANAGED: return FormatString(IDS_MANAGED, {});
    case VIEW_OFFER: return FormatString(IDS_OFFER, { available.c_str(), installed.c_str() });
    case VIEW_OFFER_UNKNOWN: return FormatString(IDS_OFFER_UNKNOWN, { available.c_str() });
    case VIEW_LATEST: return FormatString(IDS_LATEST, { installed.c_str() });
    default: return FailureMessage(result);
    }
}

// The message, whether the page is offered, and what the other button
// says; the default button follows.
void ShowMessage(HWND dialog, const std::wstring& message, bool offer, UINT closeTextId)
{
    SetDlgItemTextW(dialog, IDC_MESSAGE, message.c_str());
    SetDlgItemTextW(dialog, IDCANCEL, FormatString(closeTextId, {}).c_str());
    ShowWindow(GetDlgItem(dialog, IDOK), offer ? SW_SHOW : SW_HIDE);
    int defaultId = offer ? IDOK : IDCANCEL;
    SendMessageW(dialog, DM_SETDEFID, static_cast<WPARAM>(defaultId), 0);
    SendMessageW(dialog, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(GetDlgItem(dialog, defaultId)), TRUE);
}

// The button that closes: Cancel while checking, Remind Me Later beside an
// offer, Close otherwise.
UINT CloseTextId(UpdaterView view)
{
    switch (view) {
    case VIEW_CHECKING: return IDS_BUTTON_CANCEL;
    case VIEW_OFFER: return IDS_BUTTON_LATER;
    default: return IDS_BUTTON_CLOSE;
    }
}

void ShowView(HWND dialog, UpdaterView view, const CheckResult& result)
{
    CurrentView = view;
    const bool offer = view == VIEW_OFFER || view == VIEW_OFFER_UNKNOWN;
    PageAddress = offer ? result.feed.page : std::wstring();
    ShowMessage(dialog, ViewMessage(view, result), offer, CloseTextId(view));
}

void StartCheck(HWND dialog, const std::wstring& address)
{
    UniqueKernelHandle thread(StartFeedCheck(address, dialog));
    if (!thread) {
        CheckResult failed;
        failed.failure = CHECK_SYSTEM_ERROR;
        failed.code = GetLastError();
        ShowView(dialog, VIEW_FAILED, failed);
        return;
    }
    // The thread ends on its own; the deadline does not wait for it.
    SetTimer(dialog, IDT_DEADLINE, UPDATE_CHECK_TIME_LIMIT, nullptr);
}

// The program's icon at a size the system uses; shared, so never freed.
LPARAM SharedIcon(int widthMetric, int heightMetric)
{
    return reinterpret_cast<LPARAM>(LoadImageW(ModuleInstance, MAKEINTRESOURCEW(IDI_UPDATER), IMAGE_ICON,
                                               GetSystemMetrics(widthMetric), GetSystemMetrics(heightMetric),
                                               LR_SHARED));
}

// ---------------------------------------------------------------- handlers

INT_PTR OnInitDialog(HWND dialog, const DialogStart* start)
{
    SendMessageW(dialog, WM_SETICON, ICON_BIG, SharedIcon(SM_CXICON, SM_CYICON));
    SendMessageW(dialog, WM_SETICON, ICON_SMALL, SharedIcon(SM_CXSMICON, SM_CYSMICON));
    ShowView(dialog, start->view, start->result);
    if (start->view == VIEW_CHECKING)
        StartCheck(dialog, start->address);
    // The focus is set: the dialog manager must not move it.
    return FALSE;
}

void OnCheckEnded(HWND dialog, bool deadlinePassed)
{
    // A late answer after the deadline, or a second notice, changes nothing.
    if (CurrentView != VIEW_CHECKING)
        return;
    KillTimer(dialog, IDT_DEADLINE);
    CheckResult result;
    if (deadlinePassed)
        result.failure = CHECK_TIMED_OUT;
    else
        result = JudgeFeedResponse(FinishedFeedResponse());
    ShowView(dialog, ChooseView(Request, result), result);
}

void OnOpenPage(HWND dialog)
{
    if (CurrentView != VIEW_OFFER && CurrentView != VIEW_OFFER_UNKNOWN) {
        EndDialog(dialog, IDCANCEL);
        return;
    }
    // Only a web address is ever opened, and never with an elevated token.
    if (IsWebAddress(PageAddress) && OpenAsUser(dialog, PageAddress.c_str())) {
        EndDialog(dialog, IDOK);
        return;
    }
    // Not opened: the user can still reach the page by its address.
    CurrentView = VIEW_FAILED;
    ShowMessage(dialog, FormatString(IDS_PAGE_NOT_OPENED, { PageAddress.c_str() }), false, IDS_BUTTON_CLOSE);
}

INT_PTR CALLBACK UpdateDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_INITDIALOG: return OnInitDialog(dialog, reinterpret_cast<const DialogStart*>(lParam));
    case WM_FEEDCHECKED: OnCheckEnded(dialog, false); return TRUE;
    case WM_TIMER:
        if (wParam != IDT_DEADLINE)
            return FALSE;
        OnCheckEnded(dialog, true);
        return TRUE;
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDOK: OnOpenPage(dialog); return TRUE;
        case IDCANCEL: EndDialog(dialog, IDCANCEL); return TRUE;
        default: return FALSE;
        }
    default: return FALSE;
    }
}

}  // namespace

void RunUpdateDialog(UpdaterView view, const CheckResult& result, const std::wstring& address)
{
    DialogStart start{ view, result, address };
    DialogBoxParamW(ModuleInstance, MAKEINTRESOURCEW(IDD_UPDATE), nullptr, UpdateDialogProc,
                    reinterpret_cast<LPARAM>(&start));
}
