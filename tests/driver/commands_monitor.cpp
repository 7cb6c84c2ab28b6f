// Commands for the monitor's tests: the shell's "TaskbarCreated" broadcast,
// an icon lost by the shell, and a program's resources read from its file.
#include "Driver.h"

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
    HMODULE module = LoadLibraryExW(args[0].c_str(), nullptr,
                                    LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    if (module == nullptr)
        return Fail(L"cannot load " + args[0] + L": " + LastErrorText());
    int result = 0;
    for (size_t a = 1; a < args.size(); ++a) {
        size_t colon = args[a].find(L':');
        std::optional<uint64_t> id = colon == std::wstring::npos ? std::nullopt : ParseUnsigned(args[a].substr(colon + 1));
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
                std::wstring key = (entries[i].fVirt & FVIRTKEY) ? Hex(entries[i].key)
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

const CommandRegistrar taskbarCreated{ L"taskbar-created", L"[hwnd]", RunTaskbarCreated };
const CommandRegistrar trayForget{ L"tray-forget", L"<hwnd> <id>", RunTrayForget };
const CommandRegistrar resources{ L"resources", L"<exe> <string|menu|accel|icon|manifest>:<id> ...", RunResources };

}  // namespace
