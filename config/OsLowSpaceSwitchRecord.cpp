#include "OsLowSpaceSwitchRecord.h"

#include "DriveSettings.h"
#include "Handles.h"

const wchar_t EXPLORER_POLICY_KEY[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\Explorer";
const wchar_t NO_LOW_DISK_SPACE_CHECKS_VALUE[] = L"NoLowDiskSpaceChecks";
const wchar_t OS_LOW_SPACE_SWITCH_RECORD_VALUE[] = L"NoLowDiskSpaceChecksBefore";

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

StoredNumber ReadOsLowSpaceSwitchValue()
{
    return ReadMachineNumber(EXPLORER_POLICY_KEY, EXPLORER_POLICY_VIEW, NO_LOW_DISK_SPACE_CHECKS_VALUE);
}

StoredNumber ReadOsLowSpaceSwitchRecord()
{
    return ReadMachineNumber(SETTINGS_KEY, SETTINGS_KEY_VIEW, OS_LOW_SPACE_SWITCH_RECORD_VALUE);
}

bool IsOsLowSpaceSwitchOffByBrimSet()
{
    return ReadOsLowSpaceSwitchRecord().Present && ReadOsLowSpaceSwitchValue().SwitchesChecksOff();
}

bool IsOsLowSpaceSwitchAvailable()
{
    OSVERSIONINFOEXW version = {};
    version.dwOSVersionInfoSize = sizeof(version);
    version.dwMajorVersion = 5;
    version.dwMinorVersion = 1;
    version.wServicePackMajor = 3;
    DWORDLONG conditions = 0;
    conditions = VerSetConditionMask(conditions, VER_MAJORVERSION, VER_GREATER_EQUAL);
    conditions = VerSetConditionMask(conditions, VER_MINORVERSION, VER_GREATER_EQUAL);
    conditions = VerSetConditionMask(conditions, VER_SERVICEPACKMAJOR, VER_GREATER_EQUAL);
    return VerifyVersionInfoW(&version, VER_MAJORVERSION | VER_MINORVERSION | VER_SERVICEPACKMAJOR, conditions) !=
           FALSE;
}
