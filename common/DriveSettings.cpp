#include "DriveSettings.h"

#include "Handles.h"
#include "SharedResource.h"

const wchar_t SETTINGS_KEY[] = L"Software\\Velloran\\BrimSet";
const wchar_t DRIVE_SETTINGS_VALUE[] = L"DriveSettings";

DriveSettingsImage DriveSettingsTable = {};

void LoadDriveSettings()
{
    UniqueRegKey key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, SETTINGS_KEY, 0, KEY_READ | SETTINGS_KEY_VIEW, key.Put()) != ERROR_SUCCESS)
        return;

    // Read into a scratch buffer: a value longer than the table fails with
    // ERROR_MORE_DATA and leaves the buffer's content undefined.
    uint8_t scratch[DRIVE_SETTINGS_SIZE];
    DWORD size = sizeof(scratch);
    LSTATUS status = RegQueryValueExW(key.Get(), DRIVE_SETTINGS_VALUE, nullptr, nullptr, scratch, &size);
    ApplyStoredSettings(DriveSettingsTable, scratch, size, status == ERROR_SUCCESS);
}

DWORD WriteMachineValue(const wchar_t* keyPath, REGSAM view, const wchar_t* name, DWORD type, const void* data,
                        DWORD size, bool& keyFailed)
{
    UniqueRegKey key;
    LSTATUS status = RegCreateKeyExW(HKEY_LOCAL_MACHINE, keyPath, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_WRITE | view,
                                     nullptr, key.Put(), nullptr);
    keyFailed = status != ERROR_SUCCESS;
    if (keyFailed)
        return static_cast<DWORD>(status);
    status = RegSetValueExW(key.Get(), name, 0, type, static_cast<const BYTE*>(data), size);
    return static_cast<DWORD>(status);
}

DWORD DeleteMachineValue(const wchar_t* keyPath, REGSAM view, const wchar_t* name)
{
    UniqueRegKey key;
    LSTATUS status = RegOpenKeyExW(HKEY_LOCAL_MACHINE, keyPath, 0, KEY_SET_VALUE | view, key.Put());
    if (status == ERROR_SUCCESS)
        status = RegDeleteValueW(key.Get(), name);
    return status == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : static_cast<DWORD>(status);
}

DWORD WriteDriveSettings(bool& keyFailed)
{
    return WriteMachineValue(SETTINGS_KEY, SETTINGS_KEY_VIEW, DRIVE_SETTINGS_VALUE, REG_BINARY, &DriveSettingsTable[0],
                             DRIVE_SETTINGS_SIZE, keyFailed);
}

DWORD SaveDriveSettings(HWND owner)
{
    bool keyFailed = false;
    DWORD status = WriteDriveSettings(keyFailed);
    if (status == ERROR_SUCCESS)
        return status;
    if (!keyFailed)
        ShowStringMessage(owner, IDS_WRITE_FAILED, MB_OK | MB_ICONINFORMATION);
    else if (status == ERROR_ACCESS_DENIED)
        ShowStringMessage(owner, IDS_SETTINGS_ACCESS_DENIED, MB_OK | MB_ICONINFORMATION);
    else
        ShowSystemErrorMessage(owner, status, MB_OK | MB_ICONINFORMATION);
    return status;
}

namespace {

void LoadCaption(wchar_t (&caption)[100])
{
    caption[0] = L'\0';
    LoadStringW(GetModuleHandleW(nullptr), IDS_APP_TITLE, caption, 100);
}

}  // namespace

int ShowStringMessage(HWND owner, UINT stringId, UINT type)
{
    wchar_t caption[100];
    LoadCaption(caption);
    wchar_t text[512] = L"";
    LoadStringW(GetModuleHandleW(nullptr), stringId, text, 512);
    return MessageBoxW(owner, text, caption, type);
}

int ShowSystemErrorMessage(HWND owner, DWORD error, UINT type)
{
    wchar_t* text = nullptr;
    DWORD length = FormatMessageW(
        FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_ALLOCATE_BUFFER, nullptr, error,
        MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    UniqueLocalMemory owned(text);
    if (length == 0 || text == nullptr)
        return 0;
    wchar_t caption[100];
    LoadCaption(caption);
    return MessageBoxW(owner, text, caption, type);
}
