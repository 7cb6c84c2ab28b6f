// Windows and controls of other programs: find them, read them, press them.
// Every call that could block on a hung target goes through
// SendMessageTimeoutW.
#include "Driver.h"

namespace {

const DWORD SEND_TIMEOUT = 5000;
const DWORD POLL_INTERVAL = 50;

struct WindowFilter {
    std::wstring className;  // "*": any
    std::wstring title;      // "*": any
    DWORD pid;               // 0: any
    std::vector<HWND> found;
};

BOOL CALLBACK CollectWindow(HWND window, LPARAM context)
{
    WindowFilter& filter = *reinterpret_cast<WindowFilter*>(context);
    if (filter.pid != 0) {
        DWORD pid = 0;
        GetWindowThreadProcessId(window, &pid);
        if (pid != filter.pid)
            return TRUE;
    }
    if (filter.className != L"*" && lstrcmpiW(ClassNameOf(window).c_str(), filter.className.c_str()) != 0)
        return TRUE;
    if (filter.title != L"*") {
        wchar_t title[1024] = {};
        GetWindowTextW(window, title, 1024);
        if (filter.title != title)
            return TRUE;
    }
    filter.found.push_back(window);
    return TRUE;
}

std::vector<HWND> TopLevelWindows(const std::wstring& className, const std::wstring& title, DWORD pid)
{
    WindowFilter filter{ className, title, pid, {} };
    EnumWindows(CollectWindow, reinterpret_cast<LPARAM>(&filter));
    return filter.found;
}

BOOL CALLBACK CollectChild(HWND window, LPARAM context)
{
    reinterpret_cast<std::vector<HWND>*>(context)->push_back(window);
    return TRUE;
}

std::vector<HWND> ChildWindows(HWND parent)
{
    std::vector<HWND> children;
    EnumChildWindows(parent, CollectChild, reinterpret_cast<LPARAM>(&children));
    return children;
}

std::optional<DWORD> ParseTimeout(const std::vector<std::wstring>& args, size_t index, DWORD fallback)
{
    if (args.size() <= index)
        return fallback;
    std::optional<uint64_t> value = ParseUnsigned(args[index]);
    if (!value || *value >= INFINITE)
        return std::nullopt;
    return static_cast<DWORD>(*value);
}

// Message numbers by name, for post; a number is taken as is, and
// "reg:<name>" is the message RegisterWindowMessageW gives for <name>
// (reg:TaskbarCreated).
std::optional<UINT> ParseMessage(const std::wstring& text)
{
    struct Named {
        const wchar_t* name;
        UINT value;
    };
    static const Named names[] = {
        { L"WM_NULL", WM_NULL },
        { L"WM_CLOSE", WM_CLOSE },
        { L"WM_QUIT", WM_QUIT },
        { L"WM_SETTEXT", WM_SETTEXT },
        { L"WM_COMMAND", WM_COMMAND },
        { L"WM_SYSCOMMAND", WM_SYSCOMMAND },
        { L"WM_TIMER", WM_TIMER },
        { L"WM_KEYDOWN", WM_KEYDOWN },
        { L"WM_KEYUP", WM_KEYUP },
        { L"WM_CHAR", WM_CHAR },
        { L"WM_MOUSEMOVE", WM_MOUSEMOVE },
        { L"WM_LBUTTONDOWN", WM_LBUTTONDOWN },
        { L"WM_LBUTTONUP", WM_LBUTTONUP },
        { L"WM_LBUTTONDBLCLK", WM_LBUTTONDBLCLK },
        { L"WM_RBUTTONDOWN", WM_RBUTTONDOWN },
        { L"WM_RBUTTONUP", WM_RBUTTONUP },
        { L"WM_USER", WM_USER },
        { L"WM_APP", WM_APP },
        { L"WM_TRAYICON", WM_USER + 1 },
        { L"WM_RELOADSETTINGS", WM_USER + 2 },
        { L"NIN_BALLOONSHOW", WM_USER + 2 },
        { L"NIN_BALLOONHIDE", WM_USER + 3 },
        { L"NIN_BALLOONTIMEOUT", WM_USER + 4 },
        { L"NIN_BALLOONUSERCLICK", WM_USER + 5 },
    };
    if (text.compare(0, 4, L"reg:") == 0 && text.size() > 4) {
        UINT message = RegisterWindowMessageW(text.c_str() + 4);
        if (message == 0)
            return std::nullopt;
        return message;
    }
    for (const Named& named : names) {
        if (text == named.name)
            return named.value;
    }
    std::optional<uint64_t> value = ParseUnsigned(text);
    if (!value || *value > 0xFFFFFFFFu)
        return std::nullopt;
    return static_cast<UINT>(*value);
}

struct MessageArguments {
    HWND window;
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
};

std::optional<MessageArguments> ParseMessageArguments(const std::vector<std::wstring>& args)
{
    if (args.size() != 4)
        return std::nullopt;
    std::optional<HWND> window = ParseWindow(args[0]);
    std::optional<UINT> message = ParseMessage(args[1]);
    std::optional<int64_t> wParam = ParseSigned(args[2]);
    std::optional<int64_t> lParam = ParseSigned(args[3]);
    if (!window || !message || !wParam || !lParam)
        return std::nullopt;
    return MessageArguments{ *window, *message, static_cast<WPARAM>(*wParam), static_cast<LPARAM>(*lParam) };
}

// windows [pid]: "<hwnd>\t<pid>\t<visible 0|1>\t<class>\t<title>" per
// top-level window, in Z order.
int RunWindows(const std::vector<std::wstring>& args)
{
    if (args.size() > 1)
        return UsageError(L"at most a process id expected");
    std::optional<uint64_t> pid = args.empty() ? std::optional<uint64_t>(0) : ParseUnsigned(args[0]);
    if (!pid)
        return UsageError(L"bad process id: " + args[0]);
    for (HWND window : TopLevelWindows(L"*", L"*", static_cast<DWORD>(*pid))) {
        DWORD owner = 0;
        GetWindowThreadProcessId(window, &owner);
        wchar_t title[1024] = {};
        GetWindowTextW(window, title, 1024);
        OutLine(WindowText(window) + L"\t" + UDecimal(owner) + L"\t" + (IsWindowVisible(window) ? L"1" : L"0") + L"\t" +
                Escape(ClassNameOf(window)) + L"\t" + Escape(title));
    }
    return 0;
}

// find <class|*> <title|*> [timeout_ms]: the first matching top-level window
// (class compared without case, title exactly), polled until the time-out
// (default 0: look once). Exit 1 when there is none.
int RunFind(const std::vector<std::wstring>& args)
{
    if (args.size() < 2 || args.size() > 3)
        return UsageError(L"a class and a title expected");
    std::optional<DWORD> timeout = ParseTimeout(args, 2, 0);
    if (!timeout)
        return UsageError(L"bad time-out: " + args[2]);
    ULONGLONG deadline = GetTickCount64() + *timeout;
    for (;;) {
        std::vector<HWND> found = TopLevelWindows(args[0], args[1], 0);
        if (!found.empty()) {
            OutLine(WindowText(found.front()));
            return 0;
        }
        if (GetTickCount64() >= deadline)
            return Fail(L"no window of class " + args[0] + L" with title " + args[1]);
        Sleep(POLL_INTERVAL);
    }
}

// waitgone <hwnd> <timeout_ms>: waits until the window no longer exists.
int RunWaitGone(const std::vector<std::wstring>& args)
{
    if (args.size() != 2)
        return UsageError(L"a window and a time-out expected");
    std::optional<HWND> window = ParseWindow(args[0]);
    std::optional<DWORD> timeout = ParseTimeout(args, 1, 0);
    if (!window || !timeout)
        return UsageError(L"bad window or time-out");
    ULONGLONG deadline = GetTickCount64() + *timeout;
    while (IsWindow(*window)) {
        if (GetTickCount64() >= deadline)
            return Fail(L"window " + args[0] + L" still exists");
        Sleep(POLL_INTERVAL);
    }
    OutLine(L"gone");
    return 0;
}

// click <hwnd> <id|self>: BM_CLICK, sent. Prints "clicked" when the button
// has handled it, or "pending" when it has not returned within 3 s (the
// click opened a modal window, for instance): the click was delivered all
// the same.
int RunClick(const std::vector<std::wstring>& args)
{
    if (args.size() != 2)
        return UsageError(L"a window and a control id expected");
    std::optional<HWND> window = ParseWindow(args[0]);
    if (!window)
        return UsageError(L"bad window: " + args[0]);
    HWND control = ControlOf(*window, args[1]);
    if (control == nullptr)
        return 1;
    DWORD_PTR result = 0;
    if (SendMessageTimeoutW(control, BM_CLICK, 0, 0, SMTO_NORMAL, 3000, &result)) {
        OutLine(L"clicked");
        return 0;
    }
    if (GetLastError() == ERROR_TIMEOUT || GetLastError() == 0) {
        OutLine(L"pending");
        return 0;
    }
    return Fail(L"BM_CLICK failed: " + LastErrorText());
}

// command <hwnd> <id> [notify]: posts WM_COMMAND as a control would (the
// control's handle as lParam when the window has a control with that id).
int RunCommand(const std::vector<std::wstring>& args)
{
    if (args.size() < 2 || args.size() > 3)
        return UsageError(L"a window and a command id expected");
    std::optional<HWND> window = ParseWindow(args[0]);
    std::optional<uint64_t> id = ParseUnsigned(args[1]);
    std::optional<uint64_t> notify = args.size() > 2 ? ParseUnsigned(args[2]) : std::optional<uint64_t>(0);
    if (!window || !id || *id > 0xFFFF || !notify || *notify > 0xFFFF)
        return UsageError(L"bad window, id or notification code");
    if (!IsWindow(*window))
        return Fail(L"no window " + args[0]);
    HWND control = GetDlgItem(*window, static_cast<int>(*id));
    if (!PostMessageW(*window, WM_COMMAND, MAKEWPARAM(static_cast<WORD>(*id), static_cast<WORD>(*notify)),
                      reinterpret_cast<LPARAM>(control)))
        return Fail(L"PostMessageW failed: " + LastErrorText());
    OutLine(L"posted");
    return 0;
}

// post <hwnd> <msg> <wparam> <lparam>
int RunPost(const std::vector<std::wstring>& args)
{
    std::optional<MessageArguments> parsed = ParseMessageArguments(args);
    if (!parsed)
        return UsageError(L"a window, a message and two parameters expected");
    if (!PostMessageW(parsed->window, parsed->message, parsed->wParam, parsed->lParam))
        return Fail(L"PostMessageW failed: " + LastErrorText());
    OutLine(L"posted");
    return 0;
}

// ping <hwnd> <timeout_ms>: how long the window's thread takes to answer
// WM_NULL, in milliseconds; exit 1 on time-out.
int RunPing(const std::vector<std::wstring>& args)
{
    if (args.size() != 2)
        return UsageError(L"a window and a time-out expected");
    std::optional<HWND> window = ParseWindow(args[0]);
    std::optional<DWORD> timeout = ParseTimeout(args, 1, 0);
    if (!window || !timeout)
        return UsageError(L"bad window or time-out");
    LARGE_INTEGER frequency, start, end;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&start);
    DWORD_PTR result = 0;
    if (!SendMessageTimeoutW(*window, WM_NULL, 0, 0, SMTO_NORMAL, *timeout, &result))
        return Fail(L"no answer within " + args[1] + L" ms: " + LastErrorText());
    QueryPerformanceCounter(&end);
    OutLine(UDecimal(static_cast<uint64_t>((end.QuadPart - start.QuadPart) * 1000 / frequency.QuadPart)));
    return 0;
}

// settext <hwnd> <id|self> <text>: WM_SETTEXT; prints the result.
int RunSetText(const std::vector<std::wstring>& args)
{
    if (args.size() != 3)
        return UsageError(L"a window, a control id and a text expected");
    std::optional<HWND> window = ParseWindow(args[0]);
    if (!window)
        return UsageError(L"bad window: " + args[0]);
    HWND control = ControlOf(*window, args[1]);
    if (control == nullptr)
        return 1;
    DWORD_PTR result = 0;
    if (!SendMessageTimeoutW(control, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(args[2].c_str()), SMTO_NORMAL,
                             SEND_TIMEOUT, &result))
        return Fail(L"no answer: " + LastErrorText());
    OutLine(Decimal(static_cast<int64_t>(static_cast<LRESULT>(result))));
    return result ? 0 : 1;
}

// gettext <hwnd> <id|self>: the control's text (WM_GETTEXT), escaped.
int RunGetText(const std::vector<std::wstring>& args)
{
    if (args.size() != 2)
        return UsageError(L"a window and a control id expected");
    std::optional<HWND> window = ParseWindow(args[0]);
    if (!window)
        return UsageError(L"bad window: " + args[0]);
    HWND control = ControlOf(*window, args[1]);
    if (control == nullptr)
        return 1;
    OutLine(Escape(TextOf(control)));
    return 0;
}

// checked <hwnd> <id|self>: BM_GETCHECK (0, 1 or 2).
int RunChecked(const std::vector<std::wstring>& args)
{
    if (args.size() != 2)
        return UsageError(L"a window and a control id expected");
    std::optional<HWND> window = ParseWindow(args[0]);
    if (!window)
        return UsageError(L"bad window: " + args[0]);
    HWND control = ControlOf(*window, args[1]);
    if (control == nullptr)
        return 1;
    DWORD_PTR result = 0;
    if (!SendMessageTimeoutW(control, BM_GETCHECK, 0, 0, SMTO_NORMAL, SEND_TIMEOUT, &result))
        return Fail(L"no answer: " + LastErrorText());
    OutLine(UDecimal(result));
    return 0;
}

// enabled <hwnd> <id|self>: 1 or 0.
int RunEnabled(const std::vector<std::wstring>& args)
{
    if (args.size() != 2)
        return UsageError(L"a window and a control id expected");
    std::optional<HWND> window = ParseWindow(args[0]);
    if (!window)
        return UsageError(L"bad window: " + args[0]);
    HWND control = ControlOf(*window, args[1]);
    if (control == nullptr)
        return 1;
    OutLine(IsWindowEnabled(control) ? L"1" : L"0");
    return 0;
}

// controls <hwnd>: every child window, in creation order:
// "<id>\t<class>\t<text>\t<style hex>\t<visible>\t<enabled>\t<hwnd>".
int RunControls(const std::vector<std::wstring>& args)
{
    if (args.size() != 1)
        return UsageError(L"a window expected");
    std::optional<HWND> window = ParseWindow(args[0]);
    if (!window)
        return UsageError(L"bad window: " + args[0]);
    if (!IsWindow(*window))
        return Fail(L"no window " + args[0]);
    for (HWND child : ChildWindows(*window)) {
        OutLine(Decimal(GetDlgCtrlID(child)) + L"\t" + Escape(ClassNameOf(child)) + L"\t" + Escape(TextOf(child)) +
                L"\t" + Hex(static_cast<uint32_t>(GetWindowLongW(child, GWL_STYLE))) + L"\t" +
                (IsWindowVisible(child) ? L"1" : L"0") + L"\t" + (IsWindowEnabled(child) ? L"1" : L"0") + L"\t" +
                WindowText(child));
    }
    return 0;
}

// A message box: a visible dialog holding only statics and buttons, one of
// them the text static with the id 65535. (A dialog of a program may have a
// static of that id too, its IDC_STATIC, but also list views, edits, links.)
bool IsMessageBox(HWND window)
{
    if (!IsWindowVisible(window))
        return false;
    bool hasText = false, hasButton = false;
    for (HWND child : ChildWindows(window)) {
        std::wstring className = ClassNameOf(child);
        if (lstrcmpiW(className.c_str(), L"Button") == 0) {
            hasButton = true;
        } else if (lstrcmpiW(className.c_str(), L"Static") == 0) {
            if ((GetDlgCtrlID(child) & 0xFFFF) == 0xFFFF && GetParent(child) == window)
                hasText = true;
        } else {
            return false;
        }
    }
    return hasText && hasButton;
}

// The first message box, owned by `owner` unless that is null.
HWND FindMessageBox(HWND owner)
{
    for (HWND window : TopLevelWindows(L"#32770", L"*", 0)) {
        if ((owner == nullptr || GetWindow(window, GW_OWNER) == owner) && IsMessageBox(window))
            return window;
    }
    return nullptr;
}

HWND WaitForMessageBox(DWORD timeout, HWND owner)
{
    ULONGLONG deadline = GetTickCount64() + timeout;
    for (;;) {
        HWND box = FindMessageBox(owner);
        if (box != nullptr || GetTickCount64() >= deadline)
            return box;
        Sleep(POLL_INTERVAL);
    }
}

// The optional owner argument at `index`: null for "any".
std::optional<HWND> ParseOwner(const std::vector<std::wstring>& args, size_t index)
{
    if (args.size() <= index || args[index] == L"*")
        return static_cast<HWND>(nullptr);
    return ParseWindow(args[index]);
}

// msgbox [timeout_ms] [owner|*]: the first visible message box (of that
// owner), polled until the time-out (default 0): lines "hwnd\t", "owner\t",
// "title\t", "text\t" (escaped), then "button\t<id>\t<text>" per button.
// Exit 1 when there is none.
int RunMessageBox(const std::vector<std::wstring>& args)
{
    if (args.size() > 2)
        return UsageError(L"at most a time-out and an owner expected");
    std::optional<DWORD> timeout = ParseTimeout(args, 0, 0);
    std::optional<HWND> owner = ParseOwner(args, 1);
    if (!timeout || !owner)
        return UsageError(L"bad time-out or owner");
    HWND box = WaitForMessageBox(*timeout, *owner);
    if (box == nullptr)
        return Fail(L"no message box");
    wchar_t title[1024] = {};
    GetWindowTextW(box, title, 1024);
    std::wstring text;
    std::vector<std::wstring> buttons;
    for (HWND child : ChildWindows(box)) {
        int id = GetDlgCtrlID(child);
        if ((id & 0xFFFF) == 0xFFFF && lstrcmpiW(ClassNameOf(child).c_str(), L"Static") == 0)
            text = TextOf(child);
        else if (lstrcmpiW(ClassNameOf(child).c_str(), L"Button") == 0 && IsWindowVisible(child))
            buttons.push_back(L"button\t" + Decimal(id) + L"\t" + Escape(TextOf(child)));
    }
    OutLine(L"hwnd\t" + WindowText(box));
    OutLine(L"owner\t" + WindowText(GetWindow(box, GW_OWNER)));
    OutLine(L"title\t" + Escape(title));
    OutLine(L"text\t" + Escape(text));
    for (const std::wstring& line : buttons)
        OutLine(line);
    return 0;
}

// msgbox-answer <button id|ok|cancel|yes|no|...> [timeout_ms] [owner|*]:
// presses the button of the first message box (of that owner), waiting up
// to the time-out (default 5000 ms) for one to appear, then waits until the
// box has closed.
int RunMessageBoxAnswer(const std::vector<std::wstring>& args)
{
    if (args.empty() || args.size() > 3)
        return UsageError(L"a button id expected");
    struct Named {
        const wchar_t* name;
        WORD id;
    };
    static const Named names[] = { { L"ok", IDOK },       { L"cancel", IDCANCEL }, { L"abort", IDABORT },
                                   { L"retry", IDRETRY }, { L"ignore", IDIGNORE }, { L"yes", IDYES },
                                   { L"no", IDNO },       { L"close", 8 },         { L"help", 9 },
                                   { L"tryagain", 10 },   { L"continue", 11 } };
    std::optional<uint64_t> id = ParseUnsigned(args[0]);
    for (const Named& named : names) {
        if (lstrcmpiW(args[0].c_str(), named.name) == 0)
            id = named.id;
    }
    std::optional<DWORD> timeout = ParseTimeout(args, 1, 5000);
    std::optional<HWND> owner = ParseOwner(args, 2);
    if (!id || *id > 0xFFFF || !timeout || !owner)
        return UsageError(L"bad button id, time-out or owner");
    HWND box = WaitForMessageBox(*timeout, *owner);
    if (box == nullptr)
        return Fail(L"no message box");
    HWND button = GetDlgItem(box, static_cast<int>(*id));
    if (!PostMessageW(box, WM_COMMAND, MAKEWPARAM(static_cast<WORD>(*id), BN_CLICKED),
                      reinterpret_cast<LPARAM>(button)))
        return Fail(L"PostMessageW failed: " + LastErrorText());
    ULONGLONG deadline = GetTickCount64() + 5000;
    while (IsWindow(box) && IsWindowVisible(box)) {
        if (GetTickCount64() >= deadline)
            return Fail(L"the message box " + WindowText(box) + L" did not close");
        Sleep(POLL_INTERVAL);
    }
    OutLine(L"answered");
    return 0;
}

// key <hwnd> <vk> [vk ...]: posts WM_KEYDOWN and WM_KEYUP for each virtual
// key code (decimal or 0x hex, or one of: down up left right return escape
// tab space) to the window, in order.
int RunKey(const std::vector<std::wstring>& args)
{
    if (args.size() < 2)
        return UsageError(L"a window and at least one key expected");
    std::optional<HWND> window = ParseWindow(args[0]);
    if (!window)
        return UsageError(L"bad window: " + args[0]);
    struct Named {
        const wchar_t* name;
        UINT key;
    };
    static const Named names[] = { { L"down", VK_DOWN },   { L"up", VK_UP },         { L"left", VK_LEFT },
                                   { L"right", VK_RIGHT }, { L"return", VK_RETURN }, { L"escape", VK_ESCAPE },
                                   { L"tab", VK_TAB },     { L"space", VK_SPACE } };
    for (size_t i = 1; i < args.size(); ++i) {
        std::optional<uint64_t> key = ParseUnsigned(args[i]);
        for (const Named& named : names) {
            if (lstrcmpiW(args[i].c_str(), named.name) == 0)
                key = named.key;
        }
        if (!key || *key > 0xFF)
            return UsageError(L"bad key: " + args[i]);
        UINT scan = MapVirtualKeyW(static_cast<UINT>(*key), MAPVK_VK_TO_VSC);
        LPARAM down = 1 | (static_cast<LPARAM>(scan) << 16);
        LPARAM up = down | (static_cast<LPARAM>(1) << 30) | (static_cast<LPARAM>(1) << 31);
        if (!PostMessageW(*window, WM_KEYDOWN, static_cast<WPARAM>(*key), down) ||
            !PostMessageW(*window, WM_KEYUP, static_cast<WPARAM>(*key), up))
            return Fail(L"PostMessageW failed: " + LastErrorText());
    }
    OutLine(L"posted");
    return 0;
}

const CommandRegistrar windowsCommand{ L"windows", L"[pid]", RunWindows };
const CommandRegistrar findCommand{ L"find", L"<class|*> <title|*> [timeout_ms]", RunFind };
const CommandRegistrar waitGoneCommand{ L"waitgone", L"<hwnd> <timeout_ms>", RunWaitGone };
const CommandRegistrar clickCommand{ L"click", L"<hwnd> <control id|self>", RunClick };
const CommandRegistrar commandCommand{ L"command", L"<hwnd> <id> [notify]", RunCommand };
const CommandRegistrar postCommand{ L"post", L"<hwnd> <msg> <wparam> <lparam>", RunPost };
const CommandRegistrar pingCommand{ L"ping", L"<hwnd> <timeout_ms>", RunPing };
const CommandRegistrar setTextCommand{ L"settext", L"<hwnd> <control id|self> <text>", RunSetText };
const CommandRegistrar getTextCommand{ L"gettext", L"<hwnd> <control id|self>", RunGetText };
const CommandRegistrar checkedCommand{ L"checked", L"<hwnd> <control id|self>", RunChecked };
const CommandRegistrar enabledCommand{ L"enabled", L"<hwnd> <control id|self>", RunEnabled };
const CommandRegistrar controlsCommand{ L"controls", L"<hwnd>", RunControls };
const CommandRegistrar messageBoxCommand{ L"msgbox", L"[timeout_ms] [owner|*]", RunMessageBox };
const CommandRegistrar messageBoxAnswerCommand{ L"msgbox-answer",
                                                L"<button id|ok|cancel|yes|no|...> [timeout_ms] [owner|*]",
                                                RunMessageBoxAnswer };
const CommandRegistrar keyCommand{ L"key", L"<hwnd> <vk> [vk ...]", RunKey };

}  // namespace
