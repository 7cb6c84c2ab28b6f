// The version block of this test program, and the updater launch with its
// once-a-day schedule, against a recording stand-in beside the program.
#include <windows.h>

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>

#include "DriveSettings.h"
#include "Handles.h"
#include "Version.h"
#include "VersionInfo.h"

namespace {

// The version this program's block carries, packed as the updater's command
// line passes it: from the one header, so that a new version breaks no test.
const int64_t PACKED_VERSION = (int64_t{ BRIM_VERSION_MAJOR } << 48) | (int64_t{ BRIM_VERSION_MINOR } << 32) |
                               (int64_t{ BRIM_VERSION_BUILD } << 16) | BRIM_VERSION_REVISION;

std::wstring UpdaterLogPath()
{
    return ReplaceFileName(ModuleFilePath(nullptr), L"VelloranUpdater.log");
}

std::string ReadUpdaterLog()
{
    std::ifstream in(UpdaterLogPath().c_str(), std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// The stand-in runs asynchronously: wait for its line, or for a while to
// make sure none comes.
std::string WaitForUpdaterLog(DWORD timeoutMs)
{
    for (DWORD waited = 0; waited < timeoutMs; waited += 100) {
        std::string log = ReadUpdaterLog();
        if (!log.empty())
            return log;
        Sleep(100);
    }
    return ReadUpdaterLog();
}

std::string ExpectedRecord(int origin)
{
    std::wstring name = FileNameOfPath(ModuleFilePath(nullptr));
    std::string narrow(name.begin(), name.end());
    return narrow + " 0 " + std::to_string(PACKED_VERSION) + " " + std::to_string(origin) + "\r\n";
}

int64_t Now()
{
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    return UpdateTimeFromFileTime((static_cast<uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime);
}

class ScheduledUpdateCheck : public testing::Test {
protected:
    void SetUp() override { RemoveUserKeys(); }
    void TearDown() override { RemoveUserKeys(); }

    // The check creates missing keys as volatile, parents included, and no
    // lasting key can be made under a volatile one: start each case bare.
    static void RemoveUserKeys()
    {
        RegDeleteKeyExW(HKEY_CURRENT_USER, SETTINGS_KEY, KEY_WOW64_32KEY, 0);
        RegDeleteKeyExW(HKEY_CURRENT_USER, L"Software\\Velloran", KEY_WOW64_32KEY, 0);
        DeleteFileW(UpdaterLogPath().c_str());
    }

    // The schedule of a monitor at its first tick: nothing known yet.
    UpdateSchedule& Fresh()
    {
        fresh_ = UpdateSchedule();
        return fresh_;
    }
    UpdateSchedule fresh_;

    void StoreRaw(DWORD type, const void* data, DWORD size)
    {
        UniqueRegKey key;
        ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_CURRENT_USER, SETTINGS_KEY, 0, nullptr, 0,
                                                 KEY_WRITE | KEY_WOW64_32KEY, nullptr, key.Put(), nullptr));
        ASSERT_EQ(ERROR_SUCCESS,
                  RegSetValueExW(key.Get(), LAST_UPDATE_CHECK_VALUE, 0, type, static_cast<const BYTE*>(data), size));
    }
    void StoreTime(int64_t time)
    {
        uint8_t bytes[8];
        EncodeLastUpdateCheck(time, bytes);
        StoreRaw(REG_BINARY, bytes, sizeof(bytes));
    }
    // The stored value must now be an 8-byte REG_BINARY time close to `around`.
    void ExpectStoredTimeNear(int64_t around)
    {
        UniqueRegKey key;
        ASSERT_EQ(ERROR_SUCCESS,
                  RegOpenKeyExW(HKEY_CURRENT_USER, SETTINGS_KEY, 0, KEY_READ | KEY_WOW64_32KEY, key.Put()));
        uint8_t data[16] = {};
        DWORD size = sizeof(data), type = 0;
        ASSERT_EQ(ERROR_SUCCESS, RegQueryValueExW(key.Get(), LAST_UPDATE_CHECK_VALUE, nullptr, &type, data, &size));
        EXPECT_EQ(type, static_cast<DWORD>(REG_BINARY));
        ASSERT_EQ(size, 8u);
        int64_t stored = 0;
        ASSERT_TRUE(DecodeLastUpdateCheck(true, type, data, size, &stored));
        EXPECT_LT(std::llabs(stored - around), 600000000LL);  // within a minute
    }
    void ExpectLaunchedOnce() { EXPECT_EQ(WaitForUpdaterLog(15000), ExpectedRecord(UPDATE_ORIGIN_SCHEDULE)); }
    void ExpectNotLaunched()
    {
        Sleep(1500);
        EXPECT_EQ(ReadUpdaterLog(), "");
    }
};

}  // namespace

TEST(VersionBlock, StringsAndFixedRecordOfThisProgram)
{
    EXPECT_EQ(ReadVersionString(nullptr, VS_FILE_DESCRIPTION), L"Brimline Shared Code Tests");
    EXPECT_EQ(ReadVersionString(nullptr, VS_COMPANY_NAME), L"" BRIM_COMPANY_NAME);
    EXPECT_EQ(ReadVersionString(nullptr, VS_PRODUCT_NAME), L"" BRIM_PRODUCT_NAME);
    EXPECT_EQ(ReadVersionString(nullptr, VS_FILE_VERSION), L"" BRIM_VERSION_TEXT);
    EXPECT_EQ(ReadVersionString(nullptr, VS_LEGAL_COPYRIGHT).substr(0, 11), L"Copyright \u00A9");
    // Not in the block: empty.
    EXPECT_EQ(ReadVersionString(nullptr, VS_LEGAL_TRADEMARKS), L"");

    auto fixed = ReadFixedFileInfo(nullptr);
    ASSERT_TRUE(fixed.has_value());
    EXPECT_EQ(FormatFileVersion(*fixed), L"" BRIM_VERSION_TEXT);
    EXPECT_EQ(PackFileVersion(fixed->dwFileVersionMS, fixed->dwFileVersionLS), PACKED_VERSION);
    EXPECT_EQ(fixed->dwFileFlagsMask, 0x17u);
    EXPECT_EQ(fixed->dwFileOS, 4u);
    EXPECT_EQ(fixed->dwFileType, 1u);
}

TEST(VersionBlock, AModuleWithoutVersionBlockGivesNothing)
{
    // kernel32 has a version block under Wine too; a module that has none is
    // the recording stand-in, loaded as data.
    HMODULE plain = LoadLibraryExW(ReplaceFileName(ModuleFilePath(nullptr), L"VelloranUpdater.exe").c_str(), nullptr,
                                   LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(plain, nullptr);
    EXPECT_FALSE(ReadFixedFileInfo(plain).has_value());
    EXPECT_EQ(ReadVersionString(plain, VS_FILE_DESCRIPTION), L"");
    FreeLibrary(plain);
}

TEST_F(ScheduledUpdateCheck, FirstCheckLaunchesTheUpdaterAndStoresTheTime)
{
    int64_t before = Now();
    UpdateSchedule schedule;
    CheckForUpdatesIfDue(nullptr, nullptr, UpdateCheckInterval, schedule);
    ExpectLaunchedOnce();
    ExpectStoredTimeNear(before);

    // The key it made lives only until log-off: no lasting key fits under it.
    UniqueRegKey child;
    EXPECT_EQ(ERROR_CHILD_MUST_BE_VOLATILE,
              RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\Velloran\\BrimSet\\Lasting", 0, nullptr,
                              REG_OPTION_NON_VOLATILE, KEY_WRITE | KEY_WOW64_32KEY, nullptr, child.Put(), nullptr));

    // The next check within the day does nothing, and reads nothing: a
    // time made due behind its back waits until the kept one is due.
    DeleteFileW(UpdaterLogPath().c_str());
    StoreTime(Now() - 2 * UpdateCheckInterval);
    CheckForUpdatesIfDue(nullptr, nullptr, UpdateCheckInterval, schedule);
    ExpectNotLaunched();
    // A monitor started now reads it.
    CheckForUpdatesIfDue(nullptr, nullptr, UpdateCheckInterval, Fresh());
    ExpectLaunchedOnce();
}

TEST_F(ScheduledUpdateCheck, DueOnlyAfterMoreThanOneInterval)
{
    StoreTime(Now() - UpdateCheckInterval + 600000000LL);  // a minute short of a day
    CheckForUpdatesIfDue(nullptr, nullptr, UpdateCheckInterval, Fresh());
    ExpectNotLaunched();

    StoreTime(Now() - UpdateCheckInterval - 600000000LL);  // a minute past a day
    CheckForUpdatesIfDue(nullptr, nullptr, UpdateCheckInterval, Fresh());
    ExpectLaunchedOnce();
    ExpectStoredTimeNear(Now());
}

TEST_F(ScheduledUpdateCheck, AFutureTimeIsNotDue)
{
    int64_t future = Now() + 10 * UpdateCheckInterval;
    StoreTime(future);
    CheckForUpdatesIfDue(nullptr, nullptr, UpdateCheckInterval, Fresh());
    ExpectNotLaunched();
    ExpectStoredTimeNear(future);
}

TEST_F(ScheduledUpdateCheck, ValuesOfTheWrongShapeCountAsAbsentAndAreRewritten)
{
    const DWORD dword = 5;
    const uint64_t qword = static_cast<uint64_t>(Now());
    const uint8_t shortTime[7] = { 1, 2, 3, 4, 5, 6, 7 };
    const uint8_t longTime[12] = {};
    struct Shape {
        DWORD type;
        const void* data;
        DWORD size;
    } shapes[] = {
        { REG_DWORD, &dword, sizeof(dword) },
        { REG_QWORD, &qword, sizeof(qword) },
        { REG_BINARY, shortTime, sizeof(shortTime) },
        { REG_BINARY, longTime, sizeof(longTime) },
        { REG_BINARY, nullptr, 0 },
    };
    for (const Shape& shape : shapes) {
        SCOPED_TRACE(testing::Message() << "type " << shape.type << " size " << shape.size);
        DeleteFileW(UpdaterLogPath().c_str());
        StoreRaw(shape.type, shape.data, shape.size);
        CheckForUpdatesIfDue(nullptr, nullptr, UpdateCheckInterval, Fresh());
        ExpectLaunchedOnce();
        ExpectStoredTimeNear(Now());
    }
}

TEST_F(ScheduledUpdateCheck, AnExplicitLaunchPassesTheOriginAndLeavesTheScheduleAlone)
{
    LaunchUpdater(nullptr, nullptr, UPDATE_ORIGIN_USER);
    EXPECT_EQ(WaitForUpdaterLog(15000), ExpectedRecord(UPDATE_ORIGIN_USER));
    UniqueRegKey key;
    EXPECT_NE(ERROR_SUCCESS, RegOpenKeyExW(HKEY_CURRENT_USER, SETTINGS_KEY, 0, KEY_READ | KEY_WOW64_32KEY, key.Put()));
}
