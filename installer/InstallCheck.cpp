// BrimSetCheck.dll: custom actions of the Windows Installer package that
// need BrimSet's own knowledge, or more than the installer's conditions can
// say, before BrimSet itself is installed. All run early in a first install
// or an upgrade, before anything changes, and never at a repair or another
// maintenance run of the installed product.
//
// CheckInstallDir judges the folder the programs would go to: INSTALLDIR's
// target path, resolved as the system resolves it, has to be the Program
// Files folder of the package's bitness (ProgramFilesOfPackage) or inside
// it. It sets InstallDirInsideProgramFiles to 1 when it is, and clears it
// otherwise, also whenever a path cannot be resolved; the package's error
// action RefuseInstallDir then stops the install with its message.
//
// CheckSettings checks the settings given at install: the command line the
// package put together for the installed BrimSet (BRIMSETARGUMENTS, from
// WATCH and OSWARNING), with BrimSet's own checks over this machine's
// drives. On a problem it sends BrimSet's sentence to the installer as an
// error - the installer's log gets it, and a user interface shows it - and
// the install fails with nothing changed.
//
// KeepOsWarningOff carries the operating system's warning over an upgrade:
// where BrimSet switched it off, and nobody changed it since, the new
// version's BrimSet switches it off again (OSWARNING=off, unless the
// administrator gave OSWARNING), so that its record of what to give back
// at the final removal is still there, also where the removal of the older
// version gave the value back (an installer that does not tell that removal
// it is part of an upgrade).
//
// Its imports stay within the system's own DLLs: kernel32, advapi32, user32
// and shell32 are known DLLs, which the loader always takes from the system
// directory; msi.dll is not, but the installer loads this DLL only into its
// own custom-action process (msiexec.exe from the system directory), where
// msi.dll from the system directory is already loaded, and a module of
// that name already in the process is what the loader binds to, before
// any search.
#include <windows.h>
#include <msi.h>
#include <msiquery.h>
#include <shellapi.h>

#include <string>

#include "Handles.h"
#include "InstallLogic.h"
#include "OsLowSpaceSwitchRecord.h"
#include "ProcessCommandLine.h"
#include "VerbChecks.h"

// This DLL's own image, for its string table.
extern "C" IMAGE_DOS_HEADER __ImageBase;

namespace {

using UniqueMsiHandle = UniqueHandle<NullHandleTraits<MSIHANDLE, MsiCloseHandle>>;

const wchar_t ARGUMENTS_PROPERTY[] = L"BRIMSETARGUMENTS";
const wchar_t INSIDE_PROPERTY[] = L"InstallDirInsideProgramFiles";

// MsiGetPropertyW and MsiGetTargetPathW: a name in, its text out.
typedef UINT(WINAPI* MsiTextGetter)(MSIHANDLE, LPCWSTR, LPWSTR, LPDWORD);

std::wstring GetMsiText(MSIHANDLE install, const wchar_t* name, MsiTextGetter get)
{
    wchar_t empty[1] = L"";
    DWORD length = 0;
    if (get(install, name, empty, &length) != ERROR_MORE_DATA)
        return std::wstring();
    std::wstring value(length, L'\0');
    ++length;  // and the terminator, which the string's storage holds
    if (get(install, name, &value[0], &length) != ERROR_SUCCESS)
        return std::wstring();
    value.resize(length);
    return value;
}

std::wstring GetProperty(MSIHANDLE install, const wchar_t* name)
{
    return GetMsiText(install, name, MsiGetPropertyW);
}

// One of the path calls that take a path and fill a buffer, returning the
// length written, or the size needed with its terminator when the buffer is
// too small, or 0 with the error in GetLastError.
typedef DWORD (*PathCall)(const wchar_t* path, wchar_t* buffer, DWORD size);

DWORD CallFullPathName(const wchar_t* path, wchar_t* buffer, DWORD size)
{
    return GetFullPathNameW(path, size, buffer, nullptr);
}

DWORD CallLongPathName(const wchar_t* path, wchar_t* buffer, DWORD size)
{
    return GetLongPathNameW(path, buffer, size);
}

// ERROR_SUCCESS with the call's result in `result`, or the call's error.
DWORD ResolvePath(PathCall call, const std::wstring& path, std::wstring& result)
{
    SetLastError(ERROR_SUCCESS);
    const DWORD size = call(path.c_str(), nullptr, 0);
    if (size == 0)
        return GetLastError() != ERROR_SUCCESS ? GetLastError() : ERROR_INVALID_NAME;
    std::wstring buffer(size, L'\0');
    const DWORD length = call(path.c_str(), &buffer[0], size);
    if (length == 0)
        return GetLastError() != ERROR_SUCCESS ? GetLastError() : ERROR_INVALID_NAME;
    if (length >= size)
        return ERROR_INSUFFICIENT_BUFFER;  // changed between the two calls
    buffer.resize(length);
    result = buffer;
    return ERROR_SUCCESS;
}

// The path the system means by `path`: fully qualified, its "." and ".."
// resolved, and each component that exists in its long form (a short name
// such as PROGRA~1 would not compare with its long one); the components that
// do not exist yet follow as they are written. False when that cannot be
// told: a path that is not fully qualified (what would it be relative to?)
// or one a path call refuses.
bool CanonicalPath(const std::wstring& path, std::wstring& canonical)
{
    // GetFullPathNameW leaves a path with the "\\?\" prefix as it is.
    const std::wstring plain = PlainPathText(path);
    std::wstring full;
    if (PathRootLength(plain) == 0 || ResolvePath(CallFullPathName, plain, full) != ERROR_SUCCESS)
        return false;
    // GetLongPathNameW needs a path that exists: the longest one that does,
    // and the rest after it.
    std::wstring existing = full;
    std::wstring rest;
    for (;;) {
        std::wstring found;
        const DWORD error = ResolvePath(CallLongPathName, existing, found);
        if (error == ERROR_SUCCESS) {
            canonical = found + rest;
            return true;
        }
        const std::wstring parent = ParentPath(existing);
        if ((error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND) || parent.empty())
            return false;
        rest = existing.substr(parent.size()) + rest;
        existing = parent;
    }
}

// The installer reads a message as formatted text, where brackets and
// braces have meanings of their own (a bracketed name is a property); each
// is written as its escape, [\x], so that the sentence shows as it is,
// whatever the administrator wrote.
std::wstring AsFormattedText(const wchar_t* text)
{
    std::wstring escaped;
    for (; *text != L'\0'; ++text) {
        if (*text == L'[' || *text == L']' || *text == L'{' || *text == L'}') {
            escaped += L"[\\";
            escaped += *text;
            escaped += L']';
        } else {
            escaped += *text;
        }
    }
    return escaped;
}

void ReportError(MSIHANDLE install, const wchar_t* text)
{
    UniqueMsiHandle record(MsiCreateRecord(0));
    if (!record)
        return;
    MsiRecordSetStringW(record.Get(), 0, AsFormattedText(text).c_str());
    MsiProcessMessage(install, INSTALLMESSAGE(INSTALLMESSAGE_ERROR | MB_OK | MB_ICONERROR), record.Get());
}

}  // namespace

// The custom action's entry (BrimSetCheck.def names it): ERROR_SUCCESS
// lets the install go on, ERROR_INSTALL_FAILURE ends it.
extern "C" UINT WINAPI CheckSettings(MSIHANDLE install)
{
    // Each property holds only what it is for: WATCH drive assignments,
    // OSWARNING on or off. Anything else there (a verb, the close switch, a
    // quote) would change the installed BrimSet's command line.
    VerbProblem problem;
    std::wstring fault;
    const std::wstring watch = GetProperty(install, L"WATCH");
    const std::wstring osWarning = GetProperty(install, L"OSWARNING");
    if (!watch.empty() && !IsDriveAssignmentList(watch.c_str(), fault)) {
        problem.ExitCode = VERB_MALFORMED;
        problem.StringId = IDS_VERB_BAD_ASSIGNMENT;
        problem.Argument = fault.c_str();
    } else if (!osWarning.empty() && !IsOsWarningValue(osWarning.c_str())) {
        problem.ExitCode = VERB_MALFORMED;
        problem.StringId = IDS_VERB_BAD_OSWARNING;
        problem.Argument = osWarning.c_str();
    } else {
        // Split as the installed BrimSet's command line will be: the
        // shell's rules, after a program name.
        const std::wstring commandLine = L"BrimSet.exe " + GetProperty(install, ARGUMENTS_PROPERTY);
        int argc = 0;
        LPWSTR* argv = CommandLineToArgvW(commandLine.c_str(), &argc);
        if (argv == nullptr)
            return ERROR_INSTALL_FAILURE;
        UniqueLocalMemory owned(argv);
        FixedDrives fixed;
        problem = CheckVerbsHere(ParseVerbs(argc, argv, UpperChar), fixed);
    }
    if (problem.ExitCode == VERB_DONE)
        return ERROR_SUCCESS;
    wchar_t sentence[VERB_LINE_CAPACITY];
    const HMODULE module = reinterpret_cast<HMODULE>(&__ImageBase);
    LoadFormattedString(module, static_cast<UINT>(problem.StringId), { problem.Argument }, sentence,
                        VERB_LINE_CAPACITY);
    ReportError(install, sentence);
    return ERROR_INSTALL_FAILURE;
}

// The folder's judgement (BrimSetCheck.def names it). It fails the install
// only when it cannot record its answer.
extern "C" UINT WINAPI CheckInstallDir(MSIHANDLE install)
{
    std::wstring folder;
    std::wstring target;
    const bool inside = CanonicalPath(GetProperty(install, L"ProgramFilesOfPackage"), folder) &&
                        CanonicalPath(GetMsiText(install, L"INSTALLDIR", MsiGetTargetPathW), target) &&
                        IsInsideFolder(target, folder, UpperChar);
    // An empty value removes the property, whatever the command line set.
    return MsiSetPropertyW(install, INSIDE_PROPERTY, inside ? L"1" : L"") == ERROR_SUCCESS ? ERROR_SUCCESS
                                                                                          : ERROR_INSTALL_FAILURE;
}

// The carrying over (BrimSetCheck.def names it); it never fails the install.
extern "C" UINT WINAPI KeepOsWarningOff(MSIHANDLE install)
{
    if (IsOsLowSpaceSwitchOffByBrimSet())
        MsiSetPropertyW(install, L"OSWARNING", L"off");
    return ERROR_SUCCESS;
}
