#include <gtest/gtest.h>

#include <vector>

#include "VerbLogic.h"

namespace {

VerbRequest Parse(std::vector<const wchar_t*> args)
{
    args.insert(args.begin(), L"BrimSet.exe");
    return ParseVerbs(static_cast<int>(args.size()), args.data());
}

}  // namespace

TEST(Verbs, MalformedOnesNameTheArgumentAtFault)
{
    for (const wchar_t* bad :
         { L"D", L"D:=", L"D=8192", L"DD:=1", L"1:=5", L"D:= 5", L"D:=-5", L"D:=0", L"D:=4294967296", L"D:=0%",
           L"D:=101%", L"D:=%", L"D:=5%%", L"D:=5.5", L"D:=onn", L"\u00c4:=5" }) {
        VerbRequest r = Parse({ L"/set", L"C:=5", bad, L"E:=on" });
        EXPECT_EQ(r.ErrorStringId, IDS_VERB_BAD_ASSIGNMENT);
        EXPECT_STREQ(r.ErrorArgument, bad);
    }
    EXPECT_EQ(Parse({ L"-SET", L"/list" }).ErrorStringId, IDS_VERB_NO_ASSIGNMENT);
    EXPECT_EQ(Parse({ L"/list", L"/oswarning" }).ErrorStringId, IDS_VERB_BAD_OSWARNING);
    // Other arguments are no verb; an unknown switch ends the assignments.
    EXPECT_FALSE(Parse({ L"/x", L"set", L"/setx", L"D:=5", L"/" }).Any());
    EXPECT_EQ(Parse({ L"/set", L"D:=5", L"/y", L"E:=9" }).Drives[4].Action, DriveAction::Keep);
}

TEST(Verbs, EachFormOnTheTable)
{
    FixedDrives fixed;
    fixed.Mask = (1u << 2) | (1u << 5);
    fixed.Capacity[2] = 100000000000ULL;
    DriveSettingsImage table = {};
    table[4] = DriveSetting{ 1, 7 };        // E: watched at 7 bytes
    table[5] = DriveSetting{ 0, 1048576 };  // F: unwatched at 1 MB
    VerbRequest r = Parse({ L"/set", L"C:=on", L"E:=off", L"f:=on", L"G:=4294967295", L"/oswarning", L"on" });
    EXPECT_EQ(ApplyAssignments(table, r.Drives, fixed), -1);
    EXPECT_EQ(ThresholdOf(table[2]), 15000000000ULL);  // 15 % where none is stored
    EXPECT_EQ(table[4].Enabled + ThresholdOf(table[4]), 7u);
    EXPECT_EQ(table[5].Enabled + ThresholdOf(table[5]), 1048577u);
    EXPECT_EQ(ThresholdOf(table[6]), 4294967295ULL * 1048576);
    EXPECT_EQ(ApplyAssignments(table, Parse({ L"/set", L"C:=5", L"x:=on", L"Y:=1%" }).Drives, fixed), 23);
    EXPECT_EQ(PercentOf(UINT64_MAX, 100), UINT64_MAX);
    EXPECT_EQ(PercentOf(199, 50), 99u);
}

TEST(Verbs, CheckStopsAtTheFirstProblemInItsOrder)
{
    FixedDrives fixed;
    fixed.Mask = 1u << 2;
    VerbProblem p = CheckVerbRequest(Parse({ L"/set", L"Q:=on", L"/oswarning", L"maybe" }), fixed, false);
    EXPECT_EQ(p.ExitCode, VERB_MALFORMED);
    EXPECT_EQ(p.StringId, IDS_VERB_BAD_OSWARNING);
    EXPECT_STREQ(p.Argument.str, L"maybe");
    p = CheckVerbRequest(Parse({ L"/set", L"C:=on", L"q:=5%", L"/oswarning", L"off" }), fixed, false);
    EXPECT_EQ(p.ExitCode, VERB_NOT_FIXED);
    EXPECT_EQ(p.Argument.ch, L'Q');
    // Only where the system has no such warning, which no test machine is.
    p = CheckVerbRequest(Parse({ L"/set", L"C:=on", L"/oswarning", L"off" }), fixed, false);
    EXPECT_EQ(p.ExitCode, VERB_UNSUPPORTED);
    EXPECT_EQ(p.StringId, IDS_VERB_OSWARNING_UNAVAILABLE);
    EXPECT_EQ(CheckVerbRequest(Parse({ L"/set", L"C:=on", L"/oswarning", L"off" }), fixed, true).ExitCode, VERB_DONE);
}
