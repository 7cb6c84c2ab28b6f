#include "VerbLogic.h"

#include <algorithm>

#include "TextFormat.h"

namespace {

wchar_t AsciiLower(wchar_t c)
{
    return c >= L'A' && c <= L'Z' ? static_cast<wchar_t>(c + 32) : c;
}

// Whether `text` is `word` (lower case ASCII), in either case.
bool IsWord(const wchar_t* text, const wchar_t* word)
{
    for (; *word != L'\0'; ++text, ++word) {
        if (AsciiLower(*text) != *word)
            return false;
    }
    return *text == L'\0';
}

bool IsSwitchLike(const wchar_t* argument)
{
    return argument[0] == L'/' || argument[0] == L'-';
}

bool IsVerb(const wchar_t* argument, const wchar_t* name)
{
    return IsSwitchLike(argument) && IsWord(argument + 1, name);
}

// Decimal digits to the end, between 1 and `largest`; no sign, no blanks.
bool ParseAmount(const wchar_t* text, uint64_t largest, uint32_t& amount)
{
    if (*text == L'\0')
        return false;
    uint64_t value = 0;
    for (; *text != L'\0'; ++text) {
        if (*text < L'0' || *text > L'9')
            return false;
        value = value * 10 + static_cast<uint64_t>(*text - L'0');
        if (value > largest)
            return false;
    }
    if (value == 0)
        return false;
    amount = static_cast<uint32_t>(value);
    return true;
}

}  // namespace

bool ParseAssignment(const wchar_t* text, int& driveIndex, DriveAssignment& assignment)
{
    const wchar_t letter = AsciiLower(text[0]);
    if (letter < L'a' || letter > L'z' || text[1] != L':' || text[2] != L'=')
        return false;
    const wchar_t* value = text + 3;
    DriveAssignment parsed;
    if (IsWord(value, L"on")) {
        parsed.Action = DriveAction::On;
    } else if (IsWord(value, L"off")) {
        parsed.Action = DriveAction::Off;
    } else {
        // "N%": the digits before the one percent sign at the end.
        const wchar_t* end = value;
        while (*end != L'\0')
            ++end;
        const bool percent = end != value && end[-1] == L'%';
        wchar_t digits[12] = {};
        const size_t length = static_cast<size_t>(end - value) - (percent ? 1 : 0);
        if (length >= sizeof(digits) / sizeof(digits[0]))
            return false;
        for (size_t i = 0; i < length; ++i)
            digits[i] = value[i];
        if (!ParseAmount(digits, percent ? 100 : 0xFFFFFFFFu, parsed.Amount))
            return false;
        parsed.Action = percent ? DriveAction::Percent : DriveAction::Megabytes;
    }
    driveIndex = letter - L'a';
    assignment = parsed;
    return true;
}

VerbRequest ParseVerbs(int argc, const wchar_t* const* argv, CharUpperFunction upper)
{
    VerbRequest request;
    auto fail = [&request](int stringId, const wchar_t* argument) {
        request.ErrorStringId = stringId;
        request.ErrorArgument = argument;
    };
    for (int i = 1; i < argc && argv != nullptr && request.ErrorStringId == 0; ++i) {
        const wchar_t* argument = argv[i] != nullptr ? argv[i] : L"";
        if (IsCloseSwitch(argument, upper)) {
            fail(IDS_VERB_CLOSE_NOT_ALONE, argument);
        } else if (IsVerb(argument, L"set")) {
            request.Set = true;
            int count = 0;
            for (; i + 1 < argc && argv[i + 1] != nullptr && !IsSwitchLike(argv[i + 1]); ++i, ++count) {
                int drive = 0;
                DriveAssignment assignment;
                if (!ParseAssignment(argv[i + 1], drive, assignment)) {
                    fail(IDS_VERB_BAD_ASSIGNMENT, argv[i + 1]);
                    break;
                }
                request.Drives[drive] = assignment;
            }
            if (count == 0 && request.ErrorStringId == 0)
                fail(IDS_VERB_NO_ASSIGNMENT, argument);
        } else if (IsVerb(argument, L"oswarning")) {
            const wchar_t* value = i + 1 < argc && argv[i + 1] != nullptr ? argv[i + 1] : L"";
            request.OsWarning = true;
            request.OsWarningOn = IsWord(value, L"on");
            if (!IsOsWarningValue(value))
                fail(IDS_VERB_BAD_OSWARNING, value);
            else
                ++i;
        } else if (IsVerb(argument, L"restoreoswarning")) {
            request.RestoreOsWarning = true;
        } else if (IsVerb(argument, L"list")) {
            request.List = true;
        } else if (IsVerb(argument, L"check")) {
            request.Check = true;
        } else if (IsVerb(argument, L"?")) {
            request.Help = true;
        } else if (IsSwitchLike(argument)) {
            fail(IDS_VERB_UNKNOWN, argument);
        } else {
            fail(IDS_VERB_UNEXPECTED, argument);
        }
    }
    return request;
}

bool IsDriveAssignmentList(const wchar_t* text, std::wstring& fault)
{
    const std::wstring whole = text != nullptr ? text : L"";
    fault = whole;
    if (whole.find(L'"') != std::wstring::npos)
        return false;
    size_t count = 0;
    size_t start = 0;
    for (;;) {
        start = whole.find_first_not_of(L" \t", start);
        if (start == std::wstring::npos)
            break;
        const size_t end = std::min(whole.find_first_of(L" \t", start), whole.size());
        const std::wstring token = whole.substr(start, end - start);
        int drive = 0;
        DriveAssignment assignment;
        if (!ParseAssignment(token.c_str(), drive, assignment)) {
            fault = token;
            return false;
        }
        ++count;
        start = end;
    }
    return count > 0;
}

bool IsOsWarningValue(const wchar_t* text)
{
    return text != nullptr && (IsWord(text, L"on") || IsWord(text, L"off"));
}

uint64_t PercentOf(uint64_t bytes, uint32_t percent)
{
    return bytes / 100 * percent + bytes % 100 * percent / 100;
}

int ApplyAssignments(DriveSettingsImage& table, const DriveAssignment (&drives)[DRIVE_COUNT], const FixedDrives& fixed)
{
    for (int i = 0; i < DRIVE_COUNT; ++i) {
        const DriveAssignment& assignment = drives[i];
        const bool isFixed = (fixed.Mask & (1u << i)) != 0;
        DriveSetting& setting = table[i];
        switch (assignment.Action) {
        case DriveAction::Keep: break;
        case DriveAction::Megabytes:
            setting.Enabled = 1;
            setting.Threshold = assignment.Amount * BYTES_PER_MEGABYTE;
            break;
        case DriveAction::Percent:
            if (!isFixed)
                return i;
            setting.Enabled = 1;
            setting.Threshold = PercentOf(fixed.Capacity[i], assignment.Amount);
            break;
        case DriveAction::Off: setting.Enabled = 0; break;
        case DriveAction::On:
            if (!isFixed)
                return i;
            setting.Enabled = 1;
            if (ThresholdOf(setting) == 0)
                setting.Threshold = FifteenPercentOf(fixed.Capacity[i]);
            break;
        }
    }
    return -1;
}

VerbProblem CheckVerbRequest(const VerbRequest& request, const FixedDrives& fixed, bool osWarningAvailable)
{
    VerbProblem problem;
    if (request.ErrorStringId != 0) {
        problem.ExitCode = VERB_MALFORMED;
        problem.StringId = request.ErrorStringId;
        problem.Argument = request.ErrorArgument;
        return problem;
    }
    if (request.Set) {
        // Which drive fails does not depend on what is stored.
        DriveSettingsImage scratch = {};
        const int notFixed = ApplyAssignments(scratch, request.Drives, fixed);
        if (notFixed >= 0) {
            problem.ExitCode = VERB_NOT_FIXED;
            problem.StringId = IDS_VERB_NOT_FIXED;
            problem.Argument = DriveLetter(notFixed);
            return problem;
        }
    }
    if (request.OsWarning && !osWarningAvailable) {
        problem.ExitCode = VERB_UNSUPPORTED;
        problem.StringId = IDS_VERB_OSWARNING_UNAVAILABLE;
    }
    return problem;
}

size_t FormatListLine(wchar_t* out, size_t capacity, int driveIndex, const DriveSetting& setting,
                      const FixedDrives& fixed)
{
    if (!IsDriveIndex(static_cast<uint64_t>(driveIndex)))
        driveIndex = 0;
    return FormatText(out, capacity, L"%c:\t%s\t%I64u\t%I64u\t%I64u",
                      { DriveLetter(driveIndex), IsDriveEnabled(setting) ? L"on" : L"off", ThresholdOf(setting),
                        fixed.Capacity[driveIndex], fixed.Free[driveIndex] });
}
