// The stored settings image: a registry read of any length and outcome
// applied to a table that already holds settings.
//
// Input: a flags byte (bit 0: the read succeeded; bit 1: the reported count
// exceeds the bytes given, as after ERROR_MORE_DATA), a fill byte for the
// table's previous content, then the value's bytes.
#include <cstring>

#include "DriveSettingsRecord.h"
#include "FuzzInput.h"
#include "ScanLogic.h"

namespace {

uint64_t LittleEndianAt(const uint8_t* bytes)
{
    uint64_t v = 0;
    for (int i = 0; i < 8; ++i)
        v |= static_cast<uint64_t>(bytes[i]) << (8 * i);
    return v;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzInput in(data, size);
    const uint8_t flags = in.Byte();
    const bool readOk = (flags & 1) != 0;
    const uint8_t fill = in.Byte();
    std::vector<uint8_t> value = in.Rest();

    // The value in a buffer of exactly its size, so that any read past it
    // is caught.
    const size_t n = value.size();
    uint8_t* stored = new uint8_t[n == 0 ? 1 : n];
    if (n != 0)
        std::memcpy(stored, value.data(), n);
    // A count above the bytes given only ever comes with a failed read: the
    // function must not look at the bytes then.
    const size_t returned = (flags & 2) != 0 && !readOk ? n + 1 + fill : n;

    DriveSettingsImage table;
    uint8_t before[DRIVE_SETTINGS_SIZE];
    for (size_t i = 0; i < DRIVE_SETTINGS_SIZE; ++i)
        before[i] = static_cast<uint8_t>(fill + i * 7);
    std::memcpy(&table[0], before, DRIVE_SETTINGS_SIZE);

    ApplyStoredSettings(table, stored, returned, readOk);
    uint8_t after[DRIVE_SETTINGS_SIZE];
    std::memcpy(after, &table[0], DRIVE_SETTINGS_SIZE);

    // Which bytes change: none after a failed read; the value's leading
    // bytes, at most the whole table, after a good one; the rest keep what
    // they held.
    const size_t replaced = readOk ? (n < DRIVE_SETTINGS_SIZE ? n : DRIVE_SETTINGS_SIZE) : 0;
    for (size_t i = 0; i < DRIVE_SETTINGS_SIZE; ++i)
        FUZZ_CHECK(after[i] == (i < replaced ? stored[i] : before[i]));

    // The table reads as the image it holds: each record's Enabled byte and
    // its unaligned little-endian threshold, and the low rule built on them.
    for (int d = 0; d < DRIVE_COUNT; ++d) {
        const uint8_t* record = after + d * DRIVE_SETTING_SIZE;
        const uint64_t threshold = LittleEndianAt(record + 1);
        FUZZ_CHECK(ThresholdOf(table[d]) == threshold);
        FUZZ_CHECK(IsDriveEnabled(table[d]) == (record[0] != 0));
        FUZZ_CHECK(!IsDriveLow(threshold, table[d]));
        FUZZ_CHECK(IsDriveLow(0, table[d]) == (record[0] != 0 && threshold != 0));
        if (threshold != 0)
            FUZZ_CHECK(IsDriveLow(threshold - 1, table[d]) == (record[0] != 0));
    }

    // Applying the same good read again changes nothing more.
    if (readOk) {
        ApplyStoredSettings(table, stored, returned, true);
        FUZZ_CHECK(std::memcmp(&table[0], after, DRIVE_SETTINGS_SIZE) == 0);
    }

    delete[] stored;
    return 0;
}
