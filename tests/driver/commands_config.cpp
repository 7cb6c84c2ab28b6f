// Commands for the configuration program's tests: registry keys that refuse
// writing, and the list's measured character width.
#include "Driver.h"

#include <aclapi.h>

#include <string>

namespace {

// denykey <32|64> <key under HKLM>: creates the key if needed and gives it a
// protected DACL that grants Everyone, Administrators and SYSTEM read access
// only. Wine runs every program with an administrator token, but it enforces
// a key's DACL, so opening the key for writing then fails with 5.
int RunDenyKey(const std::vector<std::wstring>& args)
{
    if (args.size() != 2)
        return UsageError(L"a view (32 or 64) and a key path expected");
    REGSAM view = 0;
    if (args[0] == L"32")
        view = KEY_WOW64_32KEY;
    else if (args[0] == L"64")
        view = KEY_WOW64_64KEY;
    else
        return UsageError(L"bad view: " + args[0]);

    HKEY key = nullptr;
    LSTATUS status = RegCreateKeyExW(HKEY_LOCAL_MACHINE, args[1].c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                     KEY_READ | WRITE_DAC | view, nullptr, &key, nullptr);
    if (status != ERROR_SUCCESS)
        return Fail(L"cannot create the key: " + ErrorText(static_cast<DWORD>(status)));

    SID_IDENTIFIER_AUTHORITY world = SECURITY_WORLD_SID_AUTHORITY;
    SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
    PSID everyone = nullptr, administrators = nullptr, system = nullptr;
    AllocateAndInitializeSid(&world, 1, SECURITY_WORLD_RID, 0, 0, 0, 0, 0, 0, 0, &everyone);
    AllocateAndInitializeSid(&nt, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0, 0, 0,
                             &administrators);
    AllocateAndInitializeSid(&nt, 1, SECURITY_LOCAL_SYSTEM_RID, 0, 0, 0, 0, 0, 0, 0, &system);

    EXPLICIT_ACCESSW entries[3] = {};
    PSID sids[3] = { everyone, administrators, system };
    for (int i = 0; i < 3; ++i) {
        entries[i].grfAccessPermissions = KEY_READ;
        entries[i].grfAccessMode = SET_ACCESS;
        entries[i].grfInheritance = SUB_CONTAINERS_AND_OBJECTS_INHERIT;
        entries[i].Trustee.TrusteeForm = TRUSTEE_IS_SID;
        entries[i].Trustee.TrusteeType = TRUSTEE_IS_WELL_KNOWN_GROUP;
        entries[i].Trustee.ptstrName = static_cast<LPWSTR>(sids[i]);
    }
    PACL acl = nullptr;
    DWORD result =
        (everyone && administrators && system) ? SetEntriesInAclW(3, entries, nullptr, &acl) : ERROR_NOT_ENOUGH_MEMORY;
    if (result == ERROR_SUCCESS)
        result = SetSecurityInfo(key, SE_REGISTRY_KEY, DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION,
                                 nullptr, nullptr, acl, nullptr);
    if (acl != nullptr)
        LocalFree(acl);
    for (PSID sid : sids) {
        if (sid != nullptr)
            FreeSid(sid);
    }
    RegCloseKey(key);
    if (result != ERROR_SUCCESS)
        return Fail(L"cannot set the key's DACL: " + ErrorText(result));

    // Prove it: a write open must now be refused.
    HKEY probe = nullptr;
    status = RegOpenKeyExW(HKEY_LOCAL_MACHINE, args[1].c_str(), 0, KEY_WRITE | view, &probe);
    if (status == ERROR_SUCCESS) {
        RegCloseKey(probe);
        return Fail(L"the key still opens for writing");
    }
    OutLine(L"denied\t" + Decimal(status));
    return 0;
}

// charwidth <hwnd> <id|self>: the window's average letter width measured as
// the configuration program measures it (the window's device context as it
// comes, the 52 letters, rounded to the nearest pixel), and its client width.
int RunCharWidth(const std::vector<std::wstring>& args)
{
    if (args.size() != 2)
        return UsageError(L"a window and a control id expected");
    std::optional<HWND> window = ParseWindow(args[0]);
    if (!window)
        return UsageError(L"bad window: " + args[0]);
    HWND control = ControlOf(*window, args[1]);
    if (control == nullptr)
        return 1;
    HDC dc = GetDC(control);
    if (dc == nullptr)
        return Fail(L"no device context");
    SIZE extent = {};
    BOOL measured = GetTextExtentPoint32A(dc, "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz", 52, &extent);
    ReleaseDC(control, dc);
    if (!measured)
        return Fail(L"cannot measure: " + LastErrorText());
    RECT client = {};
    GetClientRect(control, &client);
    OutLine(L"measured\t" + Decimal(extent.cx));
    OutLine(L"average\t" + Decimal((extent.cx + 26) / 52));
    OutLine(L"client\t" + Decimal(client.right - client.left));
    return 0;
}

// unlinkkey <key under HKLM\Software\Wow6432Node>: deletes a registry link
// there, so that the 32-bit view of a key that Wine shares between the views
// becomes a key of its own (as it was on 64-bit Windows before 7). Prints
// "unlinked", or "absent" when there was no such link.
int RunUnlinkKey(const std::vector<std::wstring>& args)
{
    if (args.size() != 1)
        return UsageError(L"a key path expected");
    typedef LONG(WINAPI * NtDeleteKeyFunction)(HANDLE);
    NtDeleteKeyFunction ntDeleteKey = reinterpret_cast<NtDeleteKeyFunction>(
        reinterpret_cast<void (*)()>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtDeleteKey")));
    if (ntDeleteKey == nullptr)
        return Fail(L"no NtDeleteKey");
    HKEY key = nullptr;
    LSTATUS status = RegOpenKeyExW(HKEY_LOCAL_MACHINE, args[0].c_str(), REG_OPTION_OPEN_LINK,
                                   DELETE | KEY_QUERY_VALUE | KEY_WOW64_64KEY, &key);
    if (status == ERROR_FILE_NOT_FOUND) {
        OutLine(L"absent");
        return 0;
    }
    if (status != ERROR_SUCCESS)
        return Fail(L"cannot open the link: " + ErrorText(static_cast<DWORD>(status)));
    DWORD type = REG_NONE;
    status = RegQueryValueExW(key, L"SymbolicLinkValue", nullptr, &type, nullptr, nullptr);
    if (status != ERROR_SUCCESS || type != REG_LINK) {
        RegCloseKey(key);
        OutLine(L"absent");
        return 0;
    }
    LONG deleted = ntDeleteKey(key);
    RegCloseKey(key);
    if (deleted != 0)
        return Fail(L"NtDeleteKey failed: " + Hex(static_cast<uint32_t>(deleted)));
    OutLine(L"unlinked");
    return 0;
}

// owner <hwnd>: the window's owner ("0x0" for none).
int RunOwner(const std::vector<std::wstring>& args)
{
    if (args.size() != 1)
        return UsageError(L"a window expected");
    std::optional<HWND> window = ParseWindow(args[0]);
    if (!window)
        return UsageError(L"bad window: " + args[0]);
    if (!IsWindow(*window))
        return Fail(L"no window " + args[0]);
    OutLine(WindowText(GetWindow(*window, GW_OWNER)));
    return 0;
}

const CommandRegistrar denyKeyCommand{ L"denykey", L"<32|64> <key under HKLM>", RunDenyKey };
const CommandRegistrar unlinkKeyCommand{ L"unlinkkey", L"<key under HKLM>", RunUnlinkKey };
const CommandRegistrar ownerCommand{ L"owner", L"<hwnd>", RunOwner };
const CommandRegistrar charWidthCommand{ L"charwidth", L"<hwnd> <id|self>", RunCharWidth };

}  // namespace
