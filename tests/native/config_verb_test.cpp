#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "DriveSettingsRecord.h"
#include "VerbLogic.h"

namespace {

constexpr uint64_t MB = 1048576;

VerbRequest Parse(std::vector<const wchar_t*> args)
{
    args.insert(args.begin(), L"BrimSet.exe");
    return ParseVerbs(static_cast<int>(args.size()), args.data());
}

DriveAssignment Assignment(const wchar_t* text, int expectedDrive)
{
    int drive = -1;
    DriveAssignment assignment;
    EXPECT_TRUE(ParseAssignment(text, drive, assignment)) << text;
    EXPECT_EQ(drive, expectedDrive) << text;
    return assignment;
}

// A machine with C: (100 GB) and D: (64 MiB) fixed.
FixedDrives TwoFixedDrives()
{
    FixedDrives fixed;
    fixed.Mask = (1u << 2) | (1u << 3);
    fixed.Capacity[2] = 100000000000ULL;
    fixed.Free[2] = 40000000000ULL;
    fixed.Capacity[3] = 64 * MB;
    fixed.Free[3] = 3 * MB;
    return fixed;
}

}  // namespace

TEST(VerbAssignment, EachFormInEitherCase)
{
    DriveAssignment a = Assignment(L"D:=8192", 3);
    EXPECT_EQ(a.Action, DriveAction::Megabytes);
    EXPECT_EQ(a.Amount, 8192u);
    a = Assignment(L"c:=10%", 2);
    EXPECT_EQ(a.Action, DriveAction::Percent);
    EXPECT_EQ(a.Amount, 10u);
    EXPECT_EQ(Assignment(L"e:=OFF", 4).Action, DriveAction::Off);
    EXPECT_EQ(Assignment(L"Z:=On", 25).Action, DriveAction::On);
    EXPECT_EQ(Assignment(L"a:=4294967295", 0).Amount, 4294967295u);
    EXPECT_EQ(Assignment(L"F:=100%", 5).Amount, 100u);
}

TEST(VerbAssignment, MalformedOnesAreRefused)
{
    for (const wchar_t* text : { L"", L"D", L"D:", L"D:=", L"D=8192", L"D:8192", L"DD:=1", L"1:=5", L"D:= 5",
                                 L"D:=5 ", L"D:=-5", L"D:=+5", L"D:=0", L"D:=4294967296", L"D:=99999999999999999999",
                                 L"D:=0%", L"D:=101%", L"D:=%", L"D:=5%%", L"D:=5.5", L"D:=onn", L"\u00c4:=5" }) {
        int drive = -1;
        DriveAssignment assignment;
        EXPECT_FALSE(ParseAssignment(text, drive, assignment)) << "accepted: " << std::wstring(text).size();
        EXPECT_EQ(drive, -1);
    }
}

TEST(VerbParse, VerbsInEitherCaseWithTheirArguments)
{
    VerbRequest r = Parse({ L"/SET", L"d:=8192", L"C:=10%", L"E:=off", L"-OsWarning", L"OFF", L"-list" });
    EXPECT_EQ(r.ErrorStringId, 0);
    EXPECT_TRUE(r.Set && r.OsWarning && r.List);
    EXPECT_FALSE(r.OsWarningOn);
    EXPECT_EQ(r.Drives[3].Action, DriveAction::Megabytes);
    EXPECT_EQ(r.Drives[2].Action, DriveAction::Percent);
    EXPECT_EQ(r.Drives[4].Action, DriveAction::Off);
    EXPECT_EQ(r.Drives[5].Action, DriveAction::Keep);
    EXPECT_TRUE(Parse({ L"/oswarning", L"on" }).OsWarningOn);
    r = Parse({ L"-Check", L"/set", L"D:=1" });
    EXPECT_TRUE(r.Check && r.Set && !r.List);
    // A later assignment of the same drive wins.
    EXPECT_EQ(Parse({ L"/set", L"D:=1", L"d:=off" }).Drives[3].Action, DriveAction::Off);
}

TEST(VerbParse, OtherArgumentsAreNoVerb)
{
    for (auto args : std::vector<std::vector<const wchar_t*>>{
             {}, { L"/x" }, { L"set" }, { L"/setx" }, { L"/lis" }, { L"D:=5" }, { L"/" } })
        EXPECT_FALSE(Parse(args).Any());
    // An unknown switch ends the assignments and is ignored itself.
    VerbRequest r = Parse({ L"/x", L"/set", L"D:=5", L"/y", L"E:=9" });
    EXPECT_EQ(r.ErrorStringId, 0);
    EXPECT_EQ(r.Drives[4].Action, DriveAction::Keep);
}

TEST(VerbParse, MalformedVerbsNameTheArgumentAtFault)
{
    VerbRequest r = Parse({ L"/set", L"D:=5", L"E:=lots", L"F:=on" });
    EXPECT_EQ(r.ErrorStringId, IDS_VERB_BAD_ASSIGNMENT);
    EXPECT_STREQ(r.ErrorArgument, L"E:=lots");
    r = Parse({ L"/set", L"/list" });
    EXPECT_EQ(r.ErrorStringId, IDS_VERB_NO_ASSIGNMENT);
    EXPECT_STREQ(r.ErrorArgument, L"/set");
    EXPECT_EQ(Parse({ L"-SET" }).ErrorStringId, IDS_VERB_NO_ASSIGNMENT);
    r = Parse({ L"/oswarning", L"maybe" });
    EXPECT_EQ(r.ErrorStringId, IDS_VERB_BAD_OSWARNING);
    EXPECT_STREQ(r.ErrorArgument, L"maybe");
    EXPECT_EQ(Parse({ L"/list", L"/oswarning" }).ErrorStringId, IDS_VERB_BAD_OSWARNING);
    EXPECT_TRUE(Parse({ L"/oswarning" }).Any());
}

TEST(VerbApply, EachActionOnTheTable)
{
    DriveSettingsImage table = {};
    table[2].Threshold = 0;                 // C: no threshold stored
    table[4].Enabled = 1;                   // E: watched at 7 bytes
    table[4].Threshold = 7;
    table[5].Threshold = 5 * MB;            // F: unwatched at 5 MB
    VerbRequest r = Parse({ L"/set", L"C:=on", L"D:=10%", L"E:=off", L"f:=on", L"G:=8192" });
    FixedDrives fixed = TwoFixedDrives();
    fixed.Mask |= 1u << 5;
    fixed.Capacity[5] = 1000;
    EXPECT_EQ(ApplyAssignments(table, r.Drives, fixed), -1);
    EXPECT_EQ(table[2].Enabled, 1);
    EXPECT_EQ(ThresholdOf(table[2]), 15000000000ULL);  // 15 % where none is stored
    EXPECT_EQ(ThresholdOf(table[3]), 6710886u);        // 10 % of 64 MiB, rounded down
    EXPECT_EQ(table[4].Enabled, 0);
    EXPECT_EQ(ThresholdOf(table[4]), 7u);              // off keeps the threshold
    EXPECT_EQ(ThresholdOf(table[5]), 5 * MB);          // on keeps a stored threshold
    EXPECT_EQ(table[6].Enabled, 1);                    // megabytes need no drive
    EXPECT_EQ(ThresholdOf(table[6]), 8192 * MB);
    EXPECT_EQ(table[0].Enabled, 0);
}

TEST(VerbApply, PercentOrOnNeedsAFixedDriveNow)
{
    DriveSettingsImage table = {};
    EXPECT_EQ(ApplyAssignments(table, Parse({ L"/set", L"E:=10%" }).Drives, TwoFixedDrives()), 4);
    EXPECT_EQ(ApplyAssignments(table, Parse({ L"/set", L"C:=5", L"x:=on" }).Drives, TwoFixedDrives()), 23);
    EXPECT_EQ(ApplyAssignments(table, Parse({ L"/set", L"X:=5", L"X:=off" }).Drives, TwoFixedDrives()), -1);
}

TEST(VerbApply, PercentIsExactWithoutOverflow)
{
    EXPECT_EQ(PercentOf(100000000000ULL, 15), FifteenPercentOf(100000000000ULL));
    EXPECT_EQ(PercentOf(199, 50), 99u);
    EXPECT_EQ(PercentOf(UINT64_MAX, 100), UINT64_MAX);
    EXPECT_EQ(PercentOf(UINT64_MAX, 50), UINT64_MAX / 2);
}

TEST(VerbList, OneTabSeparatedLinePerDrive)
{
    DriveSetting watched = { 1, 5368709120ULL };
    wchar_t line[LIST_LINE_CAPACITY];
    FormatListLine(line, LIST_LINE_CAPACITY, 2, watched, TwoFixedDrives());
    EXPECT_STREQ(line, L"C:\ton\t5368709120\t100000000000\t40000000000");
    DriveSetting unwatched = { 0, 0 };
    FormatListLine(line, LIST_LINE_CAPACITY, 3, unwatched, TwoFixedDrives());
    EXPECT_STREQ(line, L"D:\toff\t0\t67108864\t3145728");
    // The longest line fits.
    FixedDrives huge;
    huge.Capacity[25] = huge.Free[25] = UINT64_MAX;
    EXPECT_EQ(FormatListLine(line, LIST_LINE_CAPACITY, 25, DriveSetting{ 0, UINT64_MAX }, huge), 2u + 1 + 3 + 3 * 21);
}
