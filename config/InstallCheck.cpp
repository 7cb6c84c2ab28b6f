// BrimSetCheck.dll: custom actions of the Windows Installer package that
// need BrimSet's own knowledge before BrimSet itself is installed. Both run
// early in the install, before anything changes.
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
#include "OsWarningRecord.h"
#include "ProcessCommandLine.h"
#include "VerbChecks.h"

// This DLL's own image, for its string table.
extern "C" IMAGE_DOS_HEADER __ImageBase;

namespace {

using UniqueMsiHandle = UniqueHandle<NullHandleTraits<MSIHANDLE, MsiCloseHandle>>;

const wchar_t ARGUMENTS_PROPERTY[] = L"BRIMSETARGUMENTS";

std::wstring GetProperty(MSIHANDLE install, const wchar_t* name)
{
    wchar_t empty[1] = L"";
    DWORD length = 0;
    if (MsiGetPropertyW(install, name, empty, &length) != ERROR_MORE_DATA)
        return std::wstring();
    std::wstring value(length, L'\0');
    ++length;  // and the terminator, which the string's storage holds
    if (MsiGetPropertyW(install, name, &value[0], &length) != ERROR_SUCCESS)
        return std::wstring();
    value.resize(length);
    return value;
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

// The carrying over (BrimSetCheck.def names it); it never fails the install.
extern "C" UINT WINAPI KeepOsWarningOff(MSIHANDLE install)
{
    if (IsOsWarningOffByBrimSet())
        MsiSetPropertyW(install, L"OSWARNING", L"off");
    return ERROR_SUCCESS;
}
