// Version numbers, the updater's command line and the once-a-day update rule.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// Which of a version block's translations to read, by their languages in
// the block's order: the one in `userLanguage` itself, else the first in the
// same language of any country, else the first, the block's own default (our
// blocks list English first). `count` must be at least 1.
size_t ChooseVersionTranslation(const uint16_t* languages, size_t count, uint16_t userLanguage);

// major << 48 | minor << 32 | build << 16 | revision, from the two halves of
// the fixed file version.
int64_t PackFileVersion(uint32_t versionMS, uint32_t versionLS);

// "major.minor.build.revision".
std::wstring FormatVersionNumbers(uint32_t versionMS, uint32_t versionLS);

// The part of a path after its last '\' or '/'.
std::wstring FileNameOfPath(const std::wstring& path);

// `path` with its file name replaced by `fileName`; the directory keeps its
// trailing separator, and one is inserted when the directory has none.
std::wstring ReplaceFileName(const std::wstring& path, const std::wstring& fileName);

constexpr wchar_t UPDATER_FILE_NAME[] = L"VelloranUpdater.exe";
constexpr wchar_t UPDATER_PARAMETER_TEMPLATE[] = L"%s 0 %I64d %d";
constexpr size_t UPDATER_PARAMETERS_CAPACITY = 200;  // characters, terminator included

enum UpdateOrigin { UPDATE_ORIGIN_USER = 0, UPDATE_ORIGIN_SCHEDULE = 1 };

// The updater's parameters: "<file name> 0 <packed version> <origin>". The
// text never exceeds UPDATER_PARAMETERS_CAPACITY - 1 characters: a file name
// too long for that is shortened, so the three numbers always arrive whole.
std::wstring FormatUpdaterParameters(const std::wstring& fileName, int64_t packedVersion, int origin);

// 24 hours in 100-nanosecond intervals.
constexpr int64_t UpdateCheckInterval = 864000000000LL;

// FILETIME of 1970-01-01 00:00:00 UTC.
constexpr uint64_t UNIX_EPOCH_AS_FILETIME = 116444736000000000ULL;

// The stored time: 100-ns intervals since 1970, from a FILETIME value.
int64_t UpdateTimeFromFileTime(uint64_t fileTime);

constexpr uint32_t STORED_TYPE_BINARY = 3;  // REG_BINARY
constexpr size_t LAST_UPDATE_CHECK_SIZE = 8;

// Decodes a read of "LastUpdateCheck". The time is present only when the
// read succeeded, the type is binary and exactly 8 bytes came back; a shorter
// or longer value, or one of another type, counts as absent.
bool DecodeLastUpdateCheck(bool readOk, uint32_t type, const uint8_t* data, size_t size, int64_t* stored);

// Due when no time is stored, or when now - stored (signed) is strictly
// greater than the interval. A stored time in the future is not due.
bool IsUpdateDue(bool storedPresent, int64_t stored, int64_t now, int64_t interval);

// The last update check as the monitor last read or wrote it. Until it is
// known, or once it says a check is due, the store is read (another copy of
// the monitor may have checked meanwhile); in between, nothing is read.
struct UpdateSchedule {
    bool known = false;
    bool present = false;  // a valid time was stored
    int64_t lastCheck = 0;
};

inline bool ScheduleNeedsRead(const UpdateSchedule& schedule, int64_t now, int64_t interval)
{
    return !schedule.known || IsUpdateDue(schedule.present, schedule.lastCheck, now, interval);
}

// The 8 little-endian bytes written back as "LastUpdateCheck".
void EncodeLastUpdateCheck(int64_t time, uint8_t (&bytes)[LAST_UPDATE_CHECK_SIZE]);
