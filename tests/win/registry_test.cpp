// The drive settings store against the real registry: round trips, the
// exact stored bytes as Wine's own reg.exe reports them, and every odd
// shape of stored value.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "DriveSettings.h"
#include "Handles.h"

namespace {

const wchar_t SETTINGS_KEY_PATH_FOR_REG[] = L"HKLM\\Software\\Velloran\\BrimSet";

// Runs a command line, returns what it printed on standard output.
std::string RunAndCapture(std::wstring commandLine)
{
    SECURITY_ATTRIBUTES inherit = { sizeof(inherit), nullptr, TRUE };
    HANDLE readEnd = nullptr, writeEnd = nullptr;
    if (!CreatePipe(&readEnd, &writeEnd, &inherit, 0))
        return {};
    SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);

    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = writeEnd;
    startup.hStdError = writeEnd;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    PROCESS_INFORMATION process = {};
    BOOL started = CreateProcessW(nullptr, &commandLine[0], nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr, nullptr,
                                  &startup, &process);
    CloseHandle(writeEnd);
    std::string output;
    if (started) {
        char buffer[4096];
        DWORD got = 0;
        while (ReadFile(readEnd, buffer, sizeof(buffer), &got, nullptr) && got > 0)
            output.append(buffer, got);
        WaitForSingleObject(process.hProcess, 30000);
        CloseHandle(process.hProcess);
        CloseHandle(process.hThread);
    }
    CloseHandle(readEnd);
    return output;
}

// The bytes of a REG_BINARY value as `reg query` prints them, in the given view.
std::vector<uint8_t> RegQueryBinary(const wchar_t* view)
{
    std::string out =
        RunAndCapture(std::wstring(L"reg.exe query ") + SETTINGS_KEY_PATH_FOR_REG + L" /v DriveSettings " + view);
    size_t at = out.find("REG_BINARY");
    if (at == std::string::npos)
        return {};
    at += std::strlen("REG_BINARY");
    while (at < out.size() && (out[at] == ' ' || out[at] == '\t'))
        ++at;
    std::vector<uint8_t> bytes;
    auto hex = [](char c) { return c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10; };
    while (at + 1 < out.size() && std::isxdigit(static_cast<unsigned char>(out[at])) &&
           std::isxdigit(static_cast<unsigned char>(out[at + 1]))) {
        bytes.push_back(static_cast<uint8_t>(hex(out[at]) * 16 + hex(out[at + 1])));
        at += 2;
    }
    return bytes;
}

void DeleteSettingsKey(REGSAM view)
{
    RegDeleteKeyExW(HKEY_LOCAL_MACHINE, SETTINGS_KEY, view, 0);
}

void WriteRawValue(DWORD type, const void* data, DWORD size)
{
    UniqueRegKey key;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_LOCAL_MACHINE, SETTINGS_KEY, 0, nullptr, 0,
                                             KEY_WRITE | KEY_WOW64_32KEY, nullptr, key.Put(), nullptr));
    ASSERT_EQ(ERROR_SUCCESS,
              RegSetValueExW(key.Get(), DRIVE_SETTINGS_VALUE, 0, type, static_cast<const BYTE*>(data), size));
}

std::vector<uint8_t> TableBytes()
{
    const uint8_t* p = reinterpret_cast<const uint8_t*>(&DriveSettingsTable[0]);
    return std::vector<uint8_t>(p, p + DRIVE_SETTINGS_SIZE);
}

void FillTable(uint8_t enabledBase)
{
    for (int i = 0; i < DRIVE_COUNT; ++i) {
        DriveSettingsTable[i].Enabled = static_cast<uint8_t>(enabledBase + i);
        DriveSettingsTable[i].Threshold = 1000003ULL * static_cast<uint64_t>(i + 1);
    }
}

class DriveSettingsStore : public testing::Test {
protected:
    void SetUp() override
    {
        DeleteSettingsKey(KEY_WOW64_32KEY);
        DeleteSettingsKey(KEY_WOW64_64KEY);
        std::memset(&DriveSettingsTable[0], 0, DRIVE_SETTINGS_SIZE);
    }
    void TearDown() override
    {
        DeleteSettingsKey(KEY_WOW64_32KEY);
        DeleteSettingsKey(KEY_WOW64_64KEY);
    }
};

}  // namespace

TEST_F(DriveSettingsStore, SaveWritesTheExactImageInThe32BitViewAndLoadReadsItBack)
{
    DriveSettingsTable[2].Enabled = 1;
    DriveSettingsTable[2].Threshold = 5120ULL * 1048576ULL;
    DriveSettingsTable[25].Enabled = 2;
    DriveSettingsTable[25].Threshold = 0xFFFFFFFFFFFFFFFFULL;
    ASSERT_EQ(0u, SaveDriveSettings(nullptr));
    const std::vector<uint8_t> saved = TableBytes();

    std::vector<uint8_t> stored = RegQueryBinary(L"/reg:32");
    ASSERT_EQ(stored.size(), 234u);
    EXPECT_EQ(stored, saved);
    const uint8_t cImage[] = { 0x01, 0x00, 0x00, 0x00, 0x40, 0x01, 0x00, 0x00, 0x00 };
    EXPECT_EQ(0, std::memcmp(&stored[18], cImage, sizeof(cImage)));
    // Nothing lands in the native 64-bit view.
    EXPECT_TRUE(RegQueryBinary(L"/reg:64").empty());

    std::memset(&DriveSettingsTable[0], 0, DRIVE_SETTINGS_SIZE);
    LoadDriveSettings();
    EXPECT_EQ(TableBytes(), saved);
}

TEST_F(DriveSettingsStore, MissingKeyOrValueLeavesTheTableAsItWas)
{
    FillTable(0x40);
    const std::vector<uint8_t> before = TableBytes();
    LoadDriveSettings();
    EXPECT_EQ(TableBytes(), before);

    UniqueRegKey key;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_LOCAL_MACHINE, SETTINGS_KEY, 0, nullptr, 0,
                                             KEY_WRITE | KEY_WOW64_32KEY, nullptr, key.Put(), nullptr));
    LoadDriveSettings();
    EXPECT_EQ(TableBytes(), before);

    // A value in the 64-bit view only is not ours to read.
    key.Reset();
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_LOCAL_MACHINE, SETTINGS_KEY, 0, nullptr, 0,
                                             KEY_WRITE | KEY_WOW64_64KEY, nullptr, key.Put(), nullptr));
    std::vector<uint8_t> other(DRIVE_SETTINGS_SIZE, 0x77);
    ASSERT_EQ(ERROR_SUCCESS, RegSetValueExW(key.Get(), DRIVE_SETTINGS_VALUE, 0, REG_BINARY, other.data(),
                                            static_cast<DWORD>(other.size())));
    LoadDriveSettings();
    EXPECT_EQ(TableBytes(), before);
}

TEST_F(DriveSettingsStore, ShortValuesReplaceOnlyTheirLeadingBytes)
{
    FillTable(0x40);
    std::vector<uint8_t> expected = TableBytes();
    const uint8_t nine[9] = { 1, 0x00, 0x00, 0x10, 0x00, 0x00, 0x00, 0x00, 0x00 };
    WriteRawValue(REG_BINARY, nine, sizeof(nine));
    LoadDriveSettings();
    std::memcpy(expected.data(), nine, sizeof(nine));
    EXPECT_EQ(TableBytes(), expected);
    EXPECT_EQ(ThresholdOf(DriveSettingsTable[0]), 0x100000u);

    const uint8_t ten[10] = { 0, 0, 0, 0, 0, 0, 0, 0, 0, 9 };
    WriteRawValue(REG_BINARY, ten, sizeof(ten));
    LoadDriveSettings();
    std::memcpy(expected.data(), ten, sizeof(ten));
    EXPECT_EQ(TableBytes(), expected);
    EXPECT_EQ(DriveSettingsTable[1].Enabled, 9);
    EXPECT_EQ(ThresholdOf(DriveSettingsTable[1]), 2000006u);

    // An empty value changes nothing.
    WriteRawValue(REG_BINARY, nullptr, 0);
    LoadDriveSettings();
    EXPECT_EQ(TableBytes(), expected);
}

TEST_F(DriveSettingsStore, OverlongValueLeavesTheTableUnchanged)
{
    FillTable(0x40);
    const std::vector<uint8_t> before = TableBytes();
    for (DWORD size : { 235u, 4096u }) {
        std::vector<uint8_t> big(size, 0xEE);
        WriteRawValue(REG_BINARY, big.data(), size);
        LoadDriveSettings();
        EXPECT_EQ(TableBytes(), before) << size;
    }
}

TEST_F(DriveSettingsStore, ValuesOfAnyTypeAreTakenByteForByte)
{
    std::memset(&DriveSettingsTable[0], 0, DRIVE_SETTINGS_SIZE);
    const DWORD dword = 0x01020304;
    WriteRawValue(REG_DWORD, &dword, sizeof(dword));
    LoadDriveSettings();
    EXPECT_EQ(DriveSettingsTable[0].Enabled, 0x04);
    EXPECT_EQ(ThresholdOf(DriveSettingsTable[0]), 0x010203u);
    EXPECT_EQ(DriveSettingsTable[1].Enabled, 0);

    const wchar_t text[] = L"AB";
    WriteRawValue(REG_SZ, text, sizeof(text));
    LoadDriveSettings();
    EXPECT_EQ(DriveSettingsTable[0].Enabled, 'A');
    EXPECT_EQ(DriveSettingsTable[1].Enabled, 0);
}

TEST_F(DriveSettingsStore, SaveReplacesTheWholeValue)
{
    std::vector<uint8_t> big(4096, 0xEE);
    WriteRawValue(REG_BINARY, big.data(), static_cast<DWORD>(big.size()));
    FillTable(1);
    ASSERT_EQ(0u, SaveDriveSettings(nullptr));
    EXPECT_EQ(RegQueryBinary(L"/reg:32"), TableBytes());
}
