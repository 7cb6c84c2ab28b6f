// BrimSet's verbs over any command line and drive facts: every assignment
// the parse takes is in range, and applying them changes only the drives
// they name, or stops at a drive that a percentage or "on" needs fixed.
//
// Input: a fixed-drive mask, 26 capacities, a stored table image, then the
// arguments as UTF-16 code units, each ended by a NUL code unit.
#include <cstring>
#include <string>
#include <vector>

#include "FuzzInput.h"
#include "VerbLogic.h"

namespace {

wchar_t AsciiUpper(wchar_t c)
{
    return c >= L'a' && c <= L'z' ? static_cast<wchar_t>(c - 32) : c;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzInput in(data, size);
    FixedDrives fixed;
    fixed.Mask = in.Integer<uint32_t>();
    for (uint64_t& capacity : fixed.Capacity)
        capacity = in.Integer<uint64_t>();
    DriveSettingsImage stored = {};
    const std::vector<uint8_t> image = in.Bytes(DRIVE_SETTINGS_SIZE);
    if (!image.empty())
        std::memcpy(stored, image.data(), image.size());
    std::vector<std::wstring> arguments = { L"BrimSet.exe", L"" };
    while (in.Left() >= 2 && arguments.size() < 64) {
        const wchar_t c = static_cast<wchar_t>(in.Integer<uint16_t>());
        if (c == 0)
            arguments.emplace_back();
        else
            arguments.back().push_back(c);
    }
    std::vector<const wchar_t*> argv;
    for (const std::wstring& argument : arguments)
        argv.push_back(argument.c_str());

    const VerbRequest request = ParseVerbs(static_cast<int>(argv.size()), argv.data(), AsciiUpper);
    FUZZ_CHECK(request.ErrorArgument != nullptr);
    // A well-formed request asks for something, and never holds the close
    // switch: every argument was taken by a verb.
    FUZZ_CHECK(request.ErrorStringId != 0 || request.Any());
    if (request.ErrorStringId != 0)
        return 0;
    for (size_t i = 1; i < argv.size(); ++i)
        FUZZ_CHECK(!IsCloseSwitch(argv[i], AsciiUpper));
    DriveSettingsImage table;
    std::memcpy(table, stored, sizeof(table));
    const int notFixed = ApplyAssignments(table, request.Drives, fixed);
    for (int i = 0; i < DRIVE_COUNT; ++i) {
        const DriveAssignment& assignment = request.Drives[i];
        const bool needsFixed = assignment.Action == DriveAction::Percent || assignment.Action == DriveAction::On;
        FUZZ_CHECK((i == notFixed) == (needsFixed && (fixed.Mask & (1u << i)) == 0 && (notFixed < 0 || i <= notFixed)));
        if (i >= notFixed && notFixed >= 0)
            break;
        if (assignment.Action == DriveAction::Keep)
            FUZZ_CHECK(std::memcmp(&table[i], &stored[i], DRIVE_SETTING_SIZE) == 0);
        else
            FUZZ_CHECK(table[i].Enabled == (assignment.Action == DriveAction::Off ? 0 : 1));
        if (assignment.Action == DriveAction::Percent)
            FUZZ_CHECK(assignment.Amount >= 1 && assignment.Amount <= 100 &&
                       ThresholdOf(table[i]) <= fixed.Capacity[i]);
    }
    return 0;
}
