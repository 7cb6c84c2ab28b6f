// Start-up, the command table and the helpers every command shares.
#include "Driver.h"

#include <cwchar>

namespace {

std::vector<DriverCommand>& CommandTable()
{
    // A function-local table: registrars in other files run during static
    // initialisation, in an order the language leaves open.
    static std::vector<DriverCommand> table;
    return table;
}

std::wstring CurrentCommand;

// While `serve` runs a command, what it prints is kept here and goes back
// to the caller in one reply line.
std::wstring* CapturedOut = nullptr;
std::wstring* CapturedErr = nullptr;

void WriteBytes(HANDLE handle, const std::string& bytes)
{
    if (handle == nullptr || handle == INVALID_HANDLE_VALUE)
        return;
    size_t offset = 0;
    while (offset < bytes.size()) {
        DWORD written = 0;
        DWORD chunk = static_cast<DWORD>(bytes.size() - offset > 65536 ? 65536 : bytes.size() - offset);
        if (!WriteFile(handle, bytes.data() + offset, chunk, &written, nullptr) || written == 0)
            return;
        offset += written;
    }
}

void WriteHandle(DWORD which, const std::wstring& text)
{
    std::wstring* captured = which == STD_OUTPUT_HANDLE ? CapturedOut : CapturedErr;
    if (captured != nullptr) {
        *captured += text;
        return;
    }
    WriteBytes(GetStdHandle(which), WideToUtf8(text));
}

int PrintUsage()
{
    OutLine(L"usage: BrimDriver <command> [arguments]");
    OutLine(L"       BrimDriver serve   (commands from standard input, see RunServe)");
    for (const DriverCommand& command : RegisteredCommands())
        OutLine(std::wstring(L"  ") + command.name + L" " + command.usage);
    return 0;
}

int RunNamedCommand(const std::wstring& name, const std::vector<std::wstring>& args)
{
    CurrentCommand = name;
    for (const DriverCommand& command : RegisteredCommands()) {
        if (CurrentCommand == command.name)
            return command.run(args);
    }
    ErrLine(L"unknown command: " + CurrentCommand + L" (BrimDriver help lists the commands)");
    return 2;
}

std::wstring Unescape(const std::wstring& text)
{
    std::wstring out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != L'\\' || i + 1 == text.size()) {
            out += text[i];
            continue;
        }
        switch (text[++i]) {
        case L't': out += L'\t'; break;
        case L'r': out += L'\r'; break;
        case L'n': out += L'\n'; break;
        default: out += text[i]; break;
        }
    }
    return out;
}

// Reads one line (without its "\n") from the handle; false at the end of
// the input. Byte by byte: the caller writes one request and waits for its
// reply, so there is never more to read ahead.
bool ReadRequestLine(HANDLE input, std::string& line)
{
    line.clear();
    for (;;) {
        char c;
        DWORD read = 0;
        if (!ReadFile(input, &c, 1, &read, nullptr) || read == 0)
            return !line.empty();
        if (c == '\n')
            return true;
        if (c != '\r')
            line += c;
    }
}

// `serve`: runs commands read from standard input, one per line, for as
// long as the input lasts, so that a test pays for one Wine process start
// instead of one per command. A request is the command and its arguments,
// each escaped as Escape() does and separated by tabs; the reply is one
// line: the exit code, the escaped output and the escaped error text,
// separated by tabs. Commands that run a window of their own until it
// closes (hold, trayicon, tray-standin, demo) belong in a process of their
// own, not here.
int RunServe()
{
    HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
    std::string line;
    while (ReadRequestLine(input, line)) {
        std::vector<std::wstring> fields;
        std::wstring request = Utf8ToWide(line);
        size_t start = 0;
        for (;;) {
            size_t tab = request.find(L'\t', start);
            fields.push_back(Unescape(request.substr(start, tab == std::wstring::npos ? tab : tab - start)));
            if (tab == std::wstring::npos)
                break;
            start = tab + 1;
        }
        std::wstring out, err;
        CapturedOut = &out;
        CapturedErr = &err;
        int code = fields[0].empty()
                       ? UsageError(L"empty request")
                       : RunNamedCommand(fields[0], std::vector<std::wstring>(fields.begin() + 1, fields.end()));
        CapturedOut = nullptr;
        CapturedErr = nullptr;
        WriteBytes(output, WideToUtf8(Decimal(code) + L"\t" + Escape(out) + L"\t" + Escape(err) + L"\n"));
    }
    return 0;
}

}  // namespace

CommandRegistrar::CommandRegistrar(const wchar_t* name, const wchar_t* usage, CommandFunction run)
{
    CommandTable().push_back(DriverCommand{ name, usage, run });
}

const std::vector<DriverCommand>& RegisteredCommands()
{
    return CommandTable();
}

void Out(const std::wstring& text)
{
    WriteHandle(STD_OUTPUT_HANDLE, text);
}
void OutLine(const std::wstring& line)
{
    WriteHandle(STD_OUTPUT_HANDLE, line + L"\n");
}
void ErrLine(const std::wstring& line)
{
    WriteHandle(STD_ERROR_HANDLE, line + L"\n");
}

int Fail(const std::wstring& message)
{
    ErrLine(CurrentCommand + L": " + message);
    return 1;
}

HWND CreateDriverWindow(const wchar_t* className, WNDPROC procedure, DWORD exStyle, const wchar_t* title, DWORD style,
                        int x, int y, int width, int height, HBRUSH background)
{
    WNDCLASSEXW windowClass = {};
    windowClass.cbSize = sizeof(windowClass);
    windowClass.lpfnWndProc = procedure;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    windowClass.hbrBackground = background;
    windowClass.lpszClassName = className;
    if (!RegisterClassExW(&windowClass)) {
        Fail(L"RegisterClassExW failed: " + LastErrorText());
        return nullptr;
    }
    HWND window = CreateWindowExW(exStyle, className, title, style, x, y, width, height, nullptr, nullptr,
                                  windowClass.hInstance, nullptr);
    if (window == nullptr)
        Fail(L"CreateWindowExW failed: " + LastErrorText());
    return window;
}

int RunDriverMessageLoop()
{
    MSG message;
    BOOL got;
    while ((got = GetMessageW(&message, nullptr, 0, 0)) != 0) {
        if (got == -1)
            return Fail(L"GetMessageW failed: " + LastErrorText());
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    return static_cast<int>(message.wParam);
}

int UsageError(const std::wstring& message)
{
    for (const DriverCommand& command : RegisteredCommands()) {
        if (CurrentCommand == command.name) {
            ErrLine(CurrentCommand + L": " + message + L"\nusage: BrimDriver " + command.name + L" " + command.usage);
            return 2;
        }
    }
    ErrLine(message);
    return 2;
}

std::wstring ErrorText(DWORD error)
{
    wchar_t* buffer = nullptr;
    DWORD length =
        FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                       nullptr, error, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    std::wstring text = length != 0 && buffer != nullptr ? std::wstring(buffer, length) : std::wstring();
    if (buffer != nullptr)
        LocalFree(buffer);
    while (!text.empty() && (text.back() == L'\n' || text.back() == L'\r' || text.back() == L' '))
        text.pop_back();
    return text;
}

std::wstring LastErrorText()
{
    DWORD error = GetLastError();
    return L"error " + UDecimal(error) + L": " + ErrorText(error);
}

std::wstring Escape(const std::wstring& text)
{
    std::wstring out;
    out.reserve(text.size());
    for (wchar_t c : text) {
        switch (c) {
        case L'\\': out += L"\\\\"; break;
        case L'\t': out += L"\\t"; break;
        case L'\r': out += L"\\r"; break;
        case L'\n': out += L"\\n"; break;
        default: out += c; break;
        }
    }
    return out;
}

std::optional<uint64_t> ParseUnsigned(const std::wstring& text)
{
    if (text.empty())
        return std::nullopt;
    const wchar_t* digits = text.c_str();
    int base = 10;
    if (text.size() > 2 && text[0] == L'0' && (text[1] == L'x' || text[1] == L'X')) {
        digits += 2;
        base = 16;
    }
    uint64_t value = 0;
    for (const wchar_t* p = digits; *p != L'\0'; ++p) {
        unsigned digit;
        if (*p >= L'0' && *p <= L'9')
            digit = static_cast<unsigned>(*p - L'0');
        else if (base == 16 && *p >= L'a' && *p <= L'f')
            digit = static_cast<unsigned>(*p - L'a' + 10);
        else if (base == 16 && *p >= L'A' && *p <= L'F')
            digit = static_cast<unsigned>(*p - L'A' + 10);
        else
            return std::nullopt;
        if (value > (UINT64_MAX - digit) / static_cast<uint64_t>(base))
            return std::nullopt;
        value = value * static_cast<uint64_t>(base) + digit;
    }
    return value;
}

std::optional<int64_t> ParseSigned(const std::wstring& text)
{
    bool negative = !text.empty() && text[0] == L'-';
    std::optional<uint64_t> magnitude = ParseUnsigned(negative ? text.substr(1) : text);
    if (!magnitude)
        return std::nullopt;
    if (negative) {
        if (*magnitude > static_cast<uint64_t>(INT64_MAX) + 1)
            return std::nullopt;
        return static_cast<int64_t>(0 - *magnitude);
    }
    // Values above INT64_MAX are taken as their bit pattern (handy for
    // message parameters written in hexadecimal).
    return static_cast<int64_t>(*magnitude);
}

std::optional<HWND> ParseWindow(const std::wstring& text)
{
    std::optional<uint64_t> value = ParseUnsigned(text);
    if (!value)
        return std::nullopt;
    return reinterpret_cast<HWND>(static_cast<uintptr_t>(*value));
}

std::wstring Hex(uint64_t value)
{
    wchar_t buffer[20];
    int at = 19;
    buffer[at] = L'\0';
    do {
        unsigned digit = static_cast<unsigned>(value & 0xF);
        buffer[--at] = static_cast<wchar_t>(digit < 10 ? L'0' + digit : L'a' + digit - 10);
        value >>= 4;
    } while (value != 0);
    return std::wstring(L"0x") + (buffer + at);
}

std::wstring UDecimal(uint64_t value)
{
    wchar_t buffer[24];
    int at = 23;
    buffer[at] = L'\0';
    do {
        buffer[--at] = static_cast<wchar_t>(L'0' + value % 10);
        value /= 10;
    } while (value != 0);
    return std::wstring(buffer + at);
}

std::wstring Decimal(int64_t value)
{
    if (value < 0)
        return L"-" + UDecimal(0 - static_cast<uint64_t>(value));
    return UDecimal(static_cast<uint64_t>(value));
}

std::wstring WindowText(HWND window)
{
    return Hex(reinterpret_cast<uintptr_t>(window));
}

HWND ControlOf(HWND parent, const std::wstring& id)
{
    if (!IsWindow(parent)) {
        Fail(L"no window " + WindowText(parent));
        return nullptr;
    }
    if (id == L"self" || id == L"-")
        return parent;
    std::optional<int64_t> value = ParseSigned(id);
    if (!value) {
        Fail(L"not a control id: " + id);
        return nullptr;
    }
    HWND control = GetDlgItem(parent, static_cast<int>(*value));
    if (control == nullptr)
        Fail(L"window " + WindowText(parent) + L" has no control with id " + id);
    return control;
}

std::wstring ClassNameOf(HWND window)
{
    wchar_t name[256] = {};
    GetClassNameW(window, name, 256);
    return name;
}

std::wstring TextOf(HWND window)
{
    DWORD_PTR length = 0;
    if (!SendMessageTimeoutW(window, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, 5000, &length))
        length = 0;
    std::vector<wchar_t> buffer(static_cast<size_t>(length) + 1024, L'\0');
    DWORD_PTR copied = 0;
    if (!SendMessageTimeoutW(window, WM_GETTEXT, buffer.size(), reinterpret_cast<LPARAM>(buffer.data()),
                             SMTO_ABORTIFHUNG, 5000, &copied))
        return std::wstring();
    return std::wstring(buffer.data(), static_cast<size_t>(copied) < buffer.size() ? static_cast<size_t>(copied) : 0);
}

int wmain(int argc, wchar_t** argv)
{
    if (argc < 2) {
        PrintUsage();
        return 2;
    }
    if (wcscmp(argv[1], L"help") == 0 || wcscmp(argv[1], L"--help") == 0)
        return PrintUsage();

    if (wcscmp(argv[1], L"serve") == 0)
        return RunServe();
    return RunNamedCommand(argv[1], std::vector<std::wstring>(argv + 2, argv + argc));
}
