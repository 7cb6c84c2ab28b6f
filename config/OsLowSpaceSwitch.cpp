// The check box and the verbs' switch of the shell's own low-disk-space
// warning (the policy value and BrimSet's record of it: OsLowSpaceSwitchRecord.h).
//
// When BrimSet switches the warning off it keeps its record, and drops it
// when it switches the warning on; the product's removal runs BrimSet's
// /restoreoswarning, which gives the value back.
#include <windows.h>

#include "BrimSet.h"
#include "DriveSettings.h"
#include "OsLowSpaceSwitchRecord.h"
#include "resource.h"

namespace {

DWORD WritePolicyValue(DWORD value, bool& keyFailed)
{
    return WriteMachineValue(EXPLORER_POLICY_KEY, EXPLORER_POLICY_VIEW, NO_LOW_DISK_SPACE_CHECKS_VALUE, REG_DWORD, &value,
                             sizeof(value), keyFailed);
}

}  // namespace

void ReadOsLowSpaceSwitch(HWND dialog, int checkBoxId)
{
    bool available = IsOsLowSpaceSwitchAvailable();
    DWORD value = available ? ReadOsLowSpaceSwitchValue().Number : 0;
    CheckDlgButton(dialog, checkBoxId, value != 0 ? BST_CHECKED : BST_UNCHECKED);
    EnableWindow(GetDlgItem(dialog, checkBoxId), available);
}

DWORD StoreOsLowSpaceSwitch(bool checksOff, bool& keyFailed)
{
    if (checksOff) {
        // The record first: a 1 that BrimSet wrote never lacks one. An
        // earlier record of BrimSet's own, with the value still 1, stays.
        const StoredNumber before = ReadOsLowSpaceSwitchValue();
        if (!before.SwitchesChecksOff()) {
            DWORD status = WriteMachineValue(SETTINGS_KEY, SETTINGS_KEY_VIEW, OS_LOW_SPACE_SWITCH_RECORD_VALUE,
                                             before.IsNumber ? REG_DWORD : REG_NONE, &before.Number,
                                             before.IsNumber ? sizeof(before.Number) : 0, keyFailed);
            if (status != ERROR_SUCCESS)
                return status;
        }
    }
    DWORD status = WritePolicyValue(checksOff ? 1 : 0, keyFailed);
    // The warning is on again: nothing is left to give back. A record that
    // cannot go is harmless, as the value is no longer 1.
    if (status == ERROR_SUCCESS && !checksOff)
        DeleteMachineValue(SETTINGS_KEY, SETTINGS_KEY_VIEW, OS_LOW_SPACE_SWITCH_RECORD_VALUE);
    return status;
}

DWORD RestoreOsLowSpaceSwitch()
{
    const StoredNumber record = ReadOsLowSpaceSwitchRecord();
    if (!record.Present)
        return ERROR_SUCCESS;
    // Changed since by someone else: theirs stays.
    if (ReadOsLowSpaceSwitchValue().SwitchesChecksOff()) {
        bool keyFailed = false;
        DWORD status = record.IsNumber ? WritePolicyValue(record.Number, keyFailed)
                                       : DeleteMachineValue(EXPLORER_POLICY_KEY, EXPLORER_POLICY_VIEW,
                                                            NO_LOW_DISK_SPACE_CHECKS_VALUE);
        if (status != ERROR_SUCCESS)
            return status;
    }
    return DeleteMachineValue(SETTINGS_KEY, SETTINGS_KEY_VIEW, OS_LOW_SPACE_SWITCH_RECORD_VALUE);
}

DWORD WriteOsLowSpaceSwitch(HWND dialog, int checkBoxId, bool driveSettingsFailed)
{
    bool checked = IsDlgButtonChecked(dialog, checkBoxId) == BST_CHECKED;
    if (!IsOsLowSpaceSwitchAvailable())
        return ERROR_SUCCESS;

    bool keyFailed = false;
    DWORD status = StoreOsLowSpaceSwitch(checked, keyFailed);
    if (keyFailed) {
        // One message per Apply: a failed save of the drive settings has
        // already told the user.
        if (driveSettingsFailed)
            return status;
        if (status == ERROR_ACCESS_DENIED)
            ShowStringMessage(dialog, IDS_POLICY_ACCESS_DENIED, MB_OK | MB_ICONINFORMATION);
        else
            ShowSystemErrorMessage(dialog, status, MB_OK | MB_ICONINFORMATION);
        return status;
    }
    if (status != ERROR_SUCCESS)
        ShowSystemErrorMessage(dialog, status, MB_OK | MB_ICONINFORMATION);
    return status;
}
