// The updater's command line from the running program's path, of any
// length and content, with any version number and origin, and the
// updater's reading of it.
//
// Input: the packed version (8 bytes), the origin (4 bytes), then the
// program's path as UTF-16 code units (a NUL code unit stands for 'x': a
// path never holds one).
#include <cwchar>
#include <string>

#include "FuzzInput.h"
#include "MonitorLogic.h"
#include "UpdaterLogic.h"
#include "VersionLogic.h"

static bool IsHighSurrogateUnit(wchar_t unit)
{
    return unit >= 0xD800 && unit <= 0xDBFF;
}

static bool IsLowSurrogateUnit(wchar_t unit)
{
    return unit >= 0xDC00 && unit <= 0xDFFF;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzInput in(data, size);
    const int64_t packed = in.Integer<int64_t>();
    const int32_t origin = in.Integer<int32_t>();
    const std::wstring path = in.WideString(4096, L'x');

    // The program's file name, as the launcher takes it.
    const std::wstring fileName = FileNameOfPath(path);
    FUZZ_CHECK(fileName.find_first_of(L"\\/") == std::wstring::npos);
    FUZZ_CHECK(fileName.size() <= path.size());
    FUZZ_CHECK(path.compare(path.size() - fileName.size(), fileName.size(), fileName) == 0);

    const std::wstring parameters = FormatUpdaterParameters(fileName, packed, origin);

    // Bounded: never more than the buffer holds, terminator included.
    FUZZ_CHECK(parameters.size() <= UPDATER_PARAMETERS_CAPACITY - 1);
    FUZZ_CHECK(parameters.find(L'\0') == std::wstring::npos);

    // The numbers always arrive whole at the end, after the (possibly
    // shortened) name, which uses all the room left when it is shortened,
    // but for the first half of a surrogate pair that the cut would split.
    const std::wstring tail = L" 0 " + std::to_wstring(packed) + L" " + std::to_wstring(origin);
    FUZZ_CHECK(parameters.size() >= tail.size());
    FUZZ_CHECK(parameters.compare(parameters.size() - tail.size(), tail.size(), tail) == 0);
    const std::wstring name = parameters.substr(0, parameters.size() - tail.size());
    FUZZ_CHECK(fileName.compare(0, name.size(), name) == 0);
    if (fileName.size() + tail.size() <= UPDATER_PARAMETERS_CAPACITY - 1)
        FUZZ_CHECK(name == fileName);
    else if (parameters.size() != UPDATER_PARAMETERS_CAPACITY - 1)
        FUZZ_CHECK(parameters.size() == UPDATER_PARAMETERS_CAPACITY - 2 && IsHighSurrogateUnit(fileName[name.size()]) &&
                   IsLowSurrogateUnit(fileName[name.size() + 1]));
    if (name.size() < fileName.size() && !name.empty())
        FUZZ_CHECK(!(IsHighSurrogateUnit(name.back()) && IsLowSurrogateUnit(fileName[name.size()])));

    // The updater reads back what was sent: the name without the blanks
    // around it, the version and an origin of 0 or 1; anything else is the
    // user asking with no version known.
    const UpdaterRequest request = ParseUpdaterParameters(parameters);
    const size_t first = name.find_first_not_of(L" \t");
    const bool readable = first != std::wstring::npos && (origin == 0 || origin == 1);
    FUZZ_CHECK(request.wellFormed == readable);
    if (readable) {
        FUZZ_CHECK(request.callerName == name.substr(first, name.find_last_not_of(L" \t") + 1 - first));
        FUZZ_CHECK(request.installedVersion == static_cast<uint64_t>(packed));
        FUZZ_CHECK(request.origin == origin);
    } else {
        FUZZ_CHECK(request.origin == UPDATE_ORIGIN_USER && request.installedVersion == 0);
    }

    // The updater and the configuration program are looked for beside the
    // program, whatever its name: same folder, a separator before the name.
    const std::wstring updater = ReplaceFileName(path, UPDATER_FILE_NAME);
    const std::wstring folder = path.substr(0, path.size() - fileName.size());
    const std::wstring updaterName = UPDATER_FILE_NAME;
    FUZZ_CHECK(updater.size() >= updaterName.size());
    FUZZ_CHECK(updater.compare(updater.size() - updaterName.size(), updaterName.size(), updaterName) == 0);
    FUZZ_CHECK(FileNameOfPath(updater) == updaterName);
    if (!folder.empty())
        FUZZ_CHECK(updater == folder + updaterName);
    else if (path.empty())
        FUZZ_CHECK(updater == updaterName);
    else
        FUZZ_CHECK(updater == path + L"\\" + updaterName);
    const std::wstring config = ConfigProgramPath(path);
    FUZZ_CHECK(config.substr(0, config.size() - std::wcslen(CONFIG_PROGRAM_FILE_NAME)) ==
               updater.substr(0, updater.size() - updaterName.size()));
    return 0;
}
