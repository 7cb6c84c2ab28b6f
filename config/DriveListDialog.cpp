// The drive list dialog: every local fixed drive with its capacity, free
// space, alarm threshold and a recommendation; Modify, Apply, Close, Help
// and About.
#include <windows.h>
#include <commctrl.h>
#include <shellapi.h>

#include <algorithm>
#include <new>

#include "BrimSet.h"
#include "ConfigLogic.h"
#include "DriveQueries.h"
#include "DriveSettings.h"
#include "OpenAsUser.h"
#include "SignalEvents.h"
#include "VersionInfo.h"
#include "resource.h"

namespace {

static_assert(LIST_ITEM_STATE_CHANGED == LVIF_STATE && STATE_IMAGE_BITS == LVIS_STATEIMAGEMASK &&
                  UNCHECKED_STATE_IMAGE == INDEXTOSTATEIMAGEMASK(1) && CHECKED_STATE_IMAGE == INDEXTOSTATEIMAGEMASK(2),
              "the check-box rule's state bits are the list view's");

const wchar_t COLUMN_WIDTH_RESOURCE_TYPE[] = L"RT_RCDATA";
// The help pages' folder beside the program (ConfigLogic.h names the pages).
const wchar_t HELP_PAGE_FOLDER[] = L"docs\\";

struct ColumnDefinition {
    UINT headerId;
    int format;
};
const ColumnDefinition DRIVE_LIST_COLUMNS[DRIVE_LIST_COLUMN_COUNT] = {
    { IDS_COLUMN_DRIVE, LVCFMT_LEFT },          { IDS_COLUMN_CAPACITY, LVCFMT_RIGHT },
    { IDS_COLUMN_FREE_SPACE, LVCFMT_RIGHT },    { IDS_COLUMN_ALARM_AT, LVCFMT_RIGHT },
    { IDS_COLUMN_RECOMMENDATION, LVCFMT_LEFT },
};
enum { COLUMN_DRIVE, COLUMN_CAPACITY, COLUMN_FREE_SPACE, COLUMN_ALARM_AT, COLUMN_RECOMMENDATION };

// Read from the column-width resource at the first set-up in the process.
uint8_t ColumnWidthFactors[DRIVE_LIST_COLUMN_COUNT] = {};
bool ColumnWidthsLoaded = false;

// Unsaved changes in the dialog.
bool SettingsModified = false;

enum FillMode { FILL_INSERT, FILL_REFRESH };

DriveListEntry* EntryOfRow(HWND list, int row)
{
    if (row < 0)
        return nullptr;
    LVITEMW item = {};
    item.mask = LVIF_PARAM;
    item.iItem = row;
    if (!ListView_GetItem(list, &item))
        return nullptr;
    return reinterpret_cast<DriveListEntry*>(item.lParam);
}

void LoadColumnWidthResource()
{
    std::copy(DEFAULT_COLUMN_WIDTH_FACTORS, DEFAULT_COLUMN_WIDTH_FACTORS + DRIVE_LIST_COLUMN_COUNT, ColumnWidthFactors);
    HRSRC found = FindResourceW(ModuleInstance, MAKEINTRESOURCEW(IDR_COLUMNWIDTHS), COLUMN_WIDTH_RESOURCE_TYPE);
    if (found == nullptr)
        return;
    HGLOBAL loaded = LoadResource(ModuleInstance, found);
    const void* data = loaded != nullptr ? LockResource(loaded) : nullptr;
    if (data == nullptr)
        return;
    ApplyColumnWidthResource(ColumnWidthFactors, static_cast<const uint8_t*>(data),
                             SizeofResource(ModuleInstance, found));
}

// The average width of a letter in the list's device context as it comes
// (no font selected into it), rounded to the nearest pixel.
unsigned AverageCharWidth(HWND list)
{
    HDC dc = GetDC(list);
    if (dc == nullptr)
        return LOWORD(GetDialogBaseUnits());
    unsigned width = 0;
    SIZE extent = {};
    if (GetTextExtentPoint32A(dc, AVERAGE_WIDTH_SAMPLE, AVERAGE_WIDTH_SAMPLE_LENGTH, &extent)) {
        width = AverageCharWidthOf(static_cast<unsigned>(extent.cx));
    } else {
        TEXTMETRICW metrics = {};
        if (GetTextMetricsW(dc, &metrics))
            width = static_cast<unsigned>(metrics.tmAveCharWidth);
    }
    ReleaseDC(list, dc);
    return width;
}

void InsertColumns(HWND list)
{
    unsigned charWidth = AverageCharWidth(list);
    for (int i = 0; i < DRIVE_LIST_COLUMN_COUNT; ++i) {
        wchar_t header[64] = L"";
        LoadStringW(ModuleInstance, DRIVE_LIST_COLUMNS[i].headerId, header, 64);
        LVCOLUMNW column = {};
        column.mask = LVCF_FMT | LVCF_WIDTH | LVCF_TEXT | LVCF_SUBITEM;
        column.fmt = DRIVE_LIST_COLUMNS[i].format;
        column.cx = ColumnWidthPixels(ColumnWidthFactors[i], charWidth);
        column.pszText = header;
        column.iSubItem = i;
        ListView_InsertColumn(list, i, &column);
    }
}

void SetCellText(HWND list, int row, int column, const wchar_t* text)
{
    ListView_SetItemText(list, row, column, const_cast<LPWSTR>(text));
}

void SetByteSizeCell(HWND list, int row, int column, uint64_t bytes)
{
    wchar_t text[BYTE_SIZE_TEXT_CAPACITY];
    FormatByteSize(bytes, text);
    SetCellText(list, row, column, text);
}

void SetRecommendationCell(HWND list, int row, int stringId)
{
    if (stringId == RECOMMEND_NOTHING) {
        SetCellText(list, row, COLUMN_RECOMMENDATION, L"");
        return;
    }
    wchar_t text[128];
    if (LoadStringW(ModuleInstance, stringId, text, 128) > 0)
        SetCellText(list, row, COLUMN_RECOMMENDATION, text);
}

// A new row for `drive`, its entry attached as item data; the row index, or
// -1 when it could not be inserted.
int InsertDriveRow(HWND list, int row, int drive, const wchar_t* root)
{
    DriveListEntry* entry = new (std::nothrow) DriveListEntry{};
    if (entry == nullptr)
        return -1;
    entry->DriveIndex = drive;
    lstrcpynW(entry->Root, root, ROOT_PATH_CAPACITY);
    SHFILEINFOW info = {};
    if (SHGetFileInfoW(root, FILE_ATTRIBUTE_DIRECTORY, &info, sizeof(info), SHGFI_DISPLAYNAME) != 0)
        lstrcpynW(entry->DisplayName, info.szDisplayName, DISPLAY_NAME_CAPACITY);

    LVITEMW item = {};
    item.mask = LVIF_TEXT | LVIF_PARAM;
    item.iItem = row;
    item.pszText = entry->DisplayName;
    item.lParam = reinterpret_cast<LPARAM>(entry);
    row = ListView_InsertItem(list, &item);
    if (row < 0) {
        delete entry;
        return -1;
    }
    UINT image = IsDriveEnabled(DriveSettingsTable[drive]) ? CHECKED_STATE_IMAGE : UNCHECKED_STATE_IMAGE;
    ListView_SetItemState(list, row, image, LVIS_STATEIMAGEMASK);
    return row;
}

// Fills a row's cells from a fresh space query. In insert mode the row is
// created first; in refresh mode the row's own entry says which drive it is.
// Returns whether the row exists.
bool FillDriveRow(HWND list, int row, int drive, const wchar_t* root, FillMode mode)
{
    if (mode == FILL_INSERT)
        row = InsertDriveRow(list, row, drive, root);
    DriveListEntry* entry = EntryOfRow(list, row);
    if (entry == nullptr || !IsDriveIndex(entry->DriveIndex))
        return false;
    DriveSetting& setting = DriveSettingsTable[entry->DriveIndex];

    DriveSpaceFigures space;
    const bool queried = QueryDriveSpace(entry->Root, space);
    if (queried) {
        entry->Capacity = space.TotalBytes;
        entry->Free = space.FreeBytes;
        SetByteSizeCell(list, row, COLUMN_CAPACITY, entry->Capacity);
        SetByteSizeCell(list, row, COLUMN_FREE_SPACE, entry->Free);
    }
    // A drive without a threshold gets 15 % of its capacity: the one just
    // measured, else the last one known (none for a drive never measured,
    // which keeps its 0 until a query succeeds).
    setting.Threshold = ThresholdWithDefault(setting.Threshold, entry->Capacity);

    uint64_t threshold = setting.Threshold;
    SetByteSizeCell(list, row, COLUMN_ALARM_AT, threshold);
    entry->WorkingThreshold = threshold;

    // Without a fresh free-space figure the old advice stands.
    if (queried)
        SetRecommendationCell(list, row, RecommendationStringId(entry->Free, threshold, entry->Capacity));
    return true;
}

void ListFixedDrives(HWND list)
{
    int rows = 0;
    WalkFixedDrives([&](int drive, const wchar_t* root) {
        if (FillDriveRow(list, rows, drive, root, FILL_INSERT))
            ++rows;
    });
}

BOOL OnInitDialog(HWND dialog)
{
    HWND list = GetDlgItem(dialog, IDC_DRIVELIST);
    ListView_SetExtendedListViewStyleEx(list, LVS_EX_CHECKBOXES | LVS_EX_FULLROWSELECT,
                                        LVS_EX_CHECKBOXES | LVS_EX_FULLROWSELECT);
    if (!ColumnWidthsLoaded) {
        LoadColumnWidthResource();
        ColumnWidthsLoaded = true;
    }
    InsertColumns(list);
    ListFixedDrives(list);
    SettingsModified = false;
    ListView_SetColumnWidth(list, COLUMN_RECOMMENDATION, LVSCW_AUTOSIZE_USEHEADER);
    ListView_SetItemState(list, 0, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
    ReadOsLowSpaceSwitch(dialog, IDC_OSLOWSPACESWITCH);
    return TRUE;
}

void OnItemChanged(const NMLISTVIEW* change)
{
    if (!IsCheckBoxChange(change->uChanged, change->uOldState, change->uNewState))
        return;
    HWND list = change->hdr.hwndFrom;
    DriveListEntry* entry = EntryOfRow(list, change->iItem);
    if (entry == nullptr || !IsDriveIndex(entry->DriveIndex))
        return;
    UINT state = ListView_GetItemState(list, change->iItem, LVIS_STATEIMAGEMASK);
    DriveSettingsTable[entry->DriveIndex].Enabled = EnabledByteForStateImage(state);
    SettingsModified = true;
}

void OnDeleteAllItems(HWND list)
{
    int count = ListView_GetItemCount(list);
    for (int row = 0; row < count; ++row)
        delete EntryOfRow(list, row);
}

INT_PTR OnNotify(HWND dialog, const NMHDR* header)
{
    if (header->idFrom != IDC_DRIVELIST)
        return FALSE;
    switch (header->code) {
    case LVN_ITEMCHANGED: OnItemChanged(reinterpret_cast<const NMLISTVIEW*>(header)); return FALSE;
    case NM_DBLCLK: PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDOK, 0), 0); return FALSE;
    case LVN_DELETEALLITEMS:
        // Freed here, all at once: no notification per item follows.
        OnDeleteAllItems(header->hwndFrom);
        SetWindowLongPtrW(dialog, DWLP_MSGRESULT, TRUE);
        return TRUE;
    default: return FALSE;
    }
}

void OnModify(HWND dialog)
{
    HWND list = GetDlgItem(dialog, IDC_DRIVELIST);
    int row = ListView_GetNextItem(list, -1, LVNI_SELECTED);
    DriveListEntry* entry = EntryOfRow(list, row);
    if (entry == nullptr || !IsDriveIndex(entry->DriveIndex))
        return;
    if (RunThresholdDialog(dialog, entry) != IDOK)
        return;
    DriveSettingsTable[entry->DriveIndex].Threshold = entry->WorkingThreshold;
    FillDriveRow(list, row, entry->DriveIndex, entry->Root, FILL_REFRESH);
    SettingsModified = true;
}

void OnApply(HWND dialog)
{
    if (SettingsModified) {
        DWORD status = SaveDriveSettings(dialog);
        DWORD policyStatus = WriteOsLowSpaceSwitch(dialog, IDC_OSLOWSPACESWITCH, status != ERROR_SUCCESS);
        // Only a save that went through leaves nothing unsaved: after a
        // failure Close still asks, and a later Apply tries again.
        if (status == ERROR_SUCCESS && policyStatus == ERROR_SUCCESS)
            SettingsModified = false;
    }
    NotifySettingsChanged();
}

void OnClose(HWND dialog)
{
    if (SettingsModified &&
        ShowStringMessage(dialog, IDS_CONFIRM_DISCARD, MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2) != IDYES)
        return;
    EndDialog(dialog, IDCANCEL);
}

void OnHelp(HWND dialog)
{
    // The page in the user's own language where one is installed, else the
    // English one. The browser, from the user's own associations, runs as
    // the user.
    const std::wstring program = ModuleFilePath(ModuleInstance);
    std::wstring page =
        ReplaceFileName(program, std::wstring(HELP_PAGE_FOLDER) + HelpPageForLanguage(GetUserDefaultUILanguage()));
    const DWORD attributes = GetFileAttributesW(page.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
        page = ReplaceFileName(program, std::wstring(HELP_PAGE_FOLDER) + ENGLISH_HELP_PAGE);
    OpenAsUser(dialog, page.c_str());
}

void OnAbout(HWND dialog)
{
    PostMessageW(GetWindow(dialog, GW_OWNER), WM_COMMAND, MAKEWPARAM(IDM_ABOUT, 0), reinterpret_cast<LPARAM>(dialog));
}

INT_PTR OnCommand(HWND dialog, WORD id, WORD code)
{
    switch (id) {
    case IDOK: OnModify(dialog); return TRUE;
    case IDC_APPLY: OnApply(dialog); return TRUE;
    case IDCANCEL: OnClose(dialog); return TRUE;
    case IDC_HELPPAGE: OnHelp(dialog); return TRUE;
    case IDC_ABOUT: OnAbout(dialog); return TRUE;
    case IDC_OSLOWSPACESWITCH:
        if (code != BN_CLICKED)
            return FALSE;
        SettingsModified = true;
        return TRUE;
    default: return FALSE;
    }
}

INT_PTR CALLBACK DriveListDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_INITDIALOG: return OnInitDialog(dialog);
    case WM_NOTIFY: return OnNotify(dialog, reinterpret_cast<const NMHDR*>(lParam));
    case WM_COMMAND: return OnCommand(dialog, LOWORD(wParam), HIWORD(wParam));
    default: return FALSE;
    }
}

}  // namespace

INT_PTR RunDriveListDialog(HWND owner)
{
    return DialogBoxParamW(ModuleInstance, MAKEINTRESOURCEW(IDD_DRIVELIST), owner, DriveListDialogProc, 0);
}
