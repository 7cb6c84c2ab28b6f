// Resource and command identifiers of BrimWatch. Plain macros: the resource
// compiler reads this file too.
#pragma once

#include "SharedResource.h"

// Icons
#define IDI_BRIMWATCH 107  // the class's large icon
#define IDI_SMALL 108      // the class's small icon and the tray icon

// Menus and accelerators, named as BrimSet names its own
#define IDR_MAINMENU 109      // the class menu
#define IDR_ACCELERATORS 109  // the accelerator table
#define IDR_TRAYMENU 133      // the tray icon's popup menu

// Strings; the title, IDS_APP_TITLE, is among the shared ids.
#define IDS_LOW_SPACE_BALLOON 108
#define IDS_LOW_SPACE_TIP 110
#define IDS_MUTE_QUESTION 121
#define IDS_BALLOON_TITLE 123
// A drive filling fast (the forecast), and the line a low balloon and tip
// add while a trend is known.
#define IDS_FORECAST_BALLOON 124
#define IDS_FORECAST_TIP 125
#define IDS_FORECAST_TITLE 126
#define IDS_LOW_FULL_IN 127
#define IDS_LOW_TIP_FULL_IN 128

// Commands
#define IDM_ABOUT 104
#define IDM_EXIT 105
#define IDM_CONFIGURE 129
#define IDM_RUN_CLEANUP 32775
#define IDM_TRAY_EXIT 32777
#define IDM_RUN_EXPLORER 32780
