#include "VersionInfo.h"

#include <shellapi.h>

#include <vector>

#include "DriveSettings.h"
#include "Handles.h"
#include "OpenAsUser.h"
#include "SystemLibrary.h"
#include "TextFormat.h"

const wchar_t LAST_UPDATE_CHECK_VALUE[] = L"LastUpdateCheck";

namespace {

static_assert(STORED_TYPE_BINARY == REG_BINARY, "the update-check rule's value type is the registry's");

const wchar_t* const VERSION_STRING_NAMES[] = {
    L"CompanyName",     L"FileDescription",  L"FileVersion", L"InternalName",   L"LegalCopyright",
    L"LegalTrademarks", L"OriginalFilename", L"ProductName", L"ProductVersion",
};

// version.dll is none of the DLLs the system always takes from its own
// directory: imported, it would be looked for beside the program first,
// where a planted copy would run inside the elevated BrimSet. It is loaded
// from the system directory alone, when first needed, and kept.
struct VersionFunctions {
    decltype(&GetFileVersionInfoSizeW) GetFileVersionInfoSize;
    decltype(&GetFileVersionInfoW) GetFileVersionInfo;
    decltype(&VerQueryValueW) VerQueryValue;
};
VersionFunctions Version = {};
bool VersionLoaded = false;

// The three functions, or null when the library or any of them is missing.
const VersionFunctions* VersionLibrary()
{
    if (!VersionLoaded) {
        VersionLoaded = true;
        HMODULE library = LoadSystemLibrary(L"version.dll");
        FindSystemFunction(library, "GetFileVersionInfoSizeW", Version.GetFileVersionInfoSize);
        FindSystemFunction(library, "GetFileVersionInfoW", Version.GetFileVersionInfo);
        FindSystemFunction(library, "VerQueryValueW", Version.VerQueryValue);
    }
    const bool complete = Version.GetFileVersionInfoSize != nullptr && Version.GetFileVersionInfo != nullptr &&
                          Version.VerQueryValue != nullptr;
    return complete ? &Version : nullptr;
}

// The module's whole version block, or an empty buffer.
std::vector<BYTE> ReadVersionBlock(HMODULE module)
{
    const VersionFunctions* version = VersionLibrary();
    if (version == nullptr)
        return {};
    std::wstring path = ModuleFilePath(module);
    DWORD handle = 0;
    DWORD size = version->GetFileVersionInfoSize(path.c_str(), &handle);
    if (size == 0)
        return {};
    std::vector<BYTE> block(size);
    if (!version->GetFileVersionInfo(path.c_str(), 0, size, block.data()))
        return {};
    return block;
}

wchar_t HexDigit(unsigned value)
{
    return static_cast<wchar_t>(value < 10 ? L'0' + value : L'a' + value - 10);
}

void AppendHex4(std::wstring& text, WORD value)
{
    for (int shift = 12; shift >= 0; shift -= 4)
        text += HexDigit((value >> shift) & 0xF);
}

}  // namespace

std::wstring ModuleFilePath(HMODULE module)
{
    wchar_t path[MAX_PATH];
    DWORD length = GetModuleFileNameW(module, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        length = static_cast<DWORD>(BoundedLength(path, MAX_PATH - 1));
    return std::wstring(path, length);
}

std::wstring ReadVersionString(HMODULE module, VersionStringId id)
{
    if (id < 0 || id > VS_PRODUCT_VERSION)
        return {};
    std::vector<BYTE> block = ReadVersionBlock(module);
    if (block.empty())
        return {};

    struct Translation {
        WORD language;
        WORD codePage;
    };
    Translation* translations = nullptr;
    UINT length = 0;
    if (!Version.VerQueryValue(block.data(), L"\\VarFileInfo\\Translation", reinterpret_cast<void**>(&translations),
                               &length) ||
        length < sizeof(Translation) || translations == nullptr)
        return {};

    // The strings in the language the program's dialogs are in: the resource
    // loader follows the thread's user-interface language too.
    const size_t count = length / sizeof(Translation);
    std::vector<uint16_t> languages(count);
    for (size_t i = 0; i < count; ++i)
        languages[i] = translations[i].language;
    const Translation* translation = &translations[ChooseVersionTranslation(languages.data(), count,
                                                                            GetThreadUILanguage())];

    std::wstring subBlock = L"\\StringFileInfo\\";
    AppendHex4(subBlock, translation->language);
    AppendHex4(subBlock, translation->codePage);
    subBlock += L"\\";
    subBlock += VERSION_STRING_NAMES[id];

    wchar_t* value = nullptr;
    if (!Version.VerQueryValue(block.data(), subBlock.c_str(), reinterpret_cast<void**>(&value), &length) ||
        value == nullptr)
        return {};
    return std::wstring(value, BoundedLength(value, length));
}

std::optional<VS_FIXEDFILEINFO> ReadFixedFileInfo(HMODULE module)
{
    std::vector<BYTE> block = ReadVersionBlock(module);
    if (block.empty())
        return std::nullopt;
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    if (!Version.VerQueryValue(block.data(), L"\\", reinterpret_cast<void**>(&fixed), &length) || fixed == nullptr ||
        length < sizeof(VS_FIXEDFILEINFO))
        return std::nullopt;
    return *fixed;
}

std::wstring FormatFileVersion(const VS_FIXEDFILEINFO& info)
{
    return FormatVersionNumbers(info.dwFileVersionMS, info.dwFileVersionLS);
}

void LaunchUpdater(HWND owner, HMODULE module, int origin)
{
    std::optional<VS_FIXEDFILEINFO> fixed = ReadFixedFileInfo(module);
    int64_t packed = fixed ? PackFileVersion(fixed->dwFileVersionMS, fixed->dwFileVersionLS) : 0;

    std::wstring path = ModuleFilePath(module);
    std::wstring updater = ReplaceFileName(path, UPDATER_FILE_NAME);
    std::wstring parameters = FormatUpdaterParameters(FileNameOfPath(path), packed, origin);

    // The user's own request may come from the elevated configuration
    // program: the updater fetches from the network and opens pages, so it
    // starts as the desktop's user, never with the administrator's token
    // (and a stray copy beside a BrimSet run from a download folder gets no
    // more than the user's rights). The shell may show its own report.
    if (origin != UPDATE_ORIGIN_SCHEDULE) {
        OpenAsUser(owner, updater.c_str(), parameters.c_str());
        return;
    }

    // The schedule runs unseen in every user's session, in the monitor,
    // which runs as the user: a missing updater is no news to anyone there,
    // and a box from the shell would stand unanswered in front of the
    // monitor.
    if (GetFileAttributesW(updater.c_str()) == INVALID_FILE_ATTRIBUTES)
        return;

    SHELLEXECUTEINFOW info = {};
    info.cbSize = sizeof(info);
    info.fMask = SEE_MASK_UNICODE | SEE_MASK_FLAG_NO_UI;
    info.hwnd = owner;
    info.lpVerb = nullptr;
    info.lpFile = updater.c_str();
    info.lpParameters = parameters.c_str();
    info.lpDirectory = nullptr;
    info.nShow = SW_SHOWNORMAL;
    if (owner != nullptr) {
        info.fMask |= SEE_MASK_HMONITOR;
        info.hMonitor = MonitorFromWindow(owner, MONITOR_DEFAULTTONEAREST);
    }
    ShellExecuteExW(&info);
}

void CheckForUpdatesIfDue(HWND window, HMODULE module, int64_t interval, UpdateSchedule& schedule)
{
    FILETIME now = {};
    GetSystemTimeAsFileTime(&now);
    int64_t nowTime = UpdateTimeFromFileTime((static_cast<uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime);

    if (!ScheduleNeedsRead(schedule, nowTime, interval))
        return;

    UniqueRegKey key;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, SETTINGS_KEY, 0, nullptr, REG_OPTION_VOLATILE,
                        KEY_READ | KEY_WRITE | SETTINGS_KEY_VIEW, nullptr, key.Put(), nullptr) != ERROR_SUCCESS)
        return;

    // One byte more than a valid value, so that a longer one reads as too long.
    uint8_t data[LAST_UPDATE_CHECK_SIZE + 1] = {};
    DWORD size = sizeof(data);
    DWORD type = REG_NONE;
    LSTATUS status = RegQueryValueExW(key.Get(), LAST_UPDATE_CHECK_VALUE, nullptr, &type, data, &size);
    schedule.present = DecodeLastUpdateCheck(status == ERROR_SUCCESS, type, data, size, &schedule.lastCheck);
    schedule.known = true;

    if (!IsUpdateDue(schedule.present, schedule.lastCheck, nowTime, interval))
        return;

    // The time goes first: should the launch take long and the window's
    // messages run meanwhile, a tick in between finds the check done.
    uint8_t bytes[LAST_UPDATE_CHECK_SIZE];
    EncodeLastUpdateCheck(nowTime, bytes);
    RegSetValueExW(key.Get(), LAST_UPDATE_CHECK_VALUE, 0, REG_BINARY, bytes, sizeof(bytes));
    // Kept as written even if the write failed: the updater is not started
    // again at every tick.
    schedule.present = true;
    schedule.lastCheck = nowTime;

    LaunchUpdater(window, module, UPDATE_ORIGIN_SCHEDULE);
}
