// BrimSet's command-line verbs, read and decided without Windows headers:
//   /set D:=8192 C:=10% E:=off F:=on   thresholds and watching, per drive
//   /oswarning on|off                  the operating system's own warning
//   /restoreoswarning                  undo BrimSet's switching it off (at removal)
//   /list                              the local fixed drives, tab-separated
//   /check                             check the others, and write nothing
//   /?                                 the usage text
// The Win32 side (Verbs.cpp) gathers the drives' facts, asks these
// functions, and writes, saves and prints what they decide.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "CommandLine.h"

#include "DriveSettingsRecord.h"
#include "TextFormat.h"
#include "resource.h"  // the verbs' string ids

// What one assignment does to its drive.
enum class DriveAction : uint8_t {
    Keep,       // no assignment names the drive
    Megabytes,  // watch it, threshold `Amount` megabytes
    Percent,    // watch it, threshold `Amount` % of its present capacity
    Off,        // stop watching it; the threshold stays
    On,         // watch it with its stored threshold, or 15 % of its capacity
};

struct DriveAssignment {
    DriveAction Action = DriveAction::Keep;
    uint32_t Amount = 0;  // megabytes (1 .. 4294967295) or percent (1 .. 100)
};

// Reads one assignment, "<letter>:=<value>", the letter in either case and
// the value a whole number of megabytes, a whole percentage "N%", "on" or
// "off" (either case). False when it is none of these.
bool ParseAssignment(const wchar_t* text, int& driveIndex, DriveAssignment& assignment);

// The verbs of a command line. A verb is "/" or "-" and its name, in either
// case. The arguments after /set up to the next one that starts with "/" or
// "-" are its assignments (a later one for the same drive wins); /oswarning
// takes the one argument after it. Everything else is an error that names
// the argument: an unknown switch, an argument no verb takes, and the close
// switch among other arguments (a command line of close switches alone is
// not a verb request: OnlyCloseSwitches, CommandLine.h). A script that
// mistypes a verb is told so, and never gets the dialog or a silent exit.
struct VerbRequest {
    bool Set = false;
    DriveAssignment Drives[DRIVE_COUNT];
    bool OsWarning = false;
    bool OsWarningOn = false;
    bool RestoreOsWarning = false;
    bool List = false;
    bool Check = false;  // only check, as the installer does before it changes anything
    bool Help = false;   // /? or -?: the usage text, and nothing else
    // Malformed: a string id of the error line (0 when well formed) and the
    // argument it names.
    int ErrorStringId = 0;
    const wchar_t* ErrorArgument = L"";

    bool Any() const
    {
        return Set || OsWarning || RestoreOsWarning || List || Check || Help || ErrorStringId != 0;
    }
};

// `upper` upper-cases a character as the system does, for the close switch.
VerbRequest ParseVerbs(int argc, const wchar_t* const* argv, CharUpperFunction upper);

// The package's WATCH: drive assignments only, separated by blanks, at
// least one, and no quote (which would join it to what the package writes
// after it). False with the first argument at fault in `fault`, or the
// whole text when it holds none, or a quote.
bool IsDriveAssignmentList(const wchar_t* text, std::wstring& fault);

// The package's OSWARNING: "on" or "off", in either case, and nothing else.
bool IsOsWarningValue(const wchar_t* text);

// The local fixed drives of the machine now, with their space.
struct FixedDrives {
    uint32_t Mask = 0;  // bit i: drive i is fixed and its space was read
    uint64_t Capacity[DRIVE_COUNT] = {};
    uint64_t Free[DRIVE_COUNT] = {};
};

// `percent` % of a byte count, rounded down, without overflow.
uint64_t PercentOf(uint64_t bytes, uint32_t percent);

// Applies every assignment to `table`. A percentage or "on" needs a drive
// that is fixed now; the first drive (in letter order) that is not is
// returned, and `table` may then be partly changed (CheckVerbRequest finds
// such a drive before anything is applied). -1 when every assignment applied.
int ApplyAssignments(DriveSettingsImage& table, const DriveAssignment (&drives)[DRIVE_COUNT], const FixedDrives& fixed);

// One line of /list for drive `driveIndex`, without a line end: letter and
// colon, "on" or "off", threshold, capacity and free bytes, in decimal,
// separated by tabs. Returns its length.
constexpr size_t LIST_LINE_CAPACITY = 96;
size_t FormatListLine(wchar_t* out, size_t capacity, int driveIndex, const DriveSetting& setting,
                      const FixedDrives& fixed);

// The exit codes of the verbs besides the Windows error of a failed write.
constexpr int VERB_DONE = 0;
constexpr int VERB_MALFORMED = 87;    // ERROR_INVALID_PARAMETER
constexpr int VERB_NOT_FIXED = 15;    // ERROR_INVALID_DRIVE
constexpr int VERB_UNSUPPORTED = 50;  // ERROR_NOT_SUPPORTED

// What stops a request before anything is written: its exit code, and the
// error line's string id with the one argument it names. ExitCode is
// VERB_DONE when nothing does.
struct VerbProblem {
    int ExitCode = VERB_DONE;
    int StringId = 0;
    FormatArg Argument = FormatArg(L"");
};

// Checks a request against the machine's facts, in this order: a malformed
// verb, a percentage or "on" for a drive that is not fixed now, and
// /oswarning where the system has no such warning (`osWarningAvailable`
// false). BrimSet runs the same check before it writes, and the installer
// before it changes anything.
VerbProblem CheckVerbRequest(const VerbRequest& request, const FixedDrives& fixed, bool osWarningAvailable);
