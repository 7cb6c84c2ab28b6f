// The policy value that switches off the shell's own low-disk-space warning.
//
// The shell that reads this value runs in the native registry view (a
// 64-bit process on 64-bit Windows), so the key is opened in the 64-bit
// view whatever this program's own build; 32-bit Windows ignores the flag.
// The drive settings stay in the 32-bit view, as the monitor reads them.
#include <windows.h>

#include "BrimSet.h"
#include "DriveSettings.h"
#include "Handles.h"
#include "VerbChecks.h"
#include "resource.h"

namespace {

const wchar_t POLICY_KEY[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\Explorer";
const wchar_t POLICY_VALUE[] = L"NoLowDiskSpaceChecks";
constexpr REGSAM POLICY_KEY_VIEW = KEY_WOW64_64KEY;

// A value of another type than REG_DWORD counts as not set.
DWORD ReadPolicyValue()
{
    UniqueRegKey key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, POLICY_KEY, 0, KEY_READ | POLICY_KEY_VIEW, key.Put()) != ERROR_SUCCESS)
        return 0;
    DWORD value = 0;
    DWORD type = REG_NONE;
    DWORD size = sizeof(value);
    LSTATUS status = RegQueryValueExW(key.Get(), POLICY_VALUE, nullptr, &type, reinterpret_cast<BYTE*>(&value), &size);
    if (status != ERROR_SUCCESS || type != REG_DWORD || size != sizeof(value))
        return 0;
    return value;
}

}  // namespace

void ReadOsLowSpaceSwitch(HWND dialog, int checkBoxId)
{
    bool available = IsOsLowSpaceSwitchAvailable();
    DWORD value = available ? ReadPolicyValue() : 0;
    CheckDlgButton(dialog, checkBoxId, value != 0 ? BST_CHECKED : BST_UNCHECKED);
    EnableWindow(GetDlgItem(dialog, checkBoxId), available);
}

DWORD StoreOsLowSpaceSwitch(bool checksOff, bool& keyFailed)
{
    DWORD value = checksOff ? 1 : 0;
    return WriteMachineValue(POLICY_KEY, POLICY_KEY_VIEW, POLICY_VALUE, REG_DWORD, &value, sizeof(value), keyFailed);
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
