// The program's own version block, and the maker's updater.
#pragma once

#include <windows.h>

#include <cstdint>
#include <optional>
#include <string>

#include "VersionLogic.h"

enum VersionStringId {
    VS_COMPANY_NAME = 0,
    VS_FILE_DESCRIPTION = 1,
    VS_FILE_VERSION = 2,
    VS_INTERNAL_NAME = 3,
    VS_LEGAL_COPYRIGHT = 4,
    VS_LEGAL_TRADEMARKS = 5,
    VS_ORIGINAL_FILENAME = 6,
    VS_PRODUCT_NAME = 7,
    VS_PRODUCT_VERSION = 8,
};

// The full path of the module's file (at most 260 characters).
std::wstring ModuleFilePath(HMODULE module);

// One string of the version block, from the translation in the thread's
// user-interface language (ChooseVersionTranslation); empty on any failure.
std::wstring ReadVersionString(HMODULE module, VersionStringId id);

// The fixed version record, if the version block has one.
std::optional<VS_FIXEDFILEINFO> ReadFixedFileInfo(HMODULE module);

// "major.minor.build.revision" of the file version.
std::wstring FormatFileVersion(const VS_FIXEDFILEINFO& info);

// Starts VelloranUpdater.exe from the module's folder with
// "<file name> 0 <packed version> <origin>", never waiting for it. The
// schedule's launch is quiet: skipped when the file is missing, and a
// failure shows no box; the user's own request keeps the shell's report.
void LaunchUpdater(HWND owner, HMODULE module, int origin);

// The monitor's once-per-interval update check, kept in the user's
// "LastUpdateCheck" and, between reads, in the caller's `schedule`
// (VersionLogic.h): the store is read only while the schedule is unknown
// or says a check is due.
void CheckForUpdatesIfDue(HWND window, HMODULE module, int64_t interval, UpdateSchedule& schedule);

extern const wchar_t LAST_UPDATE_CHECK_VALUE[];
