#include "OsWarningRecord.h"

#include "DriveSettings.h"
#include "Handles.h"

const wchar_t POLICY_KEY[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\Explorer";
const wchar_t POLICY_VALUE[] = L"NoLowDiskSpaceChecks";
const wchar_t OS_WARNING_RECORD_VALUE[] = L"NoLowDiskSpaceChecksBefore";

namespace {

StoredNumber ReadMachineNumber(const wchar_t* keyPath, REGSAM view, const wchar_t* name)
{
    StoredNumber stored;
    UniqueRegKey key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, keyPath, 0, KEY_READ | view, key.Put()) != ERROR_SUCCESS)
        return stored;
    DWORD type = REG_NONE;
    DWORD size = sizeof(stored.Number);
    LSTATUS status = RegQueryValueExW(key.Get(), name, nullptr, &type, reinterpret_cast<BYTE*>(&stored.Number), &size);
    stored.Present = status == ERROR_SUCCESS || status == ERROR_MORE_DATA;
    stored.IsNumber = status == ERROR_SUCCESS && type == REG_DWORD && size == sizeof(stored.Number);
    if (!stored.IsNumber)
        stored.Number = 0;
    return stored;
}

}  // namespace

StoredNumber ReadPolicyValue()
{
    return ReadMachineNumber(POLICY_KEY, POLICY_KEY_VIEW, POLICY_VALUE);
}

StoredNumber ReadOsWarningRecord()
{
    return ReadMachineNumber(SETTINGS_KEY, SETTINGS_KEY_VIEW, OS_WARNING_RECORD_VALUE);
}

bool IsOsWarningOffByBrimSet()
{
    return ReadOsWarningRecord().Present && ReadPolicyValue().SwitchesChecksOff();
}
