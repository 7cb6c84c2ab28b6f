// The process's drive settings table and its machine-wide registry store.
#pragma once

#include <windows.h>

#include "DriveSettingsRecord.h"

// "Software\Velloran\BrimSet": under HKEY_LOCAL_MACHINE it holds the drive
// settings, under HKEY_CURRENT_USER the monitor's last update check. Both
// programs open it in the 32-bit registry view, whatever their own build, so
// that every build reads and writes the same stored value.
extern const wchar_t SETTINGS_KEY[];
extern const wchar_t DRIVE_SETTINGS_VALUE[];
constexpr REGSAM SETTINGS_KEY_VIEW = KEY_WOW64_32KEY;

// The table: 26 records, A: to Z:, all zero until loaded.
extern DriveSettingsImage DriveSettingsTable;

// Fills DriveSettingsTable from the store; never reports anything. A missing
// key or value, or a value longer than the table, leaves the table as it
// was; a shorter value replaces only its leading bytes.
void LoadDriveSettings();

// Opens or creates a key under HKEY_LOCAL_MACHINE (in registry view `view`)
// and writes one value, telling no one: the Windows status, 0 on success.
// `keyFailed` says whether opening or creating the key failed.
DWORD WriteMachineValue(const wchar_t* keyPath, REGSAM view, const wchar_t* name, DWORD type, const void* data,
                        DWORD size, bool& keyFailed);

// Deletes one value of a key under HKEY_LOCAL_MACHINE (in registry view
// `view`): the Windows status, 0 also when the key or the value is not there.
DWORD DeleteMachineValue(const wchar_t* keyPath, REGSAM view, const wchar_t* name);

// Writes the whole table and tells no one: the Windows status, 0 on
// success. `keyFailed` says whether opening or creating the key failed
// (else it was the write of the value).
DWORD WriteDriveSettings(bool& keyFailed);

// Writes the whole table; shows its own failures (owned by `owner`) and
// returns the Windows status, 0 on success.
DWORD SaveDriveSettings(HWND owner);

// A string-table text in a message box captioned with the program's title
// (IDS_APP_TITLE).
int ShowStringMessage(HWND owner, UINT stringId, UINT type);

// The system's text for a Windows error code, captioned with the title.
// Shows nothing and returns 0 when the system has no text for the code.
int ShowSystemErrorMessage(HWND owner, DWORD error, UINT type);
