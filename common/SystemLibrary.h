// Where the programs take Windows DLLs from: the system directory, and
// nowhere else. Every program may run elevated, so a DLL of a system name
// planted in its folder or the current one must never load.
#pragma once

#include <windows.h>

// Restricts the DLL search of the whole process to the system directory:
// the first call of each program's entry. SetDefaultDllDirectories is
// looked up at run time, since Windows 7 has it only with update
// KB2533623; without it, the current folder at least is left out.
void RestrictDllSearchToSystem();

// Loads a DLL of the system from the system directory only, also where the
// system does not know LOAD_LIBRARY_SEARCH_SYSTEM32 (the full path then).
// Null when it cannot be loaded; the module stays loaded for the process.
HMODULE LoadSystemLibrary(const wchar_t* name);

// A function of a loaded module as the pointer type it has (null when the
// module or the function is missing).
template <typename Function>
bool FindSystemFunction(HMODULE module, const char* name, Function& function)
{
    // Through the generic function type, which every compiler lets pass.
    function = module != nullptr
                   ? reinterpret_cast<Function>(reinterpret_cast<void (*)()>(GetProcAddress(module, name)))
                   : nullptr;
    return function != nullptr;
}
