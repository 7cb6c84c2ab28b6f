#include <gtest/gtest.h>

#include <cwctype>
#include <string>

#include "CommandLine.h"
#include "TextFormat.h"
#include "VersionLogic.h"

namespace {

wchar_t AsciiUpper(wchar_t c)
{
    return static_cast<wchar_t>(std::towupper(c));
}

std::wstring Format(const wchar_t* tmpl, std::initializer_list<FormatArg> args, size_t capacity = 256)
{
    std::wstring out(capacity, L'#');
    size_t n = FormatText(&out[0], capacity, tmpl, args);
    EXPECT_EQ(out[n], L'\0');
    return out.substr(0, n);
}

}  // namespace

TEST(TextFormat, StringTableTemplatesFormatExactly)
{
    EXPECT_EQ(Format(L"You are running out of disk space on drive %c.\r\nIt only has %s free.", { L'C', L"1.52 GB" }),
              L"You are running out of disk space on drive C.\r\nIt only has 1.52 GB free.");
    EXPECT_EQ(Format(L"Velloran Brimline: Low disk space on drive %c: %s", { L'D', L"900 KB" }),
              L"Velloran Brimline: Low disk space on drive D: 900 KB");
    EXPECT_EQ(Format(L"%s V%u.%u.%u.%u", { L"BrimSet", 2u, 4u, 1u, 0u }), L"BrimSet V2.4.1.0");
    EXPECT_EQ(Format(L"%s 0 %I64d %d", { L"a.exe", int64_t{ -5 }, 1 }), L"a.exe 0 -5 1");
    EXPECT_EQ(Format(L"%lld|%llu|%ld|%lu|%i", { int64_t{ INT64_MIN }, uint64_t{ UINT64_MAX }, -1, 7u, 3 }),
              L"-9223372036854775808|18446744073709551615|-1|7|3");
}

TEST(TextFormat, OddTemplatesAreSafe)
{
    // Missing arguments print nothing; extra arguments are ignored.
    EXPECT_EQ(Format(L"[%s][%c][%d]", { L"x" }), L"[x][][]");
    EXPECT_EQ(Format(L"plain", { L"unused", 5 }), L"plain");
    // Unknown conversions and a trailing '%' are copied as they stand; "%%" is '%'.
    EXPECT_EQ(Format(L"100%% %q %", {}), L"100% %q %");
    // A null string argument prints nothing rather than crashing.
    EXPECT_EQ(Format(L"<%s>", { static_cast<const wchar_t*>(nullptr) }), L"<>");
    // The argument prints as what it is, whatever the conversion letter.
    EXPECT_EQ(Format(L"%d %s", { L"text", 42 }), L"text 42");
}

TEST(TextFormat, OutputIsTruncatedAndAlwaysTerminated)
{
    EXPECT_EQ(Format(L"%s", { L"abcdefgh" }, 5), L"abcd");
    EXPECT_EQ(Format(L"%u", { 123456u }, 4), L"123");
    EXPECT_EQ(Format(L"abc", {}, 1), L"");
    wchar_t untouched = L'#';
    EXPECT_EQ(FormatText(&untouched, 0, L"abc", {}), 0u);
    EXPECT_EQ(untouched, L'#');
    EXPECT_EQ(BoundedLength(L"abc", 2), 2u);
    EXPECT_EQ(BoundedLength(L"abc", 10), 3u);
    EXPECT_EQ(BoundedLength(nullptr, 10), 0u);
}

TEST(CommandLine, CloseSwitchLooksAtTheFirstTwoCharactersOnly)
{
    for (const wchar_t* arg : { L"/U", L"-u", L"/Uninstall", L"/Uxyz", L"-Uninstall", L"/u" })
        EXPECT_TRUE(IsCloseSwitch(arg, AsciiUpper)) << std::wstring(arg).c_str();
    for (const wchar_t* arg : { L"/", L"-", L"U", L"--U", L"--u", L"/X", L"", L"uninstall", L" /U" })
        EXPECT_FALSE(IsCloseSwitch(arg, AsciiUpper)) << std::wstring(arg).c_str();
    EXPECT_FALSE(IsCloseSwitch(nullptr, AsciiUpper));
}

TEST(CommandLine, SwitchLetterAndArgumentWalk)
{
    EXPECT_EQ(SwitchLetter(L"/restart", AsciiUpper), L'R');
    EXPECT_EQ(SwitchLetter(L"-N", AsciiUpper), L'N');
    EXPECT_EQ(SwitchLetter(L"R", AsciiUpper), 0);
    EXPECT_EQ(SwitchLetter(L"/", AsciiUpper), 0);

    const wchar_t* first[] = { L"BrimSet.exe", L"/x", L"/U" };
    EXPECT_TRUE(HasCloseSwitch(3, first, AsciiUpper));
    // The program name itself never counts.
    const wchar_t* name[] = { L"/Ufo.exe", L"U" };
    EXPECT_FALSE(HasCloseSwitch(2, name, AsciiUpper));
    EXPECT_FALSE(HasCloseSwitch(1, first, AsciiUpper));
    EXPECT_FALSE(HasCloseSwitch(0, nullptr, AsciiUpper));
}

TEST(VersionLogic, PackingAndFormatting)
{
    const uint32_t ms = (2u << 16) | 4u, ls = (1u << 16) | 0u;
    EXPECT_EQ(PackFileVersion(ms, ls), 562967133356032LL);
    EXPECT_EQ(FormatVersionNumbers(ms, ls), L"2.4.1.0");
    EXPECT_EQ(FormatVersionNumbers(0xFFFFFFFFu, 0xFFFFFFFFu), L"65535.65535.65535.65535");
    // A major version of 32768 and above packs to a negative signed number.
    EXPECT_LT(PackFileVersion(0x80000000u, 0), 0);
    EXPECT_EQ(PackFileVersion(0, 0), 0);
}

TEST(VersionLogic, ATranslationInTheUsersLanguageThenInItsLanguageOfAnyCountryThenTheFirst)
{
    // English (United Kingdom) first, then German, French (France), Spanish (Spain).
    const uint16_t languages[] = { 0x0809, 0x0407, 0x040C, 0x0C0A };
    EXPECT_EQ(ChooseVersionTranslation(languages, 4, 0x040C), 2u);
    EXPECT_EQ(ChooseVersionTranslation(languages, 4, 0x0807), 1u);  // German (Switzerland)
    EXPECT_EQ(ChooseVersionTranslation(languages, 4, 0x080A), 3u);  // Spanish (Mexico)
    EXPECT_EQ(ChooseVersionTranslation(languages, 4, 0x0409), 0u);  // English (United States)
    EXPECT_EQ(ChooseVersionTranslation(languages, 4, 0x040B), 0u);  // Finnish: none
    EXPECT_EQ(ChooseVersionTranslation(languages, 1, 0x0407), 0u);
}

TEST(VersionLogic, UpdaterPathAndParameters)
{
    EXPECT_EQ(FileNameOfPath(L"C:\\Program Files\\Brimline\\BrimWatch.exe"), L"BrimWatch.exe");
    EXPECT_EQ(FileNameOfPath(L"C:/tools/Renamed Monitor.exe"), L"Renamed Monitor.exe");
    EXPECT_EQ(FileNameOfPath(L"bare.exe"), L"bare.exe");
    EXPECT_EQ(ReplaceFileName(L"C:\\Program Files\\Brimline\\BrimWatch.exe", UPDATER_FILE_NAME),
              L"C:\\Program Files\\Brimline\\VelloranUpdater.exe");
    EXPECT_EQ(ReplaceFileName(L"C:\\dir\\", L"u.exe"), L"C:\\dir\\u.exe");
    EXPECT_EQ(ReplaceFileName(L"C:", L"u.exe"), L"C:\\u.exe");

    EXPECT_EQ(FormatUpdaterParameters(L"BrimWatch.exe", 562967133356032LL, UPDATE_ORIGIN_SCHEDULE),
              L"BrimWatch.exe 0 562967133356032 1");
    EXPECT_EQ(FormatUpdaterParameters(L"BrimSet.exe", 562967133356032LL, UPDATE_ORIGIN_USER),
              L"BrimSet.exe 0 562967133356032 0");
    EXPECT_EQ(FormatUpdaterParameters(L"BrimWatch.exe", 0, 1), L"BrimWatch.exe 0 0 1");
}

TEST(VersionLogic, LongFileNamesAreShortenedAndTheNumbersKept)
{
    for (size_t length : { 150u, 178u, 179u, 180u, 199u, 255u, 4000u }) {
        std::wstring name(length, L'n');
        std::wstring text = FormatUpdaterParameters(name, INT64_MIN, -2147483647 - 1);
        EXPECT_LE(text.size(), UPDATER_PARAMETERS_CAPACITY - 1) << length;
        const std::wstring tail = L" 0 -9223372036854775808 -2147483648";
        ASSERT_GE(text.size(), tail.size());
        EXPECT_EQ(text.substr(text.size() - tail.size()), tail) << length;
        EXPECT_EQ(text.find_first_not_of(L'n'), std::min(length, text.size() - tail.size())) << length;
    }
}

TEST(VersionLogic, AShortenedNameNeverEndsInHalfACharacter)
{
    // Names of characters outside the basic plane, two UTF-16 units each,
    // cut at every place near the limit.
    for (size_t pairs : { 88u, 89u, 90u, 100u }) {
        std::wstring name;
        for (size_t i = 0; i < pairs; ++i)
            name += L"\xD83D\xDCBE";  // a floppy disk
        for (const std::wstring& fileName : { name, L"x" + name }) {
            std::wstring text = FormatUpdaterParameters(fileName, 562967133356032LL, UPDATE_ORIGIN_USER);
            const std::wstring tail = L" 0 562967133356032 0";
            ASSERT_GE(text.size(), tail.size());
            EXPECT_EQ(text.substr(text.size() - tail.size()), tail);
            const std::wstring kept = text.substr(0, text.size() - tail.size());
            EXPECT_EQ(fileName.compare(0, kept.size(), kept), 0);
            if (fileName.size() + tail.size() <= UPDATER_PARAMETERS_CAPACITY - 1) {
                EXPECT_EQ(kept, fileName);
                continue;
            }
            ASSERT_FALSE(kept.empty());
            EXPECT_FALSE(kept.back() >= 0xD800 && kept.back() <= 0xDBFF) << fileName.size();
            EXPECT_GE(text.size(), UPDATER_PARAMETERS_CAPACITY - 2);
        }
    }
}

TEST(VersionLogic, LastUpdateCheckDecoding)
{
    const uint8_t bytes[8] = { 0x00, 0x40, 0x7A, 0x10, 0xF3, 0x5A, 0x00, 0x00 };
    int64_t stored = -1;
    EXPECT_TRUE(DecodeLastUpdateCheck(true, STORED_TYPE_BINARY, bytes, 8, &stored));
    EXPECT_EQ(stored, 0x00005AF3107A4000LL);

    uint8_t round[8];
    EncodeLastUpdateCheck(-2, round);
    EXPECT_TRUE(DecodeLastUpdateCheck(true, STORED_TYPE_BINARY, round, 8, &stored));
    EXPECT_EQ(stored, -2);

    const uint32_t REG_DWORD_TYPE = 4, REG_QWORD_TYPE = 11;
    EXPECT_FALSE(DecodeLastUpdateCheck(true, REG_DWORD_TYPE, bytes, 4, &stored));
    EXPECT_FALSE(DecodeLastUpdateCheck(true, REG_QWORD_TYPE, bytes, 8, &stored));
    EXPECT_FALSE(DecodeLastUpdateCheck(false, STORED_TYPE_BINARY, bytes, 8, &stored));
    for (size_t size = 0; size < 8; ++size)
        EXPECT_FALSE(DecodeLastUpdateCheck(true, STORED_TYPE_BINARY, bytes, size, &stored)) << size;
    EXPECT_FALSE(DecodeLastUpdateCheck(true, STORED_TYPE_BINARY, bytes, 9, &stored));
}

TEST(VersionLogic, UpdateIsDueOnlyStrictlyAfterTheInterval)
{
    const int64_t now = 17000000000000000LL;
    EXPECT_TRUE(IsUpdateDue(false, 0, now, UpdateCheckInterval));
    EXPECT_FALSE(IsUpdateDue(true, now - 864000000000LL, now, UpdateCheckInterval));
    EXPECT_TRUE(IsUpdateDue(true, now - 864000000001LL, now, UpdateCheckInterval));
    EXPECT_FALSE(IsUpdateDue(true, now, now, UpdateCheckInterval));
    // The clock was set back: a stored time in the future is not due ...
    EXPECT_FALSE(IsUpdateDue(true, now + 1, now, UpdateCheckInterval));
    EXPECT_FALSE(IsUpdateDue(true, now + 5 * UpdateCheckInterval, now, UpdateCheckInterval));
    // ... until the clock has passed it by more than the interval.
    EXPECT_TRUE(IsUpdateDue(true, now - UpdateCheckInterval - 1, now, UpdateCheckInterval));
    // Extreme stored values compare exactly, without signed overflow: a
    // corrupt far-past time is due, a far-future one is not.
    EXPECT_FALSE(IsUpdateDue(true, INT64_MAX, 0, UpdateCheckInterval));
    EXPECT_TRUE(IsUpdateDue(true, INT64_MIN, now, UpdateCheckInterval));
    EXPECT_TRUE(IsUpdateDue(true, INT64_MIN, 0, UpdateCheckInterval));
    EXPECT_EQ(UpdateTimeFromFileTime(UNIX_EPOCH_AS_FILETIME), 0);
    EXPECT_EQ(UpdateTimeFromFileTime(UNIX_EPOCH_AS_FILETIME + 10), 10);
}
