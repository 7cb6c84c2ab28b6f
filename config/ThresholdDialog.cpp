// The threshold dialog: one drive's alarm threshold in whole megabytes.
#include <windows.h>

#include <vector>

#include "BrimSet.h"
#include "ConfigLogic.h"
#include "DriveQueries.h"
#include "DriveSettingsRecord.h"
#include "resource.h"

namespace {

// The entry being edited; the dialog is modal, so there is one at a time.
DriveListEntry* EditedEntry = nullptr;
// Its threshold when the dialog opened, which Cancel puts back.
uint64_t OpenedThreshold = 0;

void ShowMegabytes(HWND dialog, uint64_t bytes)
{
    SetDlgItemInt(dialog, IDC_ALARMAT, MegabyteFieldValue(bytes), FALSE);
}

void ShowByteSize(HWND dialog, int id, uint64_t bytes)
{
    wchar_t text[BYTE_SIZE_TEXT_CAPACITY];
    FormatByteSize(bytes, text);
    SetDlgItemTextW(dialog, id, text);
}

// The field's whole text, however long.
std::vector<wchar_t> FieldText(HWND dialog, int id)
{
    HWND field = GetDlgItem(dialog, id);
    int length = field != nullptr ? GetWindowTextLengthW(field) : 0;
    std::vector<wchar_t> text(static_cast<size_t>(length) + 1, L'\0');
    if (field != nullptr)
        GetWindowTextW(field, text.data(), length + 1);
    return text;
}

BOOL OnInitDialog(HWND dialog, DriveListEntry* entry)
{
    EditedEntry = entry;
    if (entry == nullptr) {
        EndDialog(dialog, IDCANCEL);
        return TRUE;
    }
    OpenedThreshold = entry->WorkingThreshold;
    SetDlgItemTextW(dialog, IDC_DRIVENAME, entry->DisplayName);
    ShowByteSize(dialog, IDC_CAPACITY, entry->Capacity);
    ShowByteSize(dialog, IDC_FREESPACE, entry->Free);
    ShowMegabytes(dialog, entry->WorkingThreshold);
    return TRUE;
}

void OnOk(HWND dialog)
{
    // Empty or unreadable text, or a number beyond 32 bits, counts as 0.
    uint32_t megabytes = ParseMegabyteField(FieldText(dialog, IDC_ALARMAT).data());
    EditedEntry->WorkingThreshold = BytesOfMegabytes(megabytes);
    EndDialog(dialog, IDOK);
}

// Cancel undoes what Set to 15% wrote.
void OnCancel(HWND dialog)
{
    EditedEntry->WorkingThreshold = OpenedThreshold;
    EndDialog(dialog, IDCANCEL);
}

void OnSetToFifteenPercent(HWND dialog)
{
    EditedEntry->WorkingThreshold = FifteenPercentOf(EditedEntry->Capacity);
    ShowMegabytes(dialog, EditedEntry->WorkingThreshold);
}

INT_PTR OnCommand(HWND dialog, WORD id)
{
    switch (id) {
    case IDOK: OnOk(dialog); return TRUE;
    case IDCANCEL: OnCancel(dialog); return TRUE;
    case IDC_SETTOFIFTEEN: OnSetToFifteenPercent(dialog); return TRUE;
    default: return FALSE;
    }
}

INT_PTR CALLBACK ThresholdDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_INITDIALOG: return OnInitDialog(dialog, reinterpret_cast<DriveListEntry*>(lParam));
    case WM_COMMAND: return OnCommand(dialog, LOWORD(wParam));
    default: return FALSE;
    }
}

}  // namespace

INT_PTR RunThresholdDialog(HWND owner, DriveListEntry* entry)
{
    return DialogBoxParamW(ModuleInstance, MAKEINTRESOURCEW(IDD_THRESHOLD), owner, ThresholdDialogProc,
                           reinterpret_cast<LPARAM>(entry));
}
