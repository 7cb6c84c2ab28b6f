// BrimSet: program entry, start-up and the hidden frame window that owns the
// drive list dialog and the About box.
#include <windows.h>
#include <commctrl.h>

#include "BrimSet.h"
#include "DriveSettings.h"
#include "MessageLoop.h"
#include "ProcessCommandLine.h"
#include "SignalEvents.h"
#include "SystemLibrary.h"
#include "resource.h"

HINSTANCE ModuleInstance = nullptr;
wchar_t AppTitle[TITLE_CAPACITY] = L"";

namespace {

const wchar_t FRAME_CLASS_NAME[] = L"VELLORAN_BRIMSET";
constexpr int FRAME_WIDTH = 350;
constexpr int FRAME_HEIGHT = 100;

// Guards against the Configure command arriving again while the drive list
// dialog runs its modal loop on this thread.
bool DriveListOpen = false;

void OnConfigure(HWND frame)
{
    if (DriveListOpen)
        return;
    DriveListOpen = true;
    RunDriveListDialog(frame);
    PostMessageW(frame, WM_CLOSE, 0, 0);
    DriveListOpen = false;
}

void OnAbout(HWND frame, LPARAM lParam)
{
    HWND owner = lParam != 0 ? reinterpret_cast<HWND>(lParam) : frame;
    ShowAboutBox(owner);
}

LRESULT OnCommand(HWND frame, WPARAM wParam, LPARAM lParam)
{
    switch (LOWORD(wParam)) {
    case IDM_CONFIGURE: OnConfigure(frame); return 0;
    case IDM_EXIT: DestroyWindow(frame); return 0;
    case IDM_ABOUT: OnAbout(frame, lParam); return 0;
    default: return DefWindowProcW(frame, WM_COMMAND, wParam, lParam);
    }
}

void OnPaint(HWND frame)
{
    PAINTSTRUCT paint;
    BeginPaint(frame, &paint);
    EndPaint(frame, &paint);
}

LRESULT CALLBACK FrameWindowProc(HWND frame, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_COMMAND: return OnCommand(frame, wParam, lParam);
    case WM_PAINT: OnPaint(frame); return 0;
    case WM_DESTROY: PostQuitMessage(0); return 0;
    default: return DefWindowProcW(frame, message, wParam, lParam);
    }
}

void RegisterFrameClass(HINSTANCE instance)
{
    WNDCLASSEXW windowClass = {};
    windowClass.cbSize = sizeof(windowClass);
    windowClass.style = CS_HREDRAW | CS_VREDRAW;
    windowClass.lpfnWndProc = FrameWindowProc;
    windowClass.hInstance = instance;
    windowClass.hIcon = LoadIconW(instance, MAKEINTRESOURCEW(IDI_BRIMSET));
    windowClass.hIconSm =
        static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(IDI_BRIMSET), IMAGE_ICON, 16, 16, LR_DEFAULTCOLOR));
    windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    windowClass.lpszMenuName = MAKEINTRESOURCEW(IDR_MAINMENU);
    windowClass.lpszClassName = FRAME_CLASS_NAME;
    RegisterClassExW(&windowClass);
}

bool InitInstance(HINSTANCE instance)
{
    CreateSignalEvents();
    if (CommandLineHasSwitch(HasCloseSwitch)) {
        RequestMonitorClose();
        return false;
    }

    LoadDriveSettings();

    INITCOMMONCONTROLSEX controls = { sizeof(controls), ICC_LISTVIEW_CLASSES };
    InitCommonControlsEx(&controls);

    HWND frame = CreateWindowExW(0, FRAME_CLASS_NAME, AppTitle, WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, CW_USEDEFAULT,
                                 FRAME_WIDTH, FRAME_HEIGHT, nullptr, nullptr, instance, nullptr);
    if (frame == nullptr)
        return false;

    // The frame stays hidden: it only owns the dialogs.
    PostMessageW(frame, WM_COMMAND, MAKEWPARAM(IDM_CONFIGURE, 0), 0);
    return true;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, LPWSTR, int)
{
    ModuleInstance = instance;
    RestrictDllSearchToSystem();
    LoadStringW(instance, IDS_APP_TITLE, AppTitle, TITLE_CAPACITY);
    int verbExitCode = 0;
    if (RunCommandLineVerbs(verbExitCode))
        return verbExitCode;
    RegisterFrameClass(instance);
    if (!InitInstance(instance))
        return 0;

    return RunMessageLoop(LoadAcceleratorsW(instance, MAKEINTRESOURCEW(IDR_ACCELERATORS)));
}
