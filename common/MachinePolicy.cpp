#include "MachinePolicy.h"

#include "Handles.h"

const wchar_t BRIMLINE_POLICY_KEY[] = L"Software\\Policies\\Velloran\\Brimline";

bool ReadPolicyNumber(const wchar_t* name, uint32_t& value)
{
    UniqueRegKey key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, BRIMLINE_POLICY_KEY, 0, KEY_QUERY_VALUE | BRIMLINE_POLICY_VIEW,
                      key.Put()) != ERROR_SUCCESS)
        return false;
    DWORD type = REG_NONE;
    DWORD number = 0;
    DWORD size = sizeof(number);
    if (RegQueryValueExW(key.Get(), name, nullptr, &type, reinterpret_cast<BYTE*>(&number), &size) != ERROR_SUCCESS ||
        type != REG_DWORD || size != sizeof(number))
        return false;
    value = number;
    return true;
}
