// The per-drive settings record and its stored image. No Windows headers:
// this is the byte layout both programs share, tested natively.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr int DRIVE_COUNT = 26;                                           // A: .. Z:
constexpr size_t DRIVE_SETTING_SIZE = 9;                                  // Enabled + Threshold, packed
constexpr size_t DRIVE_SETTINGS_SIZE = DRIVE_COUNT * DRIVE_SETTING_SIZE;  // 234

// One drive's settings. The threshold sits at an odd offset: the record is
// packed so that the table in memory is the stored value byte for byte.
// Never take the address of Threshold (it is not aligned); read and write
// the member directly.
#pragma pack(push, 1)
struct DriveSetting {
    uint8_t Enabled;     // 0: not watched; anything else: watched
    uint64_t Threshold;  // bytes, little-endian; 0 never warns
};
#pragma pack(pop)

static_assert(sizeof(DriveSetting) == DRIVE_SETTING_SIZE, "DriveSetting must be 9 packed bytes");
static_assert(sizeof(DriveSetting[DRIVE_COUNT]) == DRIVE_SETTINGS_SIZE, "the table must be 234 bytes");

// The stored value is little-endian; so is every target these programs run on.
#if defined(__BYTE_ORDER__) && defined(__ORDER_LITTLE_ENDIAN__)
static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "the settings image is little-endian");
#endif

typedef DriveSetting DriveSettingsImage[DRIVE_COUNT];

// The threshold by value: binding a reference to the unaligned member (as
// test macros and std::min do) is undefined behaviour.
inline uint64_t ThresholdOf(const DriveSetting& setting)
{
    return setting.Threshold;
}

inline bool IsDriveEnabled(const DriveSetting& setting)
{
    return setting.Enabled != 0;
}

inline wchar_t DriveLetter(int driveIndex)
{
    return static_cast<wchar_t>(L'A' + driveIndex);
}

// Whether a number from outside (a message parameter, a list row's entry)
// names a drive. Taken as unsigned, so that a negative one, such as the -1
// of an entry not yet set, names none.
inline bool IsDriveIndex(uint64_t value)
{
    return value < static_cast<uint64_t>(DRIVE_COUNT);
}

// Applies the outcome of one registry read to the table. `readOk` is whether
// the read succeeded; `returned` is the byte count it reported. A failed read
// (missing value, or one longer than the table) leaves the table unchanged;
// a short value replaces only its leading bytes.
void ApplyStoredSettings(DriveSettingsImage& table, const uint8_t* data, size_t returned, bool readOk);

// 15 % of a byte count, rounded down, in unsigned 64-bit arithmetic.
inline uint64_t FifteenPercentOf(uint64_t bytes)
{
    return bytes * 15 / 100;
}

constexpr uint64_t BYTES_PER_MEGABYTE = 1048576;

// Free space below this is very low: the monitor's balloon shows the error
// icon, and BrimSet recommends freeing space whatever the threshold.
constexpr uint64_t VERY_LOW_FREE_BYTES = 1048576;
