// BrimSet's command-line verbs, for administrators' scripts and the
// installer: /set, /oswarning, /list and /check. No window opens. Lines go
// to the standard handles the caller gave (a redirect or a pipe gets
// UTF-8), else to the caller's console; the exit code says how it went
// (VerbLogic.h).
#include <windows.h>
#include <shellapi.h>

#include <cstring>

#include "BrimSet.h"
#include "DriveQueries.h"
#include "DriveSettings.h"
#include "Handles.h"
#include "ProcessCommandLine.h"
#include "SignalEvents.h"
#include "SystemText.h"
#include "TextFormat.h"
#include "VerbLogic.h"

namespace {

constexpr int LINE_CAPACITY = 512;

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
    wchar_t format[LINE_CAPACITY] = L"";
    LoadStringW(GetModuleHandleW(nullptr), stringId, format, LINE_CAPACITY);
    wchar_t line[LINE_CAPACITY];
    FormatText(line, LINE_CAPACITY, format, args);
    WriteLine(which, line);
}

// The error line of a failed write, with the system's text for the code;
// the code itself is the exit code.
int ReportWriteFailure(DWORD status)
{
    const std::wstring reason = SystemErrorText(status);
    PrintString(STD_ERROR_HANDLE, IDS_VERB_SAVE_FAILED, { status, reason.c_str() });
    return static_cast<int>(status);
}

// The fixed drives now, with the sizes the drive list shows: all bytes and
// all free bytes.
FixedDrives ReadFixedDrives()
{
    FixedDrives fixed;
    DriveRootList list = ReadDriveRoots();
    WalkDriveRoots(list.roots.get(), list.driveMask, [&fixed](int drive, const wchar_t* root) {
        ULARGE_INTEGER available, total, totalFree;
        if (GetDriveTypeW(root) != DRIVE_FIXED || !GetDiskFreeSpaceExW(root, &available, &total, &totalFree))
            return;
        fixed.Mask |= 1u << drive;
        fixed.Capacity[drive] = total.QuadPart;
        fixed.Free[drive] = totalFree.QuadPart;
    });
    return fixed;
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
    if (request.ErrorStringId != 0) {
        PrintString(STD_ERROR_HANDLE, request.ErrorStringId, { request.ErrorArgument });
        return VERB_MALFORMED;
    }
    LoadDriveSettings();
    if (request.Set) {
        DriveSettingsImage changed;
        std::memcpy(changed, DriveSettingsTable, sizeof(changed));
        const int notFixed = ApplyAssignments(changed, request.Drives, ReadFixedDrives());
        if (notFixed >= 0) {
            PrintString(STD_ERROR_HANDLE, IDS_VERB_NOT_FIXED, { DriveLetter(notFixed) });
            return VERB_NOT_FIXED;
        }
        std::memcpy(DriveSettingsTable, changed, sizeof(changed));
    }
    if (request.OsWarning && !IsOsLowSpaceSwitchAvailable()) {
        PrintString(STD_ERROR_HANDLE, IDS_VERB_OSWARNING_UNAVAILABLE, {});
        return ERROR_NOT_SUPPORTED;
    }
    if (request.Check)
        return VERB_DONE;

    bool keyFailed = false;
    DWORD status = ERROR_SUCCESS;
    if (request.Set)
        status = WriteDriveSettings(keyFailed);
    if (status == ERROR_SUCCESS && request.OsWarning)
        status = StoreOsLowSpaceSwitch(!request.OsWarningOn, keyFailed);
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
    if (CommandLineHasSwitch(HasCloseSwitch))
        return false;
    int argc = 0;
    LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    if (argv == nullptr)
        return false;
    UniqueLocalMemory owned(argv);
    const VerbRequest request = ParseVerbs(argc, argv);
    if (!request.Any())
        return false;
    exitCode = RunVerbs(request);
    return true;
}
