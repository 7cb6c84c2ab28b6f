#include "OpenAsUser.h"

#include <exdisp.h>
#include <shellapi.h>
#include <shldisp.h>
#include <shlobj.h>

#include "Handles.h"
#include "SystemLibrary.h"

namespace {

// COM is loaded only when a program opens something while elevated: the
// monitor, which runs as the user, links this file for its menu's update
// check and must not carry ole32 and oleaut32 through its idle hours.
struct ComFunctions {
    decltype(&CoInitializeEx) CoInitializeEx;
    decltype(&CoUninitialize) CoUninitialize;
    decltype(&CoCreateInstance) CoCreateInstance;
    decltype(&SysAllocString) SysAllocString;
    decltype(&SysFreeString) SysFreeString;
};
ComFunctions Com = {};
bool ComLoaded = false;

// The five functions, or null when a library or any of them is missing.
const ComFunctions* ComLibrary()
{
    if (!ComLoaded) {
        ComLoaded = true;
        HMODULE ole = LoadSystemLibrary(L"ole32.dll");
        FindSystemFunction(ole, "CoInitializeEx", Com.CoInitializeEx);
        FindSystemFunction(ole, "CoUninitialize", Com.CoUninitialize);
        FindSystemFunction(ole, "CoCreateInstance", Com.CoCreateInstance);
        HMODULE automation = LoadSystemLibrary(L"oleaut32.dll");
        FindSystemFunction(automation, "SysAllocString", Com.SysAllocString);
        FindSystemFunction(automation, "SysFreeString", Com.SysFreeString);
    }
    const bool complete = Com.CoInitializeEx != nullptr && Com.CoUninitialize != nullptr &&
                          Com.CoCreateInstance != nullptr && Com.SysAllocString != nullptr &&
                          Com.SysFreeString != nullptr;
    return complete ? &Com : nullptr;
}

void FreeBstr(BSTR text)
{
    Com.SysFreeString(text);
}
using UniqueBstr = UniqueHandle<NullHandleTraits<BSTR, FreeBstr>>;

// Unknown counts as elevated: the safe road.
bool IsProcessElevated()
{
    UniqueKernelHandle token;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.Put()))
        return true;
    TOKEN_ELEVATION elevation = {};
    DWORD size = 0;
    if (!GetTokenInformation(token.Get(), TokenElevation, &elevation, sizeof(elevation), &size))
        return true;
    return elevation.TokenIsElevated != 0;
}

// The desktop's shell, in the user's own unelevated Explorer: its window
// list gives the desktop's browser, whose view's background object leads
// to the shell's automation object.
UniqueInterface<IShellDispatch2> DesktopShell()
{
    UniqueInterface<IShellWindows> windows;
    if (FAILED(Com.CoCreateInstance(CLSID_ShellWindows, nullptr, CLSCTX_LOCAL_SERVER, IID_IShellWindows,
                                    reinterpret_cast<void**>(windows.Put()))))
        return {};
    VARIANT empty = {};  // VT_EMPTY
    long desktopWindow = 0;
    UniqueInterface<IDispatch> desktop;
    if (windows.Get()->FindWindowSW(&empty, &empty, SWC_DESKTOP, &desktopWindow, SWFO_NEEDDISPATCH, desktop.Put()) !=
            S_OK ||
        !desktop)
        return {};

    UniqueInterface<IServiceProvider> services;
    UniqueInterface<IShellBrowser> browser;
    UniqueInterface<IShellView> view;
    UniqueInterface<IDispatch> background;
    UniqueInterface<IShellFolderViewDual> folderView;
    UniqueInterface<IDispatch> application;
    UniqueInterface<IShellDispatch2> shell;
    if (FAILED(desktop.Get()->QueryInterface(IID_IServiceProvider, reinterpret_cast<void**>(services.Put()))) ||
        FAILED(services.Get()->QueryService(SID_STopLevelBrowser, IID_IShellBrowser,
                                            reinterpret_cast<void**>(browser.Put()))) ||
        FAILED(browser.Get()->QueryActiveShellView(view.Put())) ||
        FAILED(
            view.Get()->GetItemObject(SVGIO_BACKGROUND, IID_IDispatch, reinterpret_cast<void**>(background.Put()))) ||
        FAILED(
            background.Get()->QueryInterface(IID_IShellFolderViewDual, reinterpret_cast<void**>(folderView.Put()))) ||
        FAILED(folderView.Get()->get_Application(application.Put())) ||
        FAILED(application.Get()->QueryInterface(IID_IShellDispatch2, reinterpret_cast<void**>(shell.Put()))))
        return {};
    return shell;
}

bool OpenThroughDesktopShell(const wchar_t* file, const wchar_t* parameters)
{
    const ComFunctions* com = ComLibrary();
    if (com == nullptr)
        return false;
    // COM on this thread for the call; a thread that already has it keeps it.
    HRESULT initialised = com->CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
    bool opened = false;
    {
        UniqueInterface<IShellDispatch2> shell = DesktopShell();
        UniqueBstr fileText(com->SysAllocString(file));
        UniqueBstr parameterText(parameters != nullptr ? com->SysAllocString(parameters) : nullptr);
        if (shell && fileText) {
            VARIANT arguments = {}, directory = {}, operation = {}, show = {};  // VT_EMPTY
            if (parameterText) {
                arguments.vt = VT_BSTR;
                arguments.bstrVal = parameterText.Get();
            }
            show.vt = VT_I4;
            show.lVal = SW_SHOWNORMAL;
            opened = SUCCEEDED(shell.Get()->ShellExecute(fileText.Get(), arguments, directory, operation, show));
        }
    }
    if (SUCCEEDED(initialised))
        com->CoUninitialize();
    return opened;
}

}  // namespace

bool OpenAsUser(HWND owner, const wchar_t* file, const wchar_t* parameters)
{
    if (IsProcessElevated())
        return OpenThroughDesktopShell(file, parameters);
    SHELLEXECUTEINFOW info = {};
    info.cbSize = sizeof(info);
    info.fMask = SEE_MASK_NOASYNC;
    info.hwnd = owner;
    info.lpFile = file;
    info.lpParameters = parameters;
    info.nShow = SW_SHOWNORMAL;
    return ShellExecuteExW(&info) != FALSE;
}
