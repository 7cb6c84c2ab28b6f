// Start-up, the hidden window that owns the tray icons and the timer, and
// the tray commands.
#include <windows.h>
#include <shellapi.h>
#include <shlwapi.h>

#include <string>

#include "DriveSettings.h"
#include "EventReport.h"
#include "Handles.h"
#include "MessageLoop.h"
#include "Monitor.h"
#include "MonitorLogic.h"
#include "ProcessCommandLine.h"
#include "Scan.h"
#include "SignalEvents.h"
#include "SystemLibrary.h"
#include "VersionInfo.h"
#include "resource.h"

HINSTANCE ModuleInstance = nullptr;

namespace {

constexpr UINT_PTR IDT_SCAN = 1;
constexpr int TITLE_LENGTH = 100;
constexpr int WINDOW_WIDTH = 350;
constexpr int WINDOW_HEIGHT = 100;

const wchar_t MONITOR_CLASS_NAME[] = L"Velloran_BRIMWATCH_wndClass";
// One monitor per user: the name lies in the user's own logon namespace.
const wchar_t INSTANCE_GUARD_NAME[] = L"{FB3C04D9-4A91-4728-AA0D-F157A2AF632F}";
const wchar_t RESTARTED_PARAMETERS[] = L"/N";
const wchar_t EXPLORER_FILE_NAME[] = L"explorer";

wchar_t WindowTitle[TITLE_LENGTH] = L"";
UINT TaskbarCreatedMessage = 0;  // 0 until registered, and if registration failed
HANDLE InstanceGuardEvent = nullptr;
bool CleanupToolFound = false;
HANDLE EventThread = nullptr;
// Tick count at which IDT_SCAN is next due.
DWORD ScanDueTick = 0;
// The user's last update check, read at the first tick.
UpdateSchedule UpdateCheckSchedule;
// The administrators' close request as it stood when the monitor started.
CloseRequestMark CloseRequestAtStart;

// Program starts are fire and forget: the result is not looked at.
void StartProgram(HWND owner, const wchar_t* file, const wchar_t* parameters)
{
    ShellExecuteW(owner, nullptr, file, parameters, nullptr, SW_SHOWNORMAL);
}

// ---------------------------------------------------------------- commands

void RunConfigProgram(HWND window)
{
    std::wstring path = ConfigProgramPath(ModuleFilePath(ModuleInstance));
    StartProgram(window, path.c_str(), nullptr);
}

void RunCleanupTool(HWND window, LPARAM driveIndex)
{
    if (!IsDriveIndex(static_cast<uint64_t>(driveIndex)))
        return;
    std::wstring parameters = CleanupToolParameters(static_cast<int>(driveIndex));
    StartProgram(window, CLEANUP_TOOL_FILE_NAME, parameters.c_str());
}

void RunExplorer(HWND window, LPARAM driveIndex)
{
    if (!IsDriveIndex(static_cast<uint64_t>(driveIndex)))
        return;
    std::wstring parameters = ExplorerParameters(static_cast<int>(driveIndex));
    StartProgram(window, EXPLORER_FILE_NAME, parameters.c_str());
}

int AskMuteBalloons(HWND window)
{
    wchar_t question[256] = L"";
    LoadStringW(ModuleInstance, IDS_MUTE_QUESTION, question, ARRAYSIZE(question));
    return MessageBoxW(window, question, WindowTitle, MB_YESNO | MB_ICONQUESTION);
}

// The icon's menu. The chosen command is posted, so that it runs after the
// menu has closed; the drive commands carry the icon's drive in lParam.
void ShowTrayMenu(HWND window, int driveIndex)
{
    UniqueMenu menu(LoadMenuW(ModuleInstance, MAKEINTRESOURCEW(IDR_TRAYMENU)));
    HMENU popup = menu ? GetSubMenu(menu.Get(), 0) : nullptr;
    if (popup == nullptr)
        return;
    POINT cursor = {};
    GetCursorPos(&cursor);
    if (!CleanupToolFound)
        EnableMenuItem(popup, IDM_RUN_CLEANUP, MF_BYCOMMAND | MF_GRAYED);
    SetForegroundWindow(window);
    UINT command = static_cast<UINT>(
        TrackPopupMenu(popup, TPM_RETURNCMD | TPM_RIGHTBUTTON, cursor.x, cursor.y, 0, window, nullptr));
    PostMessageW(window, WM_NULL, 0, 0);
    if (command == 0)
        return;
    LPARAM target = (command == IDM_RUN_CLEANUP || command == IDM_RUN_EXPLORER) ? driveIndex : 0;
    PostMessageW(window, WM_COMMAND, command, target);
}

// ---------------------------------------------------------------- handlers

CloseRequestMark ReadCloseRequestMark()
{
    CloseRequestMark mark;
    mark.Present = ReadMonitorCloseRequest(mark.Stamp);
    return mark;
}

// Closes the window when an administrator asked the monitors to close since
// this one started; a close signal alone, which any account may send, is
// not enough. Returns whether it did.
bool CloseIfRequested(HWND window)
{
    if (!IsNewCloseRequest(CloseRequestAtStart, ReadCloseRequestMark()))
        return false;
    DestroyWindow(window);
    return true;
}

void ArmScanTimer(HWND window, UINT delay)
{
    ScanDueTick = GetTickCount() + delay;
    SetTimer(window, IDT_SCAN, delay, nullptr);
}

LRESULT OnTaskbarCreated()
{
    ForgetTrayIcons();
    return 0;
}

LRESULT OnCreate(HWND window)
{
    TaskbarCreatedMessage = RegisterWindowMessageW(L"TaskbarCreated");
    // Armed with or without the instance guard: a monitor that runs must warn.
    ArmScanTimer(window, SCAN_PERIOD);
    return 0;
}

// One tick of the scan timer.
void RunScanTick(HWND window)
{
    // Re-armed first: nothing below may leave the monitor without its next
    // tick, even if it blocks or runs a modal loop.
    ArmScanTimer(window, SCAN_PERIOD);
    // The registry tells the worker thread of every change of the settings
    // key. Until it can (the key is not there yet, or the watch failed),
    // the settings are read at every tick, so that a change waits at most
    // one tick, and the watch is tried again.
    if (!IsSettingsKeyWatched()) {
        if (CloseIfRequested(window))
            return;
        LoadDriveSettings();
        RetrySettingsWatch();
    }
    ScanDrives(window);
    CheckForUpdatesIfDue(window, ModuleInstance, UpdateCheckInterval, UpdateCheckSchedule);
}

LRESULT OnTimer(HWND window, WPARAM timerId)
{
    if (timerId == IDT_SCAN)
        RunScanTick(window);
    return 0;
}

// The registry reports every write of the settings key, the close request
// among them.
LRESULT OnReloadSettings(HWND window, WPARAM how)
{
    if (how != RELOAD_WITHOUT_RESCAN)
        SettingsReloadTaken();
    if (CloseIfRequested(window))
        return 0;
    LoadDriveSettings();
    if (how == RELOAD_WITHOUT_RESCAN)
        return 0;
    const DWORD now = GetTickCount();
    if (IsScanDue(now, ScanDueTick))
        RunScanTick(window);
    else if (ReloadMovesScan(now, ScanDueTick))
        ArmScanTimer(window, RESCAN_DELAY);
    return 0;
}

LRESULT OnCheckCloseRequest(HWND window)
{
    CloseCheckTaken();
    CloseIfRequested(window);
    return 0;
}

LRESULT OnTrayIcon(HWND window, WPARAM iconId, LPARAM event)
{
    if (!IsDriveIndex(static_cast<uint64_t>(iconId)))
        return 0;
    const int driveIndex = static_cast<int>(iconId);
    switch (static_cast<UINT>(event)) {
    case WM_MOUSEMOVE: RefreshTrayTip(window, driveIndex); break;
    case WM_LBUTTONDOWN:
    case WM_RBUTTONDOWN: ShowTrayMenu(window, driveIndex); break;
    case NIN_BALLOONUSERCLICK:
        if (AskMuteBalloons(window) == IDYES)
            MuteBalloons(driveIndex);
        break;
    default: break;
    }
    return 0;
}

LRESULT OnCommand(HWND window, WPARAM wParam, LPARAM lParam)
{
    switch (LOWORD(wParam)) {
    case IDM_EXIT: DestroyWindow(window); return 0;
    case IDM_CONFIGURE: RunConfigProgram(window); return 0;
    case IDM_RUN_CLEANUP: RunCleanupTool(window, lParam); return 0;
    case IDM_TRAY_EXIT: PostMessageW(window, WM_CLOSE, 0, 0); return 0;
    case IDM_RUN_EXPLORER: RunExplorer(window, lParam); return 0;
    default: return DefWindowProcW(window, WM_COMMAND, wParam, lParam);
    }
}

LRESULT OnPaint(HWND window)
{
    PAINTSTRUCT paint;
    BeginPaint(window, &paint);
    EndPaint(window, &paint);
    return 0;
}

LRESULT OnDestroy(HWND window)
{
    DeleteAllTrayIcons(window);
    // Without a stop event the thread cannot be told to end; it ends with
    // the process instead of holding up the exit.
    if (ThreadStopEvent != nullptr) {
        SetEvent(ThreadStopEvent);
        if (EventThread != nullptr)
            WaitForSingleObject(EventThread, INFINITE);
    }
    PostQuitMessage(0);
    return 0;
}

LRESULT CALLBACK MonitorWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (IsTaskbarCreatedMessage(message, TaskbarCreatedMessage))
        return OnTaskbarCreated();
    switch (message) {
    case WM_CREATE: return OnCreate(window);
    case WM_TIMER: return OnTimer(window, wParam);
    case WM_RELOADSETTINGS: return OnReloadSettings(window, wParam);
    case WM_CHECKCLOSEREQUEST: return OnCheckCloseRequest(window);
    case WM_TRAYICON: return OnTrayIcon(window, wParam, lParam);
    case WM_COMMAND: return OnCommand(window, wParam, lParam);
    case WM_PAINT: return OnPaint(window);
    case WM_DESTROY: return OnDestroy(window);
    default: return DefWindowProcW(window, message, wParam, lParam);
    }
}

// ---------------------------------------------------------------- start-up

void RegisterMonitorClass(HINSTANCE instance)
{
    WNDCLASSEXW windowClass = {};
    windowClass.cbSize = sizeof(windowClass);
    windowClass.style = CS_HREDRAW | CS_VREDRAW;
    windowClass.lpfnWndProc = MonitorWndProc;
    windowClass.hInstance = instance;
    windowClass.hIcon = LoadIconW(instance, MAKEINTRESOURCEW(IDI_BRIMWATCH));
    windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_WINDOW + 1));
    windowClass.lpszMenuName = MAKEINTRESOURCEW(IDR_MAINMENU);
    windowClass.lpszClassName = MONITOR_CLASS_NAME;
    windowClass.hIconSm = LoadIconW(instance, MAKEINTRESOURCEW(IDI_SMALL));
    RegisterClassExW(&windowClass);
}

bool InitMonitorInstance(HINSTANCE instance)
{
    CloseRequestAtStart = ReadCloseRequestMark();
    CreateSignalEvents();

    if (CommandLineHasSwitch(HasRestartSwitch)) {
        std::wstring path = ModuleFilePath(instance);
        StartProgram(nullptr, path.c_str(), RESTARTED_PARAMETERS);
        return false;
    }

    InstanceGuardEvent = CreateEventW(nullptr, TRUE, FALSE, INSTANCE_GUARD_NAME);
    if (InstanceGuardEvent != nullptr && GetLastError() == ERROR_ALREADY_EXISTS)
        return false;

    OpenEventSource();

    // Only whether the tool exists is kept; it is started by its bare name.
    wchar_t cleanupTool[MAX_PATH] = L"";
    lstrcpynW(cleanupTool, CLEANUP_TOOL_FILE_NAME, MAX_PATH);
    CleanupToolFound = PathFindOnPathW(cleanupTool, nullptr) != FALSE;

    LoadDriveSettings();

    HWND window = CreateWindowExW(0, MONITOR_CLASS_NAME, WindowTitle, WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, CW_USEDEFAULT,
                                  WINDOW_WIDTH, WINDOW_HEIGHT, nullptr, nullptr, instance, nullptr);
    if (window == nullptr)
        return false;

    EventThread = StartEventWaitThread(window);
    return true;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int)
{
    ModuleInstance = instance;
    RestrictDllSearchToSystem();
    // The scan asks a watched drive's free space before its type: a drive
    // letter that now names an empty removable drive must fail quietly, not
    // ask the user for a disk. Not inherited by the programs it starts.
    SetThreadErrorMode(SEM_FAILCRITICALERRORS, nullptr);
    LoadStringW(instance, IDS_APP_TITLE, WindowTitle, TITLE_LENGTH);
    RegisterMonitorClass(instance);
    if (!InitMonitorInstance(instance))
        return 0;

    return RunMessageLoop(LoadAcceleratorsW(instance, MAKEINTRESOURCEW(IDR_ACCELERATORS)));
}
