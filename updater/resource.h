// Resource and control identifiers of VelloranUpdater. Plain macros: the
// resource compiler reads this file too.
#pragma once

#include "SharedResource.h"

// Icon
#define IDI_UPDATER 107

// The one dialog: a message, "Open Download Page" (IDOK) and a button that
// closes it (IDCANCEL: Cancel, Remind Me Later or Close).
#define IDD_UPDATE 130
#define IDC_MESSAGE 1001

// Strings; the title, IDS_APP_TITLE, is among the shared ids. The texts
// with %s take a version ("2.4.1.0") or the system's message, %u a number.
#define IDS_CHECKING 200
#define IDS_OFFER 201
#define IDS_OFFER_UNKNOWN 202
#define IDS_LATEST 203
#define IDS_MANAGED 204
#define IDS_FAILED_ADDRESS 205
#define IDS_FAILED_SYSTEM 206
#define IDS_FAILED_STATUS 207
#define IDS_FAILED_MALFORMED 208
#define IDS_FAILED_TIMEOUT 209
#define IDS_ERROR_CODE 210
#define IDS_PAGE_NOT_OPENED 211
#define IDS_FAILED_INSECURE_PAGE 212
#define IDS_BUTTON_CANCEL 220
#define IDS_BUTTON_LATER 221
#define IDS_BUTTON_CLOSE 222
