// The drive scan and the tray state it keeps. The state lives in Scan.cpp
// alone; the window's handlers change it through the verbs below. Used on
// the window thread only.
#pragma once

#include <windows.h>

#include <cstdint>

#include "ScanLogic.h"

// Notification message of the tray icons; wParam is the drive index.
constexpr UINT WM_TRAYICON = WM_USER + 1;

// One pass over the drives: adds, repeats balloons for and removes the
// tray icons owned by `window`.
void ScanDrives(HWND window);

// Writes the drive's current free space into its icon's tip.
void RefreshTrayTip(HWND window, int driveIndex);

// Removes every icon the window has; the mask is left as it is.
void DeleteAllTrayIcons(HWND window);

// After a taskbar restart: the old taskbar took the icons with it, so none
// is known any more and the next pass adds each low drive's icon again.
void ForgetTrayIcons();

// The user asked for no more repeat balloons of this drive; an add of its
// icon lifts the mute.
void MuteBalloons(int driveIndex);

// The drives that now have a tray icon (bit i: drive index i).
uint32_t CurrentTrayIconMask();
