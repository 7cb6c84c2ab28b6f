#include "Scan.h"

#include <shellapi.h>

#include "DriveQueries.h"
#include "DriveSettings.h"
#include "EventReport.h"
#include "Monitor.h"
#include "MonitorLogic.h"
#include "StringTable.h"
#include "resource.h"

namespace {

// Drives that now have a tray icon (bit i: drive index i).
uint32_t TrayIconMask = 0;
// Drives whose repeat balloons the user muted.
uint32_t BalloonMuteMask = 0;
// Back-off of each drive's balloons, valid while its icon exists.
DriveTrayStateArray DriveTrayStateTable = {};
// How low each drive was when the event log was last told.
DriveLevelArray ReportedDriveLevels = {};

static_assert(BALLOON_KIND_INFO == NIIF_INFO && BALLOON_KIND_WARNING == NIIF_WARNING &&
                  BALLOON_KIND_ERROR == NIIF_ERROR,
              "balloon kinds are the shell's icon flags");

constexpr UINT BALLOON_TIMEOUT = 10000;  // ms

// The tray icon, loaded at the first add and kept for the life of the
// process: the shell keeps its own copy of every icon it is given. It is
// drawn at the size the notification area shows, the small-icon size of
// the system's scale (16 pixels at 100 %, 32 at 200 %), from the image of
// that size in the icon file.
HICON TrayIcon = nullptr;

HICON LoadTrayIcon()
{
    if (TrayIcon == nullptr)
        TrayIcon = static_cast<HICON>(LoadImageW(ModuleInstance, MAKEINTRESOURCEW(IDI_SMALL), IMAGE_ICON,
                                                 GetSystemMetrics(SM_CXSMICON), GetSystemMetrics(SM_CYSMICON),
                                                 LR_DEFAULTCOLOR));
    return TrayIcon;
}

// The icon of drive `driveIndex`: owned by the window, identified by the
// drive index. The size is the layout that ends with guidItem.
NOTIFYICONDATAW DriveIconData(HWND window, int driveIndex)
{
    NOTIFYICONDATAW data = {};
    data.cbSize = NOTIFYICONDATAW_V3_SIZE;
    data.hWnd = window;
    data.uID = static_cast<UINT>(driveIndex);
    return data;
}

// A string-table template filled with the drive letter and the size text.
template <size_t N>
void FormatDriveText(wchar_t (&field)[N], UINT templateId, int driveIndex, const wchar_t* sizeText)
{
    LoadFormattedString(ModuleInstance, templateId, { DriveLetter(driveIndex), sizeText }, field, N);
}

void SetLowSpaceBalloon(NOTIFYICONDATAW& data, int driveIndex, BalloonKind kind, const wchar_t* sizeText)
{
    FormatDriveText(data.szInfo, IDS_LOW_SPACE_BALLOON, driveIndex, sizeText);
    LoadStringW(ModuleInstance, IDS_BALLOON_TITLE, data.szInfoTitle, ARRAYSIZE(data.szInfoTitle));
    data.uFlags = NIF_INFO;
    data.uTimeout = BALLOON_TIMEOUT;
    data.dwInfoFlags = kind;
}

// What the pass compares: the bytes the user may still use, and the
// capacity (which tells a drive whose size changed).
bool QueryUsableSpace(const wchar_t* root, DriveSpace& space)
{
    DriveSpaceFigures figures;
    if (!QueryDriveSpace(root, figures))
        return false;
    space.freeBytes = figures.AvailableBytes;
    space.totalBytes = figures.TotalBytes;
    return true;
}

// The drives and the shell's notification area, as the pass sees them.
struct ShellTray {
    HWND window;

    bool QuerySpace(const wchar_t* root, DriveSpace* space) { return QueryUsableSpace(root, *space); }

    bool IsFixed(const wchar_t* root) { return GetDriveTypeW(root) == DRIVE_FIXED; }

    uint32_t Now() { return GetTickCount(); }

    bool AddIcon(int driveIndex, const DriveSpace& space, BalloonKind kind)
    {
        wchar_t sizeText[BYTE_SIZE_TEXT_CAPACITY];
        FormatByteSize(space.freeBytes, sizeText);
        NOTIFYICONDATAW data = DriveIconData(window, driveIndex);
        SetLowSpaceBalloon(data, driveIndex, kind, sizeText);
        data.uFlags |= NIF_MESSAGE | NIF_ICON | NIF_TIP;
        data.uCallbackMessage = WM_TRAYICON;
        data.hIcon = LoadTrayIcon();
        FormatDriveText(data.szTip, IDS_LOW_SPACE_TIP, driveIndex, sizeText);
        return Shell_NotifyIconW(NIM_ADD, &data) != FALSE;
    }

    // A new balloon on the existing icon; its image and tip stay.
    bool RepeatBalloon(int driveIndex, const DriveSpace& space, BalloonKind kind)
    {
        wchar_t sizeText[BYTE_SIZE_TEXT_CAPACITY];
        FormatByteSize(space.freeBytes, sizeText);
        NOTIFYICONDATAW data = DriveIconData(window, driveIndex);
        SetLowSpaceBalloon(data, driveIndex, kind, sizeText);
        return Shell_NotifyIconW(NIM_MODIFY, &data) != FALSE;
    }

    bool DeleteIcon(int driveIndex)
    {
        NOTIFYICONDATAW data = DriveIconData(window, driveIndex);
        return Shell_NotifyIconW(NIM_DELETE, &data) != FALSE;
    }

    void Beep() { MessageBeep(0); }

    void ReportEvent(int driveIndex, DriveEvent event, const DriveSpace& space, uint64_t threshold)
    {
        ReportDriveEvent(event, driveIndex, space.freeBytes, threshold);
    }
};

// The free bytes available to the user on a drive, queried by its index.
bool QueryFreeBytes(int driveIndex, uint64_t& freeBytes)
{
    DriveSpace space = {};
    if (!QueryUsableSpace(DriveRoot(driveIndex).Text, space))
        return false;
    freeBytes = space.freeBytes;
    return true;
}

}  // namespace

void ScanDrives(HWND window)
{
    ShellTray tray = { window };
    ScanWatchedDrives(DriveSettingsTable, TrayIconMask, BalloonMuteMask, DriveTrayStateTable, ReportedDriveLevels,
                      tray);
}

void RefreshTrayTip(HWND window, int driveIndex)
{
    uint64_t freeBytes = 0;
    if (!QueryFreeBytes(driveIndex, freeBytes))
        return;
    wchar_t sizeText[BYTE_SIZE_TEXT_CAPACITY];
    FormatByteSize(freeBytes, sizeText);
    NOTIFYICONDATAW data = DriveIconData(window, driveIndex);
    data.uFlags = NIF_TIP;
    FormatDriveText(data.szTip, IDS_LOW_SPACE_TIP, driveIndex, sizeText);
    Shell_NotifyIconW(NIM_MODIFY, &data);
}

void DeleteAllTrayIcons(HWND window)
{
    for (int i = 0; i < DRIVE_COUNT; ++i) {
        if ((TrayIconMask & DriveBit(i)) == 0)
            continue;
        NOTIFYICONDATAW data = DriveIconData(window, i);
        Shell_NotifyIconW(NIM_DELETE, &data);
    }
}

void ForgetTrayIcons()
{
    TrayIconMask = 0;
}

void MuteBalloons(int driveIndex)
{
    if (MuteDrive(driveIndex, BalloonMuteMask) == DRIVE_EVENT_NONE)
        return;
    uint64_t freeBytes = 0;
    QueryFreeBytes(driveIndex, freeBytes);
    ReportDriveEvent(DRIVE_EVENT_MUTED, driveIndex, freeBytes, ThresholdOf(DriveSettingsTable[driveIndex]));
}

uint32_t CurrentTrayIconMask()
{
    return TrayIconMask;
}
