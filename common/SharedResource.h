// Resource ids that the shared code of common/ loads from the running
// program's own resources. Plain macros: each program's resource.h includes
// this file, so its resource script and its C++ read the same ids.
#pragma once

// Strings
#define IDS_APP_TITLE 103               // the program's title, caption of its message boxes
#define IDS_WRITE_FAILED 107            // the drive settings could not be written (BrimSet)
#define IDS_SETTINGS_ACCESS_DENIED 113  // no right to write the drive settings (BrimSet)
