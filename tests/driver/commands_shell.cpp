// Commands that stand in for a desktop program: the long-lived window that
// brings up the desktop, and a tray icon with balloons.
#include "Driver.h"

#include <shellapi.h>

namespace {

const wchar_t HOLD_CLASS[] = L"BrimDriverHold";
const wchar_t TRAY_CLASS[] = L"BrimDriverTray";
const UINT WM_DRIVERTRAY = WM_APP + 1;
const UINT_PTR IDT_MODIFY = 1;
const UINT_PTR IDT_END = 2;

LRESULT CALLBACK HoldWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_DESTROY: PostQuitMessage(0); return 0;
    default: return DefWindowProcW(window, message, wParam, lParam);
    }
}

// hold: a hidden top-level window and its message loop, until the window is
// closed (WM_CLOSE) or the process is ended. Prints "ready <hwnd>" once the
// window exists. Being the first program with a window, it brings up the
// prefix's desktop, whose explorer inherits its environment and stderr.
int RunHold(const std::vector<std::wstring>& args)
{
    if (!args.empty())
        return UsageError(L"no arguments expected");
    HWND window = CreateDriverWindow(HOLD_CLASS, HoldWndProc, 0, L"BrimDriver hold", WS_OVERLAPPEDWINDOW, CW_USEDEFAULT,
                                     CW_USEDEFAULT, 200, 100);
    if (window == nullptr)
        return 1;
    OutLine(L"ready " + WindowText(window));
    return RunDriverMessageLoop();
}

struct TrayRun {
    UINT id;
    std::wstring balloon;
    DWORD seconds;
    bool failed;
};
TrayRun Tray;

NOTIFYICONDATAW TrayData(HWND window)
{
    NOTIFYICONDATAW data = {};
    data.cbSize = sizeof(data);
    data.hWnd = window;
    data.uID = Tray.id;
    return data;
}

void ShowTrayResult(const wchar_t* what, BOOL ok)
{
    if (ok) {
        OutLine(what);
    } else {
        Fail(std::wstring(what) + L": Shell_NotifyIconW failed");
        Tray.failed = true;
    }
}

void OnTrayCreate(HWND window)
{
    NOTIFYICONDATAW data = TrayData(window);
    data.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP | NIF_INFO;
    data.uCallbackMessage = WM_DRIVERTRAY;
    data.hIcon = LoadIconW(nullptr, IDI_APPLICATION);
    lstrcpynW(data.szTip, L"Harness tip", ARRAYSIZE(data.szTip));
    lstrcpynW(data.szInfoTitle, L"Harness title", ARRAYSIZE(data.szInfoTitle));
    lstrcpynW(data.szInfo, Tray.balloon.c_str(), ARRAYSIZE(data.szInfo));
    data.uTimeout = 10000;
    data.dwInfoFlags = NIIF_INFO;
    ShowTrayResult(L"added", Shell_NotifyIconW(NIM_ADD, &data));
    SetTimer(window, IDT_MODIFY, Tray.seconds * 500, nullptr);
    SetTimer(window, IDT_END, Tray.seconds * 1000, nullptr);
}

void OnTrayModify(HWND window)
{
    KillTimer(window, IDT_MODIFY);
    NOTIFYICONDATAW data = TrayData(window);
    data.uFlags = NIF_TIP | NIF_INFO;
    lstrcpynW(data.szTip, L"Harness tip again", ARRAYSIZE(data.szTip));
    lstrcpynW(data.szInfoTitle, L"Harness title", ARRAYSIZE(data.szInfoTitle));
    lstrcpynW(data.szInfo, (Tray.balloon + L" again").c_str(), ARRAYSIZE(data.szInfo));
    data.uTimeout = 10000;
    data.dwInfoFlags = NIIF_WARNING;
    ShowTrayResult(L"modified", Shell_NotifyIconW(NIM_MODIFY, &data));
}

void OnTrayEnd(HWND window)
{
    KillTimer(window, IDT_END);
    NOTIFYICONDATAW data = TrayData(window);
    ShowTrayResult(L"deleted", Shell_NotifyIconW(NIM_DELETE, &data));
    DestroyWindow(window);
}

void OnTrayTimer(HWND window, UINT_PTR timer)
{
    if (timer == IDT_MODIFY)
        OnTrayModify(window);
    else if (timer == IDT_END)
        OnTrayEnd(window);
}

LRESULT CALLBACK TrayWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_CREATE: OnTrayCreate(window); return 0;
    case WM_TIMER: OnTrayTimer(window, wParam); return 0;
    case WM_DESTROY: PostQuitMessage(0); return 0;
    default: return DefWindowProcW(window, message, wParam, lParam);
    }
}

// trayicon <seconds> [id] [balloon text]: adds one icon (default id 7) with
// the tip "Harness tip" and a balloon (title "Harness title", text default
// "Harness balloon", info icon); after half the time modifies it (tip
// "Harness tip again", balloon "<text> again", warning icon); at the end
// deletes it. Prints "added", "modified", "deleted" as each call succeeds.
int RunTrayIcon(const std::vector<std::wstring>& args)
{
    if (args.empty() || args.size() > 3)
        return UsageError(L"a duration in seconds expected");
    std::optional<uint64_t> seconds = ParseUnsigned(args[0]);
    std::optional<uint64_t> id = args.size() > 1 ? ParseUnsigned(args[1]) : std::optional<uint64_t>(7);
    if (!seconds || *seconds == 0 || *seconds > 3600 || !id || *id > 0xFFFFFFFFu)
        return UsageError(L"bad duration or id");
    Tray.id = static_cast<UINT>(*id);
    Tray.balloon = args.size() > 2 ? args[2] : L"Harness balloon";
    Tray.seconds = static_cast<DWORD>(*seconds);
    Tray.failed = false;

    HWND window = CreateDriverWindow(TRAY_CLASS, TrayWndProc, 0, L"BrimDriver tray", WS_OVERLAPPEDWINDOW, CW_USEDEFAULT,
                                     CW_USEDEFAULT, 200, 100);
    if (window == nullptr)
        return 1;
    RunDriverMessageLoop();
    return Tray.failed ? 1 : 0;
}

const CommandRegistrar holdCommand{ L"hold", L"", RunHold };
const CommandRegistrar trayIconCommand{ L"trayicon", L"<seconds> [id] [balloon text]", RunTrayIcon };

}  // namespace
