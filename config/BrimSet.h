// What the parts of BrimSet share: the instance, the title, the list rows'
// entries and each window's entry points.
#pragma once

#include <windows.h>

#include <cstdint>

// The program's own module: its file, its resources. Set first thing at
// start, before the verbs.
extern HINSTANCE ModuleInstance;

constexpr int TITLE_CAPACITY = 100;
extern wchar_t AppTitle[TITLE_CAPACITY];

// One row of the drive list; owned by the list and attached as item data.
constexpr int DISPLAY_NAME_CAPACITY = 261;
constexpr int ROOT_PATH_CAPACITY = 4;
struct DriveListEntry {
    wchar_t DisplayName[DISPLAY_NAME_CAPACITY] = {};  // the shell's name of the root
    uint64_t Capacity = 0;                            // bytes, at the last successful query
    uint64_t Free = 0;                                // all free bytes, at the last successful query
    uint64_t WorkingThreshold = 0;                    // bytes; what the threshold dialog edits
    int DriveIndex = -1;                              // 0 for A: .. 25 for Z:, -1 until set
    wchar_t Root[ROOT_PATH_CAPACITY] = {};            // "X:\"
};

// DriveListDialog.cpp: the working dialog (template 130), modal.
INT_PTR RunDriveListDialog(HWND owner);

// ThresholdDialog.cpp: edits one entry's WorkingThreshold (template 131).
// Returns IDOK or IDCANCEL.
INT_PTR RunThresholdDialog(HWND owner, DriveListEntry* entry);

// OsLowSpaceSwitch.cpp: the shell's own low-disk-space warning policy
// (whether the system has it: OsLowSpaceSwitchRecord.h).
void ReadOsLowSpaceSwitch(HWND dialog, int checkBoxId);
// Returns the Windows status of the write (0 when written, or when the
// switch is not available).
DWORD WriteOsLowSpaceSwitch(HWND dialog, int checkBoxId, bool driveSettingsFailed);
// Writes the value (1 when `checksOff`) and tells no one: the Windows
// status; `keyFailed` says whether opening or creating the key failed.
// BrimSet keeps a record beside the drive settings when it switches the
// warning off (the value was not 1), and drops it when it switches the
// warning on; the record is written first, and the warning is not switched
// off when it cannot be.
DWORD StoreOsLowSpaceSwitch(bool checksOff, bool& keyFailed);
// Undoes BrimSet's switching the warning off, at the product's removal:
// when the record is there and the value is still 1, the value gets back
// what it held before (or goes, when there was none); the record goes in
// any case. The Windows status; 0 when there was nothing to do.
DWORD RestoreOsLowSpaceSwitch();

// Verbs.cpp: the command-line verbs (VerbLogic.h), run without a window.
// False when the command line has no arguments, or only the close switch
// (the dialog or the close request follow); otherwise `exitCode` is the
// process's exit code, an error for anything that is not a verb.
bool RunCommandLineVerbs(int& exitCode);

// AboutBox.cpp: the About box (template 1), modal.
void ShowAboutBox(HWND owner);
INT_PTR CALLBACK AboutDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
