// The policy value that switches the shell's own low-disk-space warning
// off, and BrimSet's record of having switched it off: where they are and
// how they are read. Shared by BrimSet and the installer's check
// (BrimSetCheck.dll), which keeps the warning off across an upgrade.
//
// The shell reads the policy value in the native registry view (a 64-bit
// process on 64-bit Windows), so its key is opened in the 64-bit view
// whatever the reader's own build; 32-bit Windows ignores the flag. The
// record stays beside the drive settings, in their 32-bit view: the value
// NoLowDiskSpaceChecksBefore, a REG_DWORD with the number the policy value
// held before BrimSet set it to 1, or REG_NONE without data when there was
// none (or one of another type, which reads as "not set"). A value of 1
// that was there before BrimSet wrote it (an administrator's policy) is
// never recorded.
#pragma once

#include <windows.h>

extern const wchar_t EXPLORER_POLICY_KEY[];
extern const wchar_t NO_LOW_DISK_SPACE_CHECKS_VALUE[];
constexpr REGSAM EXPLORER_POLICY_VIEW = KEY_WOW64_64KEY;
extern const wchar_t OS_LOW_SPACE_SWITCH_RECORD_VALUE[];  // under SETTINGS_KEY (DriveSettings.h)

// Whether the system has the low-disk-space warning the policy value
// switches: Windows XP Service Pack 3 or later.
bool IsOsLowSpaceSwitchAvailable();

// A machine-wide value as read here: whether it is there, and its number
// when it is a REG_DWORD (else 0).
struct StoredNumber {
    bool Present = false;
    bool IsNumber = false;
    DWORD Number = 0;

    bool SwitchesChecksOff() const { return IsNumber && Number == 1; }
};

StoredNumber ReadOsLowSpaceSwitchValue();
StoredNumber ReadOsLowSpaceSwitchRecord();

// Whether the warning is off because BrimSet switched it off, and nobody
// changed the value since: the record is there and the value is still 1.
bool IsOsLowSpaceSwitchOffByBrimSet();
