// BrimRecorder.exe, the recording stand-in. A copy under another file name
// (VelloranUpdater.exe, cleanmgr.exe, explorer.exe ...) does not run a
// command: it appends its arguments to a log and exits 0, so that a test can
// see exactly how a program started it. It is a GUI program, as the tools it
// stands in for are: a console program started from the monitor would get a
// console window of its own, which takes the activation (and closes an open
// tray menu) as no real tool does.
//
// The log is the file named by the first line of the sidecar file
// "<own path>.brimrec", or else "<own path>.log". Each start appends one
// UTF-8 line to it: the arguments after the program name as the C runtime
// splits them (CommandLineToArgvW), joined by single spaces.
#include "Driver.h"

#include <shellapi.h>

namespace {

std::wstring OwnPath()
{
    std::vector<wchar_t> buffer(32768, L'\0');
    DWORD length = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    return std::wstring(buffer.data(), length);
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

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR, int)
{
    std::wstring self = OwnPath();
    std::wstring logPath;
    if (std::optional<std::string> sidecar = ReadSmallFile(self + L".brimrec")) {
        std::wstring text = Utf8ToWide(*sidecar);
        logPath = text.substr(0, text.find(L'\n'));
        while (!logPath.empty() && (logPath.back() == L'\r' || logPath.back() == L' '))
            logPath.pop_back();
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

    return AppendLine(logPath, joined) ? 0 : 3;
}
