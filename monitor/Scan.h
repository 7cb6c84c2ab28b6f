// The drive scan and the tray state it keeps, shared with the window's
// handlers. Used on the window thread only.
#pragma once

#include <windows.h>

#include <cstdint>

#include "ScanLogic.h"

// Notification message of the tray icons; wParam is the drive index.
constexpr UINT WM_TRAYICON = WM_USER + 1;

// Drives that now have a tray icon (bit i: drive index i).
extern uint32_t TrayIconMask;
// Drives whose repeat balloons the user muted.
extern uint32_t BalloonMuteMask;
// Back-off of each drive's balloons, valid while its icon exists.
extern DriveTrayStateArray DriveTrayStateTable;

// One pass over the drives: adds, repeats balloons for and removes the
// tray icons owned by `window`.
void ScanDrives(HWND window);

// Writes the drive's current free space into its icon's tip.
void RefreshTrayTip(HWND window, int driveIndex);

// Removes every icon the window has; the mask is left as it is.
void DeleteAllTrayIcons(HWND window);
