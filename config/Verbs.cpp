// BrimSet's command-line verbs, for administrators' scripts and the
// installer: /set, /oswarning, /restoreoswarning, /list, /check and /?. No
// window opens for any command line but none at all or the close switch
// alone: a malformed one is an error line and exit code 87. Lines go to the standard handles the caller gave (a
// redirect or a pipe gets UTF-8), else to the caller's console; the exit
// code says how it went (VerbLogic.h).
#include <windows.h>
#include <shellapi.h>

#include <string>

#include "BrimSet.h"
#include "DriveSettings.h"
#include "Handles.h"
#include "ProcessCommandLine.h"
#include "SignalEvents.h"
#include "SystemText.h"
#include "VerbChecks.h"

namespace {

constexpr int LINE_CAPACITY = VERB_LINE_CAPACITY;

// The parent's console, opened once when the caller gave no standard
// handles (a GUI program started from a console window gets none).
UniqueKernelHandle ParentConsole;
bool ParentConsoleTried = false;

HANDLE OutputHandle(DWORD which)
{
    HANDLE handle = GetStdHandle(which);
    if (handle != nullptr && handle != INVALID_HANDLE_VALUE)
        return handle;
    if (!ParentConsoleTried) {
        ParentConsoleTried = true;
        if (AttachConsole(ATTACH_PARENT_PROCESS)) {
            HANDLE console = CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                         nullptr, OPEN_EXISTING, 0, nullptr);
            if (console != INVALID_HANDLE_VALUE)
                ParentConsole.Reset(console);
        }
    }
    return ParentConsole.Get();
}

// A console takes the text as it is; a file or a pipe gets it in UTF-8.
void WriteLine(DWORD which, const wchar_t* text)
{
    HANDLE out = OutputHandle(which);
    if (out == nullptr)
        return;
    wchar_t line[LINE_CAPACITY + 2];
    const size_t length = FormatText(line, LINE_CAPACITY + 2, L"%s\r\n", { text });
    DWORD written = 0;
    DWORD mode = 0;
    if (GetConsoleMode(out, &mode)) {
        WriteConsoleW(out, line, static_cast<DWORD>(length), &written, nullptr);
        return;
    }
    char utf8[3 * (LINE_CAPACITY + 2)];
    int bytes = WideCharToMultiByte(CP_UTF8, 0, line, static_cast<int>(length), utf8, sizeof(utf8), nullptr, nullptr);
    if (bytes > 0)
        WriteFile(out, utf8, static_cast<DWORD>(bytes), &written, nullptr);
}

void PrintString(DWORD which, UINT stringId, std::initializer_list<FormatArg> args)
{
    wchar_t line[LINE_CAPACITY];
    LoadFormattedString(ModuleInstance, stringId, args, line, LINE_CAPACITY);
    WriteLine(which, line);
}

// The usage text, one line at a time, to standard output.
void PrintUsage()
{
    const wchar_t* text = nullptr;
    const int length = LoadStringW(ModuleInstance, IDS_VERB_USAGE, reinterpret_cast<LPWSTR>(&text), 0);
    std::wstring line;
    for (int i = 0; i <= length && text != nullptr; ++i) {
        if (i < length && text[i] != L'\n') {
            line += text[i];
            continue;
        }
        WriteLine(STD_OUTPUT_HANDLE, line.c_str());
        line.clear();
    }
}

// The error line of a failed write, with the system's text for the code;
// the code itself is the exit code.
int ReportWriteFailure(DWORD status)
{
    const std::wstring reason = SystemErrorText(status);
    PrintString(STD_ERROR_HANDLE, IDS_VERB_SAVE_FAILED, { status, reason.c_str() });
    return static_cast<int>(status);
}

void PrintDriveList()
{
    PrintString(STD_OUTPUT_HANDLE, IDS_LIST_HEADER, {});
    const FixedDrives fixed = ReadFixedDrives();
    for (int drive = 0; drive < DRIVE_COUNT; ++drive) {
        if ((fixed.Mask & (1u << drive)) == 0)
            continue;
        wchar_t line[LIST_LINE_CAPACITY];
        FormatListLine(line, LIST_LINE_CAPACITY, drive, DriveSettingsTable[drive], fixed);
        WriteLine(STD_OUTPUT_HANDLE, line);
    }
}

// Everything is checked before anything is written; then the drive
// settings are saved once, the policy value written, and the monitors
// told once, as Apply does.
int RunVerbs(const VerbRequest& request)
{
    FixedDrives fixed;
    const VerbProblem problem = CheckVerbsHere(request, fixed);
    if (problem.ExitCode != VERB_DONE) {
        PrintString(STD_ERROR_HANDLE, problem.StringId, { problem.Argument });
        return problem.ExitCode;
    }
    if (request.Help) {
        PrintUsage();
        return VERB_DONE;
    }
    if (request.Check)
        return VERB_DONE;

    LoadDriveSettings();
    if (request.Set)
        ApplyAssignments(DriveSettingsTable, request.Drives, fixed);
    bool keyFailed = false;
    DWORD status = ERROR_SUCCESS;
    if (request.Set)
        status = WriteDriveSettings(keyFailed);
    if (status == ERROR_SUCCESS && request.OsWarning)
        status = StoreOsLowSpaceSwitch(!request.OsWarningOn, keyFailed);
    if (status == ERROR_SUCCESS && request.RestoreOsWarning)
        status = RestoreOsLowSpaceSwitch();
    if (request.Set || request.OsWarning) {
        CreateSignalEvents();
        NotifySettingsChanged();
    }
    if (status != ERROR_SUCCESS)
        return ReportWriteFailure(status);
    if (request.List)
        PrintDriveList();
    return VERB_DONE;
}

}  // namespace

bool RunCommandLineVerbs(int& exitCode)
{
    int argc = 0;
    LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    if (argv == nullptr)
        return false;
    UniqueLocalMemory owned(argv);
    if (argc < 2 || OnlyCloseSwitches(argc, argv, UpperChar))
        return false;
    exitCode = RunVerbs(ParseVerbs(argc, argv, UpperChar));
    return true;
}
