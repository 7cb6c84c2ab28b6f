// BrimSet's verbs over arbitrary command lines and drive facts: the parse
// never fails on any argument, every assignment it accepts is in range, and
// applying them changes only the drives they name, or reports a drive that
// a percentage or "on" needs and that is not fixed.
//
// Input: a fixed-drive mask and 26 capacities, a stored table image, then
// the arguments as UTF-16 code units, each ended by a NUL code unit.
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "FuzzInput.h"
#include "VerbLogic.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzInput in(data, size);
    FixedDrives fixed;
    fixed.Mask = in.Integer<uint32_t>();
    for (int i = 0; i < DRIVE_COUNT; ++i)
        fixed.Capacity[i] = fixed.Free[i] = in.Integer<uint64_t>();
    DriveSettingsImage stored;
    const std::vector<uint8_t> image = in.Bytes(DRIVE_SETTINGS_SIZE);
    std::memset(stored, 0, sizeof(stored));
    if (!image.empty())
        std::memcpy(stored, image.data(), image.size());

    std::vector<std::wstring> arguments(1, L"BrimSet.exe");
    arguments.emplace_back();
    while (in.Left() >= 2 && arguments.size() < 64) {
        wchar_t c = static_cast<wchar_t>(in.Integer<uint16_t>());
        if (c == 0)
            arguments.emplace_back();
        else
            arguments.back().push_back(c);
    }
    // Each argument in a heap block of exactly its length and terminator.
    std::vector<std::unique_ptr<wchar_t[]>> owned;
    std::vector<const wchar_t*> argv;
    for (const std::wstring& argument : arguments) {
        owned.emplace_back(new wchar_t[argument.size() + 1]);
        std::wmemcpy(owned.back().get(), argument.c_str(), argument.size() + 1);
        argv.push_back(owned.back().get());
    }

    const VerbRequest request = ParseVerbs(static_cast<int>(argv.size()), argv.data());
    FUZZ_CHECK(request.ErrorArgument != nullptr);
    for (const DriveAssignment& assignment : request.Drives) {
        if (assignment.Action == DriveAction::Megabytes)
            FUZZ_CHECK(assignment.Amount >= 1);
        if (assignment.Action == DriveAction::Percent)
            FUZZ_CHECK(assignment.Amount >= 1 && assignment.Amount <= 100);
    }
    if (request.ErrorStringId != 0)
        return 0;

    DriveSettingsImage table;
    std::memcpy(table, stored, sizeof(table));
    const int notFixed = ApplyAssignments(table, request.Drives, fixed);
    for (int i = 0; i < DRIVE_COUNT; ++i) {
        const DriveAssignment& assignment = request.Drives[i];
        const bool needsFixed = assignment.Action == DriveAction::Percent || assignment.Action == DriveAction::On;
        const bool isFixed = (fixed.Mask & (1u << i)) != 0;
        if (i == notFixed) {
            FUZZ_CHECK(needsFixed && !isFixed);
            break;
        }
        FUZZ_CHECK(!(needsFixed && !isFixed));
        switch (assignment.Action) {
        case DriveAction::Keep: FUZZ_CHECK(std::memcmp(&table[i], &stored[i], DRIVE_SETTING_SIZE) == 0); break;
        case DriveAction::Off:
            FUZZ_CHECK(table[i].Enabled == 0 && ThresholdOf(table[i]) == ThresholdOf(stored[i]));
            break;
        case DriveAction::Percent: FUZZ_CHECK(ThresholdOf(table[i]) <= fixed.Capacity[i]); [[fallthrough]];
        default: FUZZ_CHECK(table[i].Enabled == 1);
        }
        wchar_t line[LIST_LINE_CAPACITY];
        FUZZ_CHECK(FormatListLine(line, LIST_LINE_CAPACITY, i, table[i], fixed) < LIST_LINE_CAPACITY - 1);
    }
    return 0;
}
