// BrimDriver: a console test tool that pokes at Win32 programs from outside,
// the way a user or an administrator would, and prints what it sees.
//
// Each commands_*.cpp file registers its commands with a file-level
//     static const CommandRegistrar registrar{L"name", L"usage", RunName};
// A command receives the arguments after its own name, prints its result on
// stdout (UTF-8, one item per line, fields separated by tabs) and returns
// the exit code: 0 for success, non-zero (with a message on stderr) for
// failure.
#pragma once

#include <windows.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

typedef int (*CommandFunction)(const std::vector<std::wstring>& args);

struct DriverCommand {
    const wchar_t* name;
    const wchar_t* usage;
    CommandFunction run;
};

class CommandRegistrar {
public:
    CommandRegistrar(const wchar_t* name, const wchar_t* usage, CommandFunction run);
};

// The registered commands, in registration order.
const std::vector<DriverCommand>& RegisteredCommands();

// Output. Text goes out as UTF-8 with "\n" line ends, unbuffered.
void Out(const std::wstring& text);  // stdout, no newline added
void OutLine(const std::wstring& line);
void ErrLine(const std::wstring& line);  // stderr

// Prints "<command>: <message>" on stderr and returns 2 (usage) or 1.
int Fail(const std::wstring& message);
int UsageError(const std::wstring& message);

// Registers a window class of the driver's and creates one top-level window
// of it (hidden until shown). On failure prints why and returns null.
HWND CreateDriverWindow(const wchar_t* className, WNDPROC procedure, DWORD exStyle, const wchar_t* title, DWORD style,
                        int x, int y, int width, int height, HBRUSH background = nullptr);

// Runs the thread's message loop until WM_QUIT: its exit code, or 1 after a
// failed GetMessageW.
int RunDriverMessageLoop();

// The text of a Windows error code, without the trailing line break.
std::wstring ErrorText(DWORD error);
std::wstring LastErrorText();  // "error <n>: <text>" for GetLastError()

// Escapes backslash, tab, CR and LF as \\ \t \r \n so that a text fits in
// one tab-separated field.
std::wstring Escape(const std::wstring& text);

std::wstring Utf8ToWide(const std::string& text);
std::string WideToUtf8(const std::wstring& text);

// Numbers: decimal, or hexadecimal with 0x; a leading '-' is allowed for
// the signed parser. Empty results mean the text is not a number.
std::optional<int64_t> ParseSigned(const std::wstring& text);
std::optional<uint64_t> ParseUnsigned(const std::wstring& text);
std::optional<HWND> ParseWindow(const std::wstring& text);

std::wstring Hex(uint64_t value);  // "0x1a2b"
std::wstring Decimal(int64_t value);
std::wstring UDecimal(uint64_t value);
std::wstring WindowText(HWND window);  // "0x..." for a handle

// A control of `parent` by id, where the id "self" (or "-") means the
// window itself. Prints a message and returns null when there is none.
HWND ControlOf(HWND parent, const std::wstring& id);

// Window facts that work across processes.
std::wstring ClassNameOf(HWND window);
std::wstring TextOf(HWND window);  // WM_GETTEXT, bounded by a 5 s time-out
