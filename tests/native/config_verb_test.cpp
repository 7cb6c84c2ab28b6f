#include <gtest/gtest.h>

#include <vector>

#include "VerbLogic.h"

namespace {

wchar_t AsciiUpper(wchar_t c)
{
    return c >= L'a' && c <= L'z' ? static_cast<wchar_t>(c - 32) : c;
}

VerbRequest Parse(std::vector<const wchar_t*> args)
{
    args.insert(args.begin(), L"BrimSet.exe");
    return ParseVerbs(static_cast<int>(args.size()), args.data(), AsciiUpper);
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
}

// Whatever the command line holds, each argument is a verb or a verb's
// argument; anything else is an error naming the first argument at fault,
// so that a mistyped script stops instead of doing part of its work.
TEST(Verbs, EveryArgumentIsTakenOrNamed)
{
    const struct {
        std::vector<const wchar_t*> args;
        int stringId;
        const wchar_t* fault;
    } cases[] = {
        { { L"/set", L"C:=off", L"/x", L"D:=junk" }, IDS_VERB_UNKNOWN, L"/x" },
        { { L"/lsit" }, IDS_VERB_UNKNOWN, L"/lsit" },
        { { L"/" }, IDS_VERB_UNKNOWN, L"/" },
        { { L"--u" }, IDS_VERB_UNKNOWN, L"--u" },
        { { L"/setx", L"D:=5" }, IDS_VERB_UNKNOWN, L"/setx" },
        { { L"U" }, IDS_VERB_UNEXPECTED, L"U" },
        { { L"/list", L"C:=5" }, IDS_VERB_UNEXPECTED, L"C:=5" },
        { { L"/oswarning", L"on", L"off" }, IDS_VERB_UNEXPECTED, L"off" },
        { { L"/check", L"" }, IDS_VERB_UNEXPECTED, L"" },
        { { L"/set", L"C:=8192", L"-u" }, IDS_VERB_CLOSE_NOT_ALONE, L"-u" },
        { { L"/Uninstall", L"/list" }, IDS_VERB_CLOSE_NOT_ALONE, L"/Uninstall" },
    };
    for (const auto& c : cases) {
        const VerbRequest r = Parse(c.args);
        EXPECT_EQ(r.ErrorStringId, c.stringId) << c.args[0];
        EXPECT_STREQ(r.ErrorArgument, c.fault);
    }
    EXPECT_TRUE(Parse({ L"-?" }).Help);
    EXPECT_TRUE(Parse({ L"/LIST", L"-Check", L"/restoreOSwarning" }).List);
}

TEST(Verbs, OnlyCloseSwitchesAreTheCloseRequest)
{
    const wchar_t* close[] = { L"BrimSet.exe", L"/U", L"-uninstall" };
    const wchar_t* mixed[] = { L"BrimSet.exe", L"/U", L"/x" };
    EXPECT_TRUE(OnlyCloseSwitches(3, close, AsciiUpper));
    EXPECT_FALSE(OnlyCloseSwitches(3, mixed, AsciiUpper));
    EXPECT_FALSE(OnlyCloseSwitches(1, close, AsciiUpper));
}

// The package's properties go into BrimSet's command line as they are:
// each must hold only what it is for.
TEST(Verbs, PackagePropertiesHoldOnlyTheirOwnKind)
{
    std::wstring fault;
    EXPECT_TRUE(IsDriveAssignmentList(L" C:=10%\tD:=8192  e:=off ", fault));
    for (const wchar_t* bad : { L"C:=8192 -u", L"C:=1 /list", L"C:=1 \"/set\" D:=off" }) {
        EXPECT_FALSE(IsDriveAssignmentList(bad, fault)) << bad;
    }
    IsDriveAssignmentList(L"C:=8192 -u", fault);
    EXPECT_EQ(fault, L"-u");
    EXPECT_FALSE(IsDriveAssignmentList(L"   ", fault));
    EXPECT_TRUE(IsOsWarningValue(L"OFF"));
    EXPECT_FALSE(IsOsWarningValue(L"on /set"));
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
