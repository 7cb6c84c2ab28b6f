// Commands for the monitor's tests: the shell's "TaskbarCreated" broadcast,
// an icon lost by the shell, the tips the notification area holds, names
// taken by other objects, and a program's resources read from its file.
#include "Driver.h"

#include <commctrl.h>
#include <shellapi.h>

namespace {

// taskbar-created [hwnd]: posts the registered "TaskbarCreated" message to
// the window, or broadcasts it to every top-level window as the shell does.
// Prints the message number.
int RunTaskbarCreated(const std::vector<std::wstring>& args)
{
    if (args.size() > 1)
        return UsageError(L"at most one window expected");
    HWND target = HWND_BROADCAST;
    if (args.size() == 1) {
        std::optional<HWND> window = ParseWindow(args[0]);
        if (!window)
            return UsageError(L"bad window: " + args[0]);
        target = *window;
    }
    UINT message = RegisterWindowMessageW(L"TaskbarCreated");
    if (message == 0)
        return Fail(L"RegisterWindowMessageW failed: " + LastErrorText());
    if (!PostMessageW(target, message, 0, 0))
        return Fail(L"PostMessageW failed: " + LastErrorText());
    OutLine(Hex(message));
    return 0;
}

// tray-forget <hwnd> <id>: removes another window's icon from the
// notification area, as a taskbar that went away loses every icon.
int RunTrayForget(const std::vector<std::wstring>& args)
{
    if (args.size() != 2)
        return UsageError(L"a window and an icon id expected");
    std::optional<HWND> window = ParseWindow(args[0]);
    std::optional<uint64_t> id = ParseUnsigned(args[1]);
    if (!window || !id)
        return UsageError(L"bad window or icon id");
    NOTIFYICONDATAW data = {};
    data.cbSize = sizeof(data);
    data.hWnd = *window;
    data.uID = static_cast<UINT>(*id);
    if (!Shell_NotifyIconW(NIM_DELETE, &data))
        return Fail(L"Shell_NotifyIconW(NIM_DELETE) failed");
    OutLine(L"deleted");
    return 0;
}

void PrintMenu(HMENU menu, UINT menuId, const std::wstring& path)
{
    int count = GetMenuItemCount(menu);
    for (int i = 0; i < count; ++i) {
        wchar_t text[256] = L"";
        MENUITEMINFOW item = {};
        item.cbSize = sizeof(item);
        item.fMask = MIIM_ID | MIIM_FTYPE | MIIM_STRING | MIIM_SUBMENU;
        item.dwTypeData = text;
        item.cch = ARRAYSIZE(text);
        std::wstring where = path.empty() ? Decimal(i) : path + L"." + Decimal(i);
        std::wstring prefix = L"menu\t" + UDecimal(menuId) + L"\t" + where + L"\t";
        if (!GetMenuItemInfoW(menu, static_cast<UINT>(i), TRUE, &item)) {
            OutLine(prefix + L"unreadable");
        } else if (item.fType & MFT_SEPARATOR) {
            OutLine(prefix + L"separator");
        } else if (item.hSubMenu != nullptr) {
            OutLine(prefix + L"popup\t" + Escape(text));
            PrintMenu(item.hSubMenu, menuId, where);
        } else {
            OutLine(prefix + UDecimal(item.wID) + L"\t" + Escape(text));
        }
    }
}

#pragma pack(push, 2)
struct GroupIconEntry {
    BYTE width;
    BYTE height;
    BYTE colorCount;
    BYTE reserved;
    WORD planes;
    WORD bitCount;
    DWORD bytesInResource;
    WORD id;
};
struct GroupIconHeader {
    WORD reserved;
    WORD type;
    WORD count;
};
#pragma pack(pop)

// The sizes held by an icon group, "16x16,32x32".
std::wstring IconSizes(HMODULE module, UINT id)
{
    HRSRC found = FindResourceW(module, MAKEINTRESOURCEW(id), RT_GROUP_ICON);
    HGLOBAL loaded = found ? LoadResource(module, found) : nullptr;
    const BYTE* data = loaded ? static_cast<const BYTE*>(LockResource(loaded)) : nullptr;
    DWORD size = found ? SizeofResource(module, found) : 0;
    if (data == nullptr || size < sizeof(GroupIconHeader))
        return L"missing";
    const GroupIconHeader* header = reinterpret_cast<const GroupIconHeader*>(data);
    std::wstring sizes;
    for (WORD i = 0; i < header->count; ++i) {
        size_t offset = sizeof(GroupIconHeader) + i * sizeof(GroupIconEntry);
        if (offset + sizeof(GroupIconEntry) > size)
            break;
        const GroupIconEntry* entry = reinterpret_cast<const GroupIconEntry*>(data + offset);
        int width = entry->width == 0 ? 256 : entry->width;
        int height = entry->height == 0 ? 256 : entry->height;
        if (!sizes.empty())
            sizes += L",";
        sizes += Decimal(width) + L"x" + Decimal(height);
    }
    return sizes;
}

// resources <exe> <kind:id> ...: a program's resources as it loads them.
// Kinds: string, menu, accel, icon, manifest (the id is ignored: 1). Lines:
//   string <id> <text>            (escaped)
//   menu <id> <position> <command id> <text> | popup <text> | separator
//   accel <id> <flags hex> <key> <command id>
//   icon <id> <sizes>
//   manifest <text>               (escaped)
int RunResources(const std::vector<std::wstring>& args)
{
    if (args.size() < 2)
        return UsageError(L"a program file and at least one kind:id expected");
    HMODULE module =
        LoadLibraryExW(args[0].c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    if (module == nullptr)
        return Fail(L"cannot load " + args[0] + L": " + LastErrorText());
    int result = 0;
    for (size_t a = 1; a < args.size(); ++a) {
        size_t colon = args[a].find(L':');
        std::optional<uint64_t> id =
            colon == std::wstring::npos ? std::nullopt : ParseUnsigned(args[a].substr(colon + 1));
        std::wstring kind = colon == std::wstring::npos ? args[a] : args[a].substr(0, colon);
        if (!id) {
            result = UsageError(L"bad kind:id: " + args[a]);
            break;
        }
        UINT number = static_cast<UINT>(*id);
        if (kind == L"string") {
            wchar_t text[1024] = L"";
            int length = LoadStringW(module, number, text, ARRAYSIZE(text));
            OutLine(L"string\t" + UDecimal(number) + L"\t" + (length > 0 ? Escape(text) : L"<missing>"));
        } else if (kind == L"menu") {
            HMENU menu = LoadMenuW(module, MAKEINTRESOURCEW(number));
            if (menu == nullptr) {
                OutLine(L"menu\t" + UDecimal(number) + L"\t<missing>");
                continue;
            }
            PrintMenu(menu, number, L"");
            DestroyMenu(menu);
        } else if (kind == L"accel") {
            HACCEL table = LoadAcceleratorsW(module, MAKEINTRESOURCEW(number));
            if (table == nullptr) {
                OutLine(L"accel\t" + UDecimal(number) + L"\t<missing>");
                continue;
            }
            ACCEL entries[32];
            int count = CopyAcceleratorTableW(table, entries, ARRAYSIZE(entries));
            for (int i = 0; i < count; ++i) {
                std::wstring key = (entries[i].fVirt & FVIRTKEY)
                                       ? Hex(entries[i].key)
                                       : std::wstring(1, static_cast<wchar_t>(entries[i].key));
                OutLine(L"accel\t" + UDecimal(number) + L"\t" + Hex(entries[i].fVirt) + L"\t" + key + L"\t" +
                        UDecimal(entries[i].cmd));
            }
            DestroyAcceleratorTable(table);
        } else if (kind == L"icon") {
            OutLine(L"icon\t" + UDecimal(number) + L"\t" + IconSizes(module, number));
        } else if (kind == L"manifest") {
            HRSRC found = FindResourceW(module, MAKEINTRESOURCEW(1), RT_MANIFEST);
            HGLOBAL loaded = found ? LoadResource(module, found) : nullptr;
            const char* data = loaded ? static_cast<const char*>(LockResource(loaded)) : nullptr;
            if (data == nullptr) {
                OutLine(L"manifest\t<missing>");
                continue;
            }
            OutLine(L"manifest\t" + Escape(Utf8ToWide(std::string(data, SizeofResource(module, found)))));
        } else {
            result = UsageError(L"unknown kind: " + kind);
            break;
        }
    }
    FreeLibrary(module);
    return result;
}

struct TooltipSearch {
    DWORD pid;
    std::vector<HWND> windows;
};

BOOL CALLBACK CollectTooltip(HWND window, LPARAM parameter)
{
    TooltipSearch* search = reinterpret_cast<TooltipSearch*>(parameter);
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    if ((search->pid == 0 || pid == search->pid) && ClassNameOf(window) == L"tooltips_class32")
        search->windows.push_back(window);
    return TRUE;
}

// The texts of every tool of one tooltip window in another process.
bool PrintTooltipTexts(HWND tooltip)
{
    DWORD pid = 0;
    GetWindowThreadProcessId(tooltip, &pid);
    HANDLE process = OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, pid);
    if (process == nullptr)
        return false;
    constexpr SIZE_T TEXT_CHARS = 1024;
    const SIZE_T size = sizeof(TTTOOLINFOW) + TEXT_CHARS * sizeof(wchar_t);
    BYTE* remote = static_cast<BYTE*>(VirtualAllocEx(process, nullptr, size, MEM_COMMIT, PAGE_READWRITE));
    if (remote == nullptr) {
        CloseHandle(process);
        return false;
    }
    wchar_t* remoteText = reinterpret_cast<wchar_t*>(remote + sizeof(TTTOOLINFOW));
    DWORD_PTR count = 0;
    SendMessageTimeoutW(tooltip, TTM_GETTOOLCOUNT, 0, 0, SMTO_ABORTIFHUNG, 5000, &count);
    for (DWORD_PTR i = 0; i < count; ++i) {
        TTTOOLINFOW info = {};
        info.cbSize = sizeof(info);
        DWORD_PTR found = 0;
        if (!WriteProcessMemory(process, remote, &info, sizeof(info), nullptr) ||
            !SendMessageTimeoutW(tooltip, TTM_ENUMTOOLSW, i, reinterpret_cast<LPARAM>(remote), SMTO_ABORTIFHUNG, 5000,
                                 &found) ||
            !found || !ReadProcessMemory(process, remote, &info, sizeof(info), nullptr))
            continue;
        info.lpszText = remoteText;
        wchar_t empty = L'\0';
        DWORD_PTR ignored = 0;
        WriteProcessMemory(process, remoteText, &empty, sizeof(empty), nullptr);
        WriteProcessMemory(process, remote, &info, sizeof(info), nullptr);
        SendMessageTimeoutW(tooltip, TTM_GETTEXTW, TEXT_CHARS, reinterpret_cast<LPARAM>(remote), SMTO_ABORTIFHUNG, 5000,
                            &ignored);
        std::vector<wchar_t> text(TEXT_CHARS + 1, L'\0');
        ReadProcessMemory(process, remoteText, text.data(), TEXT_CHARS * sizeof(wchar_t), nullptr);
        OutLine(L"tip\t" + WindowText(tooltip) + L"\t" + WindowText(info.hwnd) + L"\t" + UDecimal(info.uId) + L"\t" +
                Escape(text.data()));
    }
    VirtualFreeEx(process, remote, 0, MEM_RELEASE);
    CloseHandle(process);
    return true;
}

// tray-tips [pid]: the text of every tool of every tooltip window (of one
// process, or of all), one line each: tip <tooltip> <tool hwnd> <tool id> <text>.
// The notification area keeps each icon's tip as such a tool.
int RunTrayTips(const std::vector<std::wstring>& args)
{
    if (args.size() > 1)
        return UsageError(L"at most a process id expected");
    TooltipSearch search = { 0, {} };
    if (args.size() == 1) {
        std::optional<uint64_t> pid = ParseUnsigned(args[0]);
        if (!pid)
            return UsageError(L"bad process id: " + args[0]);
        search.pid = static_cast<DWORD>(*pid);
    }
    EnumWindows(CollectTooltip, reinterpret_cast<LPARAM>(&search));
    for (HWND tooltip : search.windows) {
        if (!PrintTooltipTexts(tooltip))
            ErrLine(L"tray-tips: cannot read " + WindowText(tooltip) + L": " + LastErrorText());
    }
    return 0;
}

// squat <seconds> <name> ...: holds a mutex under each name for that long,
// so that a program creating an event of the same name fails. Prints "held"
// once all exist.
int RunSquat(const std::vector<std::wstring>& args)
{
    if (args.size() < 2)
        return UsageError(L"a time in seconds and at least one name expected");
    std::optional<uint64_t> seconds = ParseUnsigned(args[0]);
    if (!seconds)
        return UsageError(L"bad time: " + args[0]);
    std::vector<HANDLE> held;
    for (size_t i = 1; i < args.size(); ++i) {
        HANDLE mutex = CreateMutexW(nullptr, FALSE, args[i].c_str());
        if (mutex == nullptr)
            return Fail(L"CreateMutexW(" + args[i] + L") failed: " + LastErrorText());
        held.push_back(mutex);
    }
    OutLine(L"held");
    Sleep(static_cast<DWORD>(*seconds * 1000));
    for (HANDLE mutex : held)
        CloseHandle(mutex);
    return 0;
}

const CommandRegistrar taskbarCreated{ L"taskbar-created", L"[hwnd]", RunTaskbarCreated };
const CommandRegistrar trayForget{ L"tray-forget", L"<hwnd> <id>", RunTrayForget };
const CommandRegistrar squat{ L"squat", L"<seconds> <name> ...", RunSquat };
const CommandRegistrar trayTips{ L"tray-tips", L"[pid]", RunTrayTips };
const CommandRegistrar resources{ L"resources", L"<exe> <string|menu|accel|icon|manifest>:<id> ...", RunResources };

}  // namespace
