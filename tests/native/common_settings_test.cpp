#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "DriveRoots.h"
#include "DriveSettingsRecord.h"

namespace {

std::vector<uint8_t> ImageOf(const DriveSettingsImage& table)
{
    const uint8_t* bytes = reinterpret_cast<const uint8_t*>(&table[0]);
    return std::vector<uint8_t>(bytes, bytes + DRIVE_SETTINGS_SIZE);
}

// The root-list query as a script: the size the first call reports, what
// the second call writes into the buffer and what it returns.
struct ScriptedDriveSystem {
    size_t sizeNeeded = 0;
    std::wstring written;
    size_t returned = 0;
    uint32_t mask = 0;
    std::vector<size_t> capacities;
    int maskCalls = 0;

    size_t RootList(wchar_t* buffer, size_t capacity)
    {
        capacities.push_back(capacity);
        if (buffer != nullptr)
            std::copy_n(written.begin(), std::min(written.size(), capacity), buffer);
        return buffer == nullptr ? sizeNeeded : returned;
    }
    uint32_t DriveMask()
    {
        ++maskCalls;
        return mask;
    }
};

std::vector<std::pair<int, std::wstring>> DrivesOf(const DriveRootList& list)
{
    std::vector<std::pair<int, std::wstring>> drives;
    WalkDriveRoots(list.roots.get(), list.driveMask, [&](int i, const wchar_t* root) { drives.emplace_back(i, root); });
    return drives;
}

void FillWithPattern(DriveSettingsImage& table)
{
    for (int i = 0; i < DRIVE_COUNT; ++i) {
        table[i].Enabled = static_cast<uint8_t>(0xA0 + i);
        table[i].Threshold = 0x1111111111111111ULL * static_cast<uint64_t>(i + 1);
    }
}

}  // namespace

TEST(DriveSettingsRecord, StoredImageOfCMonitoredAt5120MB)
{
    DriveSettingsImage table = {};
    table[2].Enabled = 1;
    table[2].Threshold = 5120 * BYTES_PER_MEGABYTE;

    std::vector<uint8_t> image = ImageOf(table);
    ASSERT_EQ(image.size(), 234u);
    const uint8_t expected[] = { 0x01, 0x00, 0x00, 0x00, 0x40, 0x01, 0x00, 0x00, 0x00 };
    EXPECT_EQ(0, std::memcmp(&image[18], expected, sizeof(expected)));
    for (size_t i = 0; i < image.size(); ++i) {
        if (i < 18 || i > 26) {
            EXPECT_EQ(image[i], 0) << "byte " << i;
        }
    }
}

TEST(DriveSettingsRecord, FullValueReplacesWholeTable)
{
    DriveSettingsImage table = {};
    FillWithPattern(table);
    std::vector<uint8_t> stored(DRIVE_SETTINGS_SIZE, 0x5A);
    ApplyStoredSettings(table, stored.data(), stored.size(), true);
    EXPECT_EQ(ImageOf(table), stored);
}

TEST(DriveSettingsRecord, ShortValuesReplaceOnlyLeadingBytes)
{
    DriveSettingsImage table = {};
    FillWithPattern(table);
    const uint64_t oldB = ThresholdOf(table[1]);

    // 9 bytes: only A: changes.
    uint8_t nine[9] = { 1, 0xEF, 0xCD, 0xAB, 0x89, 0x67, 0x45, 0x23, 0x01 };
    ApplyStoredSettings(table, nine, sizeof(nine), true);
    EXPECT_EQ(table[0].Enabled, 1);
    EXPECT_EQ(ThresholdOf(table[0]), 0x0123456789ABCDEFULL);
    EXPECT_EQ(table[1].Enabled, 0xA1);
    EXPECT_EQ(ThresholdOf(table[1]), oldB);

    // 10 bytes: also B:'s Enabled byte, but not its threshold.
    uint8_t ten[10] = { 0, 0, 0, 0, 0, 0, 0, 0, 0, 7 };
    ApplyStoredSettings(table, ten, sizeof(ten), true);
    EXPECT_EQ(table[0].Enabled, 0);
    EXPECT_EQ(ThresholdOf(table[0]), 0u);
    EXPECT_EQ(table[1].Enabled, 7);
    EXPECT_EQ(ThresholdOf(table[1]), oldB);
    EXPECT_EQ(table[25].Enabled, 0xA0 + 25);
}

TEST(DriveSettingsRecord, FailedOrOverlongReadLeavesTableUnchanged)
{
    DriveSettingsImage table = {};
    FillWithPattern(table);
    const std::vector<uint8_t> before = ImageOf(table);

    std::vector<uint8_t> junk(4096, 0xFF);
    ApplyStoredSettings(table, junk.data(), junk.size(), false);  // ERROR_MORE_DATA
    EXPECT_EQ(ImageOf(table), before);
    ApplyStoredSettings(table, nullptr, 0, true);
    EXPECT_EQ(ImageOf(table), before);

    // A successful read never reports more than the buffer, but the copy is
    // bounded by the table even if it did.
    ApplyStoredSettings(table, junk.data(), junk.size(), true);
    EXPECT_EQ(ImageOf(table), std::vector<uint8_t>(DRIVE_SETTINGS_SIZE, 0xFF));
}

TEST(DriveSettingsRecord, EnabledIsAnyNonZeroByteAndFifteenPercentRoundsDown)
{
    DriveSetting s = { 2, 0 };
    EXPECT_TRUE(IsDriveEnabled(s));
    s.Enabled = 0;
    EXPECT_FALSE(IsDriveEnabled(s));
    EXPECT_EQ(FifteenPercentOf(10000000000ULL), 1500000000ULL);
    EXPECT_EQ(FifteenPercentOf(16777216ULL), 2516582ULL);  // 2516582.4
    EXPECT_EQ(FifteenPercentOf(6), 0u);
    EXPECT_EQ(DriveLetter(2), L'C');
}

TEST(DriveRoots, RootsFollowTheSetBitsOfTheMask)
{
    // A: (removable) and C: present; B: absent.
    const wchar_t roots[] = L"A:\\\0C:\\\0\0";
    std::vector<std::pair<int, std::wstring>> seen;
    WalkDriveRoots(roots, 0b101, [&](int i, const wchar_t* root) { seen.emplace_back(i, root); });
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0].first, 0);
    EXPECT_EQ(seen[0].second, L"A:\\");
    EXPECT_EQ(seen[1].first, 2);
    EXPECT_EQ(seen[1].second, L"C:\\");
}

TEST(DriveRoots, EachRootKeepsItsOwnLetterWhateverTheMaskSays)
{
    // D: came between the two queries: in the mask, not in the list. E:
    // keeps index 4; it is not taken for D:.
    const wchar_t raced[] = L"C:\\\0E:\\\0\0";
    std::vector<int> indexes;
    WalkDriveRoots(raced, 0b11100, [&](int i, const wchar_t*) { indexes.push_back(i); });
    EXPECT_EQ(indexes, std::vector<int>({ 2, 4 }));

    // D: went between them: in the list, not in the mask. It is passed
    // over and E: still is E:.
    indexes.clear();
    const wchar_t gone[] = L"C:\\\0D:\\\0E:\\\0\0";
    WalkDriveRoots(gone, 0b10100, [&](int i, const wchar_t*) { indexes.push_back(i); });
    EXPECT_EQ(indexes, std::vector<int>({ 2, 4 }));

    // Lower case, a stray entry, a repeat and an entry out of order are
    // passed over, as are an empty list and none at all.
    indexes.clear();
    const wchar_t odd[] = L"c:\\\0??\0C:\\\0\\\\x\0B:\\\0Z:\\\0\0";
    WalkDriveRoots(odd, 0xFFFFFFFFu, [&](int i, const wchar_t*) { indexes.push_back(i); });
    EXPECT_EQ(indexes, std::vector<int>({ 2, 25 }));
    indexes.clear();
    WalkDriveRoots(L"\0", 0xFFFFFFFFu, [&](int i, const wchar_t*) { indexes.push_back(i); });
    WalkDriveRoots(nullptr, 0xFFFFFFFFu, [&](int i, const wchar_t*) { indexes.push_back(i); });
    EXPECT_TRUE(indexes.empty());
}

TEST(DriveRoots, RootListCompleteOnlyWhenItFitted)
{
    EXPECT_TRUE(IsRootListComplete(9, 8));
    EXPECT_FALSE(IsRootListComplete(9, 0));   // the call failed
    EXPECT_FALSE(IsRootListComplete(9, 13));  // a drive came meanwhile
    EXPECT_FALSE(IsRootListComplete(9, 9));
}

TEST(DriveRoots, ListIsReadWholeInABufferOfTheReportedSizeThenTheMask)
{
    ScriptedDriveSystem system;
    system.sizeNeeded = 9;
    system.written = std::wstring(L"C:\\\0D:\\\0\0", 9);
    system.returned = 8;
    system.mask = 0b1100;
    DriveRootList list = ReadDriveRootList(system);
    EXPECT_EQ(system.capacities, std::vector<size_t>({ 0, 9 }));
    EXPECT_EQ(system.maskCalls, 1);
    const std::vector<std::pair<int, std::wstring>> expected = { { 2, L"C:\\" }, { 3, L"D:\\" } };
    EXPECT_EQ(DrivesOf(list), expected);
}

TEST(DriveRoots, NoListWhenAQueryFailsOrTheListGrew)
{
    ScriptedDriveSystem failed;  // the sizing call fails: no second call
    failed.mask = 0b100;
    DriveRootList list = ReadDriveRootList(failed);
    EXPECT_FALSE(list.roots);
    EXPECT_EQ(failed.capacities.size(), 1u);

    ScriptedDriveSystem grew;  // a drive came between the calls
    grew.sizeNeeded = 5;
    grew.written = L"C:\\";
    grew.returned = 9;
    grew.mask = 0b1100;
    list = ReadDriveRootList(grew);
    EXPECT_FALSE(list.roots);
    EXPECT_EQ(grew.maskCalls, 0);
    EXPECT_TRUE(DrivesOf(list).empty());
}

TEST(DriveRoots, ListEndsWithinItsBufferWhateverTheSystemWrote)
{
    // A second call that fills every character and reports success: the
    // walk still ends inside the buffer (AddressSanitizer watches it).
    ScriptedDriveSystem system;
    system.sizeNeeded = 6;
    system.written = L"C:\\xyz";
    system.returned = 5;
    system.mask = 0b100;
    DriveRootList list = ReadDriveRootList(system);
    const std::vector<std::pair<int, std::wstring>> expected = { { 2, L"C:\\xyz" } };
    EXPECT_EQ(DrivesOf(list), expected);
}
