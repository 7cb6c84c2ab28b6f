#include "Scan.h"

#include <shellapi.h>

#include "DriveQueries.h"
#include "DriveSettings.h"
#include "EventReport.h"
#include "MachinePolicy.h"
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
// Each watched drive's run of falling free space, for the forecast.
DriveTrendArray DriveTrends = {};

// The administrator's forecast horizon (MachinePolicy.h), in minutes.
const wchar_t FORECAST_MINUTES_VALUE[] = L"ForecastMinutes";

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

// Appends a line from the string table, filled with `minutes`, when the
// minutes are known and the whole line fits.
template <size_t N>
void AppendMinutesLine(wchar_t (&field)[N], const wchar_t* separator, UINT lineId, uint32_t minutes)
{
    if (minutes == NO_ESTIMATE)
        return;
    wchar_t line[N];
    const size_t lineLength = LoadFormattedString(ModuleInstance, lineId, { minutes }, line, N);
    const size_t length = lstrlenW(field);
    const size_t separatorLength = lstrlenW(separator);
    if (lineLength == 0 || length + separatorLength + lineLength >= N)
        return;
    lstrcpyW(field + length, separator);
    lstrcpyW(field + length + separatorLength, line);
}

// The texts of a low drive's icon: its tip, and its balloon when `kind` is
// given; the time until full is added while the fill's rate is known.
void SetLowSpaceTexts(NOTIFYICONDATAW& data, int driveIndex, const wchar_t* sizeText, const FillForecast& forecast)
{
    FormatDriveText(data.szTip, IDS_LOW_SPACE_TIP, driveIndex, sizeText);
    AppendMinutesLine(data.szTip, L"\n", IDS_LOW_TIP_FULL_IN, forecast.minutesToFull);
    data.uFlags |= NIF_TIP;
}

void SetLowSpaceBalloon(NOTIFYICONDATAW& data, int driveIndex, BalloonKind kind, const wchar_t* sizeText,
                        const FillForecast& forecast)
{
    FormatDriveText(data.szInfo, IDS_LOW_SPACE_BALLOON, driveIndex, sizeText);
    AppendMinutesLine(data.szInfo, L"\r\n", IDS_LOW_FULL_IN, forecast.minutesToFull);
    LoadStringW(ModuleInstance, IDS_BALLOON_TITLE, data.szInfoTitle, ARRAYSIZE(data.szInfoTitle));
    data.uFlags |= NIF_INFO;
    data.uTimeout = BALLOON_TIMEOUT;
    data.dwInfoFlags = kind;
}

// The texts of a drive filling fast: the tip, and the balloon when asked.
void SetForecastTexts(NOTIFYICONDATAW& data, int driveIndex, const wchar_t* sizeText, const FillForecast& forecast,
                      bool balloon)
{
    LoadFormattedString(ModuleInstance, IDS_FORECAST_TIP,
                        { DriveLetter(driveIndex), sizeText, forecast.minutesToThreshold, forecast.minutesToFull },
                        data.szTip, ARRAYSIZE(data.szTip));
    data.uFlags |= NIF_TIP;
    if (!balloon)
        return;
    LoadFormattedString(ModuleInstance, IDS_FORECAST_BALLOON,
                        { DriveLetter(driveIndex), sizeText, forecast.minutesToThreshold, forecast.minutesToFull },
                        data.szInfo, ARRAYSIZE(data.szInfo));
    LoadStringW(ModuleInstance, IDS_FORECAST_TITLE, data.szInfoTitle, ARRAYSIZE(data.szInfoTitle));
    data.uFlags |= NIF_INFO;
    data.uTimeout = BALLOON_TIMEOUT;
    data.dwInfoFlags = BALLOON_KIND_WARNING;
}

// A drive's icon data, and its free space as the shell writes sizes, for
// the texts.
struct DriveNotice {
    NOTIFYICONDATAW data;
    wchar_t sizeText[BYTE_SIZE_TEXT_CAPACITY];

    DriveNotice(HWND window, int driveIndex, const DriveSpace& space) : data(DriveIconData(window, driveIndex))
    {
        FormatByteSize(space.freeBytes, sizeText);
    }
};

// An icon of the drive, added with its message and image.
bool AddDriveIcon(NOTIFYICONDATAW& data)
{
    data.uFlags |= NIF_MESSAGE | NIF_ICON;
    data.uCallbackMessage = WM_TRAYICON;
    data.hIcon = LoadTrayIcon();
    return Shell_NotifyIconW(NIM_ADD, &data) != FALSE;
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

    // Asked only in a pass where a drive fills steadily or shows its early
    // icon: a policy change is followed without a restart, and the idle
    // pass reads nothing.
    uint32_t ForecastMinutes()
    {
        uint32_t minutes = 0;
        const bool present = ReadPolicyNumber(FORECAST_MINUTES_VALUE, minutes);
        return ForecastHorizonFromPolicy(present, minutes);
    }

    bool AddIcon(int driveIndex, const DriveSpace& space, BalloonKind kind, const FillForecast& forecast)
    {
        DriveNotice notice(window, driveIndex, space);
        SetLowSpaceBalloon(notice.data, driveIndex, kind, notice.sizeText, forecast);
        SetLowSpaceTexts(notice.data, driveIndex, notice.sizeText, forecast);
        return AddDriveIcon(notice.data);
    }

    // A new low balloon on the existing icon; its image and tip stay, but
    // for an icon that warned of a drive filling fast until now, which
    // gets the low tip.
    bool RepeatBalloon(int driveIndex, const DriveSpace& space, BalloonKind kind, const FillForecast& forecast)
    {
        DriveNotice notice(window, driveIndex, space);
        SetLowSpaceBalloon(notice.data, driveIndex, kind, notice.sizeText, forecast);
        if (DriveTrayStateTable[driveIndex].early)
            SetLowSpaceTexts(notice.data, driveIndex, notice.sizeText, forecast);
        return Shell_NotifyIconW(NIM_MODIFY, &notice.data) != FALSE;
    }

    bool AddQuietIcon(int driveIndex, const DriveSpace& space, bool early, const FillForecast& forecast)
    {
        DriveNotice notice(window, driveIndex, space);
        if (early)
            SetForecastTexts(notice.data, driveIndex, notice.sizeText, forecast, false);
        else
            SetLowSpaceTexts(notice.data, driveIndex, notice.sizeText, forecast);
        return AddDriveIcon(notice.data);
    }

    bool AddEarlyIcon(int driveIndex, const DriveSpace& space, const FillForecast& forecast)
    {
        DriveNotice notice(window, driveIndex, space);
        SetForecastTexts(notice.data, driveIndex, notice.sizeText, forecast, true);
        return AddDriveIcon(notice.data);
    }

    bool RepeatEarlyBalloon(int driveIndex, const DriveSpace& space, const FillForecast& forecast)
    {
        DriveNotice notice(window, driveIndex, space);
        SetForecastTexts(notice.data, driveIndex, notice.sizeText, forecast, true);
        return Shell_NotifyIconW(NIM_MODIFY, &notice.data) != FALSE;
    }

    bool DeleteIcon(int driveIndex)
    {
        NOTIFYICONDATAW data = DriveIconData(window, driveIndex);
        return Shell_NotifyIconW(NIM_DELETE, &data) != FALSE;
    }

    void Beep() { MessageBeep(0); }

    void ReportEvent(int driveIndex, DriveEvent event, const DriveSpace& space, uint64_t threshold, uint32_t minutes)
    {
        ReportDriveEvent(event, driveIndex, space.freeBytes, threshold, minutes);
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
                      DriveTrends, tray);
}

void AdoptReportedLevels(const DriveLevelArray& levels)
{
    for (int i = 0; i < DRIVE_COUNT; ++i)
        ReportedDriveLevels[i] = levels[i];
}

void RefreshTrayTip(HWND window, int driveIndex)
{
    uint64_t freeBytes = 0;
    if (!QueryFreeBytes(driveIndex, freeBytes))
        return;
    wchar_t sizeText[BYTE_SIZE_TEXT_CAPACITY];
    FormatByteSize(freeBytes, sizeText);
    NOTIFYICONDATAW data = DriveIconData(window, driveIndex);
    const DriveTrend& trend = DriveTrends[driveIndex];
    const FillForecast forecast = EstimateFill(trend, freeBytes, ThresholdOf(DriveSettingsTable[driveIndex]));
    if (DriveTrayStateTable[driveIndex].early)
        SetForecastTexts(data, driveIndex, sizeText, forecast, false);
    else
        SetLowSpaceTexts(data, driveIndex, sizeText, IsSteadyFill(trend) ? forecast : FillForecast());
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
