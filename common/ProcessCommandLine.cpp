#include "ProcessCommandLine.h"

#include <windows.h>
#include <shellapi.h>

#include "Handles.h"

// CharUpperW takes a single character in the low word of its pointer
// argument and returns it the same way.
wchar_t UpperChar(wchar_t c)
{
    LPWSTR upper = CharUpperW(reinterpret_cast<LPWSTR>(static_cast<ULONG_PTR>(c)));
    return static_cast<wchar_t>(reinterpret_cast<ULONG_PTR>(upper));
}

bool CommandLineHasSwitch(SwitchRule rule)
{
    int argc = 0;
    LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    if (argv == nullptr)
        return false;
    UniqueLocalMemory owned(argv);
    return rule(argc, argv, UpperChar);
}
