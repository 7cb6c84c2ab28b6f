// Facts about the system and one program file: drives, free space, the
// version block.
#include "Driver.h"
#include "TextFormat.h"

namespace {

const wchar_t* DriveTypeName(UINT type)
{
    switch (type) {
    case DRIVE_UNKNOWN: return L"unknown";
    case DRIVE_NO_ROOT_DIR: return L"noroot";
    case DRIVE_REMOVABLE: return L"removable";
    case DRIVE_FIXED: return L"fixed";
    case DRIVE_REMOTE: return L"remote";
    case DRIVE_CDROM: return L"cdrom";
    case DRIVE_RAMDISK: return L"ramdisk";
    default: return L"other";
    }
}

// "0409", "04b0": the form the version block's string paths use.
std::wstring FourHexDigits(WORD value)
{
    std::wstring digits = Hex(value).substr(2);
    return std::wstring(4 - digits.size(), L'0') + digits;
}

// "D", "d:", "D:\" all name the root D:\ ; anything longer is taken as is.
std::wstring RootOf(const std::wstring& text)
{
    if (text.size() == 1 || (text.size() == 2 && text[1] == L':'))
        return std::wstring(1, text[0]) + L":\\";
    return text;
}

// freespace <root>: one line
// "type=<n> typename=<name> available=<caller's free bytes> total=<bytes> free=<all free bytes>".
int RunFreeSpace(const std::vector<std::wstring>& args)
{
    if (args.size() != 1)
        return UsageError(L"one drive root expected");
    std::wstring root = RootOf(args[0]);
    UINT type = GetDriveTypeW(root.c_str());
    ULARGE_INTEGER available = {}, total = {}, free = {};
    if (!GetDiskFreeSpaceExW(root.c_str(), &available, &total, &free)) {
        OutLine(L"type=" + UDecimal(type) + L" typename=" + DriveTypeName(type));
        return Fail(L"GetDiskFreeSpaceExW(" + root + L") failed: " + LastErrorText());
    }
    OutLine(L"type=" + UDecimal(type) + L" typename=" + DriveTypeName(type) + L" available=" +
            UDecimal(available.QuadPart) + L" total=" + UDecimal(total.QuadPart) + L" free=" + UDecimal(free.QuadPart));
    return 0;
}

// drives: the drive mask in hex, then one line per root of
// GetLogicalDriveStringsW: "<root>\t<type>\t<type name>".
int RunDrives(const std::vector<std::wstring>& args)
{
    if (!args.empty())
        return UsageError(L"no arguments expected");
    DWORD mask = GetLogicalDrives();
    OutLine(L"mask\t" + Hex(mask));
    DWORD length = GetLogicalDriveStringsW(0, nullptr);
    if (length == 0)
        return Fail(L"GetLogicalDriveStringsW failed: " + LastErrorText());
    std::vector<wchar_t> roots(length + 1, L'\0');
    if (GetLogicalDriveStringsW(length, roots.data()) == 0)
        return Fail(L"GetLogicalDriveStringsW failed: " + LastErrorText());
    for (const wchar_t* p = roots.data(); *p != L'\0'; p += lstrlenW(p) + 1) {
        UINT type = GetDriveTypeW(p);
        OutLine(std::wstring(p) + L"\t" + UDecimal(type) + L"\t" + DriveTypeName(type));
    }
    return 0;
}

// version <exe path>: "FileVersionFixed\t<a.b.c.d>", "ProductVersionFixed\t...",
// "Translation\t<lang hex>-<codepage hex>", then "<name>\t<value>" for each
// standard string of the first translation that is present.
int RunVersion(const std::vector<std::wstring>& args)
{
    if (args.size() != 1)
        return UsageError(L"one file path expected");
    DWORD ignored = 0;
    DWORD size = GetFileVersionInfoSizeW(args[0].c_str(), &ignored);
    if (size == 0)
        return Fail(L"no version block in " + args[0] + L": " + LastErrorText());
    std::vector<BYTE> block(size);
    if (!GetFileVersionInfoW(args[0].c_str(), 0, size, block.data()))
        return Fail(L"GetFileVersionInfoW failed: " + LastErrorText());

    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT fixedLength = 0;
    if (VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&fixed), &fixedLength) && fixed != nullptr &&
        fixedLength >= sizeof(VS_FIXEDFILEINFO)) {
        OutLine(L"FileVersionFixed\t" + UDecimal(HIWORD(fixed->dwFileVersionMS)) + L"." +
                UDecimal(LOWORD(fixed->dwFileVersionMS)) + L"." + UDecimal(HIWORD(fixed->dwFileVersionLS)) + L"." +
                UDecimal(LOWORD(fixed->dwFileVersionLS)));
        OutLine(L"ProductVersionFixed\t" + UDecimal(HIWORD(fixed->dwProductVersionMS)) + L"." +
                UDecimal(LOWORD(fixed->dwProductVersionMS)) + L"." + UDecimal(HIWORD(fixed->dwProductVersionLS)) +
                L"." + UDecimal(LOWORD(fixed->dwProductVersionLS)));
        OutLine(L"FileFlags\t" + Hex(fixed->dwFileFlags & fixed->dwFileFlagsMask));
        OutLine(L"FileOS\t" + Hex(fixed->dwFileOS));
        OutLine(L"FileType\t" + Hex(fixed->dwFileType));
    }

    struct Translation {
        WORD language;
        WORD codePage;
    };
    Translation* translations = nullptr;
    UINT translationsLength = 0;
    if (!VerQueryValueW(block.data(), L"\\VarFileInfo\\Translation", reinterpret_cast<void**>(&translations),
                        &translationsLength) ||
        translations == nullptr || translationsLength < sizeof(Translation))
        return 0;
    std::wstring language = FourHexDigits(translations[0].language);
    std::wstring codePage = FourHexDigits(translations[0].codePage);
    OutLine(std::wstring(L"Translation\t") + language + L"-" + codePage);

    static const wchar_t* const names[] = {
        L"CompanyName",    L"FileDescription", L"FileVersion",      L"InternalName",
        L"LegalCopyright", L"LegalTrademarks", L"OriginalFilename", L"ProductName",
        L"ProductVersion", L"Comments",        L"PrivateBuild",     L"SpecialBuild"
    };
    for (const wchar_t* name : names) {
        std::wstring path = std::wstring(L"\\StringFileInfo\\") + language + codePage + L"\\" + name;
        wchar_t* value = nullptr;
        UINT valueLength = 0;
        if (VerQueryValueW(block.data(), path.c_str(), reinterpret_cast<void**>(&value), &valueLength) &&
            value != nullptr)
            OutLine(std::wstring(name) + L"\t" + Escape(std::wstring(value, BoundedLength(value, valueLength))));
    }
    return 0;
}

const CommandRegistrar freeSpaceCommand{ L"freespace", L"<root>", RunFreeSpace };
const CommandRegistrar drivesCommand{ L"drives", L"", RunDrives };
const CommandRegistrar versionCommand{ L"version", L"<exe path>", RunVersion };

}  // namespace
