// The registry as the tests reach it: values of any type and length, for
// the tests of stored data in the wrong shape (reg.exe cannot write every
// type, nor an exact byte image under a string type), and deletes of values
// and keys; and a stand-in notification area.
#include "Driver.h"

namespace {

const wchar_t STAND_IN_TRAY_CLASS[] = L"Shell_TrayWnd";
const UINT_PTR IDT_STAND_IN_END = 1;

// What Shell_NotifyIconW sends the notification area under Wine: the
// WM_COPYDATA's dwData is the NIM_ code, and its data starts with the
// owner window (32 bits) and the icon id.
struct NotifyDataHead {
    LONG window;
    UINT id;
};

LRESULT CALLBACK StandInTrayProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_COPYDATA: {
        const COPYDATASTRUCT* data = reinterpret_cast<const COPYDATASTRUCT*>(lParam);
        if (data == nullptr || data->lpData == nullptr || data->cbData < sizeof(NotifyDataHead))
            return FALSE;
        const NotifyDataHead* head = static_cast<const NotifyDataHead*>(data->lpData);
        OutLine(L"icon\t" + UDecimal(data->dwData) + L"\t" +
                WindowText(reinterpret_cast<HWND>(static_cast<LONG_PTR>(head->window))) + L"\t" + UDecimal(head->id));
        return TRUE;
    }
    case WM_TIMER:
        if (wParam == IDT_STAND_IN_END)
            DestroyWindow(window);
        return 0;
    case WM_DESTROY: PostQuitMessage(0); return 0;
    default: return DefWindowProcW(window, message, wParam, lParam);
    }
}

// tray-standin <seconds>: a notification area of our own for a desktop whose
// explorer has gone: a hidden "Shell_TrayWnd" that accepts every icon call
// and prints "icon <NIM code> <owner hwnd> <id>" for each. Prints "ready
// <hwnd>" once it exists; ends after that many seconds.
int RunTrayStandIn(const std::vector<std::wstring>& args)
{
    std::optional<uint64_t> seconds = args.size() == 1 ? ParseUnsigned(args[0]) : std::nullopt;
    if (!seconds || *seconds > 3600)
        return UsageError(L"a time in seconds expected");
    HWND window =
        CreateDriverWindow(STAND_IN_TRAY_CLASS, StandInTrayProc, WS_EX_TOOLWINDOW, nullptr, WS_POPUP, 0, 0, 0, 0);
    if (window == nullptr)
        return 1;
    SetTimer(window, IDT_STAND_IN_END, static_cast<UINT>(*seconds * 1000), nullptr);
    OutLine(L"ready " + WindowText(window));
    RunDriverMessageLoop();
    return 0;
}

std::optional<std::vector<BYTE>> ParseHexBytes(const std::wstring& text)
{
    if (text == L"-")
        return std::vector<BYTE>();
    if (text.size() % 2 != 0)
        return std::nullopt;
    std::vector<BYTE> bytes;
    for (size_t i = 0; i < text.size(); i += 2) {
        std::optional<uint64_t> byte = ParseUnsigned(L"0x" + text.substr(i, 2));
        if (!byte || *byte > 0xFF)
            return std::nullopt;
        bytes.push_back(static_cast<BYTE>(*byte));
    }
    return bytes;
}

// The hive (HKLM or HKCU) and the registry view (32 or 64) that every
// registry command takes first; a null hive or a zero view when the text
// names none.
HKEY ParseHive(const std::wstring& text)
{
    return text == L"HKLM" ? HKEY_LOCAL_MACHINE : text == L"HKCU" ? HKEY_CURRENT_USER : nullptr;
}

REGSAM ParseView(const std::wstring& text)
{
    return text == L"32" ? KEY_WOW64_32KEY : text == L"64" ? KEY_WOW64_64KEY : 0;
}

// regraw <HKLM|HKCU> <32|64> <key> <name> <type number> <hex bytes|->:
// creates the key if needed and writes the value with exactly these bytes
// and this type ("-" writes no bytes).
int RunRegRaw(const std::vector<std::wstring>& args)
{
    if (args.size() != 6)
        return UsageError(L"a hive, a view, a key, a name, a type and the bytes expected");
    HKEY hive = ParseHive(args[0]);
    REGSAM view = ParseView(args[1]);
    std::optional<uint64_t> type = ParseUnsigned(args[4]);
    std::optional<std::vector<BYTE>> bytes = ParseHexBytes(args[5]);
    if (hive == nullptr || view == 0 || !type || *type > 0xFFFFFFFF || !bytes)
        return UsageError(L"bad hive, view, type or bytes");
    HKEY key = nullptr;
    LSTATUS status = RegCreateKeyExW(hive, args[2].c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_WRITE | view,
                                     nullptr, &key, nullptr);
    if (status != ERROR_SUCCESS)
        return Fail(L"RegCreateKeyExW: " + ErrorText(static_cast<DWORD>(status)));
    status = RegSetValueExW(key, args[3].c_str(), 0, static_cast<DWORD>(*type),
                            bytes->empty() ? nullptr : bytes->data(), static_cast<DWORD>(bytes->size()));
    RegCloseKey(key);
    if (status != ERROR_SUCCESS)
        return Fail(L"RegSetValueExW: " + ErrorText(static_cast<DWORD>(status)));
    OutLine(L"written");
    return 0;
}

// regget <HKLM|HKCU> <32|64> <key> <name>: "<type number>\t<hex bytes>" of
// the value exactly as stored, or exit 1 when it is missing.
int RunRegGet(const std::vector<std::wstring>& args)
{
    if (args.size() != 4)
        return UsageError(L"a hive, a view, a key and a name expected");
    HKEY hive = ParseHive(args[0]);
    REGSAM view = ParseView(args[1]);
    if (hive == nullptr || view == 0)
        return UsageError(L"bad hive or view");
    HKEY key = nullptr;
    LSTATUS status = RegOpenKeyExW(hive, args[2].c_str(), 0, KEY_READ | view, &key);
    if (status != ERROR_SUCCESS)
        return Fail(L"RegOpenKeyExW: " + ErrorText(static_cast<DWORD>(status)));
    DWORD type = 0;
    DWORD size = 0;
    status = RegQueryValueExW(key, args[3].c_str(), nullptr, &type, nullptr, &size);
    std::vector<BYTE> data(size + 1);
    if (status == ERROR_SUCCESS)
        status = RegQueryValueExW(key, args[3].c_str(), nullptr, &type, data.data(), &size);
    RegCloseKey(key);
    if (status != ERROR_SUCCESS)
        return Fail(L"RegQueryValueExW: " + ErrorText(static_cast<DWORD>(status)));
    static const wchar_t digits[] = L"0123456789abcdef";
    std::wstring hex;
    for (DWORD i = 0; i < size; ++i) {
        hex += digits[data[i] >> 4];
        hex += digits[data[i] & 0xF];
    }
    OutLine(UDecimal(type) + L"\t" + hex);
    return 0;
}

// regdelete <HKLM|HKCU> <32|64> <key> [name]: with a name, deletes that
// value (an empty name: the key's default value); without one, deletes the
// key and everything below it. Exit 1 when there is no such key or value.
int RunRegDelete(const std::vector<std::wstring>& args)
{
    if (args.size() != 3 && args.size() != 4)
        return UsageError(L"a hive, a view, a key and an optional value name expected");
    HKEY hive = ParseHive(args[0]);
    REGSAM view = ParseView(args[1]);
    if (hive == nullptr || view == 0 || args[2].empty())
        return UsageError(L"bad hive, view or key");
    const bool wholeKey = args.size() == 3;
    HKEY key = nullptr;
    LSTATUS status = RegOpenKeyExW(hive, args[2].c_str(), 0, (wholeKey ? KEY_ALL_ACCESS : KEY_SET_VALUE) | view, &key);
    if (status != ERROR_SUCCESS)
        return Fail(L"RegOpenKeyExW: " + ErrorText(static_cast<DWORD>(status)));
    // RegDeleteTreeW empties the key; the key itself goes with
    // RegDeleteKeyExW, which names the view.
    status = wholeKey ? RegDeleteTreeW(key, nullptr) : RegDeleteValueW(key, args[3].c_str());
    RegCloseKey(key);
    if (status == ERROR_SUCCESS && wholeKey)
        status = RegDeleteKeyExW(hive, args[2].c_str(), view, 0);
    if (status != ERROR_SUCCESS)
        return Fail(std::wstring(wholeKey ? L"deleting the key: " : L"RegDeleteValueW: ") +
                    ErrorText(static_cast<DWORD>(status)));
    OutLine(L"deleted");
    return 0;
}

const CommandRegistrar regRawCommand{ L"regraw", L"<HKLM|HKCU> <32|64> <key> <name> <type> <hex|->", RunRegRaw };
const CommandRegistrar trayStandInCommand{ L"tray-standin", L"<seconds>", RunTrayStandIn };
const CommandRegistrar regGetCommand{ L"regget", L"<HKLM|HKCU> <32|64> <key> <name>", RunRegGet };
const CommandRegistrar regDeleteCommand{ L"regdelete", L"<HKLM|HKCU> <32|64> <key> [name]", RunRegDelete };

}  // namespace
