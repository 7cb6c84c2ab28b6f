// The recording stand-in. A copy of BrimDriver.exe under another file name
// (VelloranUpdater.exe, cleanmgr.exe, explorer.exe ...) does not run a
// command: it appends its arguments to a log and exits 0, so that a test can
// see exactly how a program started it.
//
// Where the log goes, first match wins:
//   1. the sidecar file "<own path>.brimrec": its first line is the log's
//      path; an optional line "hold_ms=<n>" keeps the stand-in alive that
//      long before it exits (to see that nobody waits for it);
//   2. the environment variable BRIM_RECORD_LOG;
//   3. "<own path>.log".
// Each start appends one line to the log: the arguments after the program
// name as the C runtime splits them (CommandLineToArgvW), joined by single
// spaces. The raw command line after the program token goes, one line per
// start, to "<log>.cmdline". Both files are UTF-8.
#include "Driver.h"

#include <shellapi.h>

#include "CommandLine.h"

namespace {

std::wstring OwnPath()
{
    std::vector<wchar_t> buffer(32768, L'\0');
    DWORD length = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    return std::wstring(buffer.data(), length);
}

std::wstring FileNameOf(const std::wstring& path)
{
    size_t slash = path.find_last_of(L"\\/");
    return slash == std::wstring::npos ? path : path.substr(slash + 1);
}

// Reads a small UTF-8 text file; empty when missing.
std::optional<std::string> ReadSmallFile(const std::wstring& path)
{
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return std::nullopt;
    std::string text;
    char chunk[4096];
    DWORD read = 0;
    while (text.size() < 65536 && ReadFile(file, chunk, sizeof(chunk), &read, nullptr) && read != 0)
        text.append(chunk, read);
    CloseHandle(file);
    return text;
}

// Appends one line; retries for a while when another stand-in holds the file.
bool AppendLine(const std::wstring& path, const std::wstring& line)
{
    std::string bytes = WideToUtf8(line) + "\n";
    for (int attempt = 0; attempt < 200; ++attempt) {
        HANDLE file =
            CreateFileW(path.c_str(), FILE_APPEND_DATA, 0, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE) {
            if (GetLastError() != ERROR_SHARING_VIOLATION)
                return false;
            Sleep(10);
            continue;
        }
        DWORD written = 0;
        BOOL ok = WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
        CloseHandle(file);
        return ok && written == bytes.size();
    }
    return false;
}

}  // namespace

bool IsRecorderImage()
{
    return lstrcmpiW(FileNameOf(OwnPath()).c_str(), L"BrimDriver.exe") != 0;
}

int RunRecorder()
{
    std::wstring self = OwnPath();
    std::wstring logPath;
    DWORD holdMilliseconds = 0;

    if (std::optional<std::string> sidecar = ReadSmallFile(self + L".brimrec")) {
        std::wstring text = Utf8ToWide(*sidecar);
        size_t start = 0;
        bool first = true;
        while (start <= text.size()) {
            size_t end = text.find(L'\n', start);
            std::wstring line = text.substr(start, end == std::wstring::npos ? std::wstring::npos : end - start);
            while (!line.empty() && (line.back() == L'\r' || line.back() == L' '))
                line.pop_back();
            if (first)
                logPath = line;
            else if (line.compare(0, 8, L"hold_ms=") == 0)
                holdMilliseconds = static_cast<DWORD>(ParseUnsigned(line.substr(8)).value_or(0));
            first = false;
            if (end == std::wstring::npos)
                break;
            start = end + 1;
        }
    }
    if (logPath.empty()) {
        wchar_t fromEnvironment[32768] = {};
        if (GetEnvironmentVariableW(L"BRIM_RECORD_LOG", fromEnvironment, 32768) != 0)
            logPath = fromEnvironment;
    }
    if (logPath.empty())
        logPath = self + L".log";

    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    std::wstring joined;
    for (int i = 1; argv != nullptr && i < argc; ++i) {
        if (i > 1)
            joined += L' ';
        joined += argv[i];
    }
    if (argv != nullptr)
        LocalFree(argv);

    // The main log last: a test that sees its line finds the raw one too.
    bool recorded =
        AppendLine(logPath + L".cmdline", SkipProgramToken(GetCommandLineW())) && AppendLine(logPath, joined);
    if (holdMilliseconds != 0)
        Sleep(holdMilliseconds);
    if (!recorded) {
        ErrLine(L"recorder: cannot append to " + logPath);
        return 3;
    }
    return 0;
}
