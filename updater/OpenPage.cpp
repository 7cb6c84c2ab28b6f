// Opening the download page in the user's browser, never elevated.
//
// The updater runs as its caller does. Started by the elevated
// configuration program, it holds an elevated token, and a browser started
// from here would run elevated too, along with whatever it then downloads.
// So an elevated updater asks the desktop's shell, which runs with the
// user's normal token, to open the page: the desktop's shell view gives the
// shell's automation object (IShellDispatch2), whose ShellExecute runs in
// the shell's process. Only an updater that is not elevated opens the page
// itself.
#include <windows.h>
#include <exdisp.h>
#include <servprov.h>
#include <shellapi.h>
#include <shldisp.h>
#include <shlguid.h>
#include <shlobj.h>

#include "Handles.h"
#include "Updater.h"

namespace {

// Owners for the COM interfaces and strings of the walk to the shell.
void ReleaseInterface(IUnknown* object)
{
    object->Release();
}

template <typename Interface>
using ComPointer = UniqueHandle<NullHandleTraits<Interface*, ReleaseInterface>>;
using UniqueBstr = UniqueHandle<NullHandleTraits<BSTR, SysFreeString>>;

bool IsElevated()
{
    UniqueKernelHandle token;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.Put()))
        return true;  // unknown: take the safe road
    TOKEN_ELEVATION elevation = {};
    DWORD size = 0;
    if (!GetTokenInformation(token.Get(), TokenElevation, &elevation, sizeof(elevation), &size))
        return true;
    return elevation.TokenIsElevated != 0;
}

// The automation object of the shell that shows the desktop.
ComPointer<IShellDispatch2> DesktopShell()
{
    ComPointer<IShellWindows> windows;
    if (FAILED(CoCreateInstance(CLSID_ShellWindows, nullptr, CLSCTX_LOCAL_SERVER, IID_IShellWindows,
                                reinterpret_cast<void**>(windows.Put()))))
        return {};
    VARIANT desktopLocation;
    VariantInit(&desktopLocation);
    desktopLocation.vt = VT_I4;
    desktopLocation.lVal = CSIDL_DESKTOP;
    VARIANT noRoot;
    VariantInit(&noRoot);
    long desktopWindow = 0;
    ComPointer<IDispatch> desktop;
    if (windows.Get()->FindWindowSW(&desktopLocation, &noRoot, SWC_DESKTOP, &desktopWindow, SWFO_NEEDDISPATCH,
                                    desktop.Put()) != S_OK ||
        !desktop)
        return {};

    ComPointer<IServiceProvider> services;
    ComPointer<IShellBrowser> browser;
    ComPointer<IShellView> view;
    ComPointer<IDispatch> background;
    ComPointer<IShellFolderViewDual> folderView;
    ComPointer<IDispatch> application;
    ComPointer<IShellDispatch2> shell;
    if (FAILED(desktop.Get()->QueryInterface(IID_IServiceProvider, reinterpret_cast<void**>(services.Put()))) ||
        FAILED(services.Get()->QueryService(SID_STopLevelBrowser, IID_IShellBrowser,
                                            reinterpret_cast<void**>(browser.Put()))) ||
        FAILED(browser.Get()->QueryActiveShellView(view.Put())) || !view ||
        FAILED(
            view.Get()->GetItemObject(SVGIO_BACKGROUND, IID_IDispatch, reinterpret_cast<void**>(background.Put()))) ||
        !background ||
        FAILED(
            background.Get()->QueryInterface(IID_IShellFolderViewDual, reinterpret_cast<void**>(folderView.Put()))) ||
        FAILED(folderView.Get()->get_Application(application.Put())) || !application ||
        FAILED(application.Get()->QueryInterface(IID_IShellDispatch2, reinterpret_cast<void**>(shell.Put()))))
        return {};
    return shell;
}

bool OpenThroughDesktop(const std::wstring& address)
{
    ComPointer<IShellDispatch2> shell = DesktopShell();
    UniqueBstr file(SysAllocString(address.c_str()));
    if (!shell || !file)
        return false;
    // File, then arguments, folder and verb (none: the default), and the
    // window's show state.
    VARIANT none;
    VariantInit(&none);
    VARIANT show;
    VariantInit(&show);
    show.vt = VT_I4;
    show.lVal = SW_SHOWNORMAL;
    return SUCCEEDED(shell.Get()->ShellExecute(file.Get(), none, none, none, show));
}

bool OpenHere(HWND owner, const std::wstring& address)
{
    SHELLEXECUTEINFOW info = {};
    info.cbSize = sizeof(info);
    info.fMask = SEE_MASK_NOASYNC | SEE_MASK_FLAG_NO_UI;
    info.hwnd = owner;
    info.lpFile = address.c_str();
    info.nShow = SW_SHOWNORMAL;
    return ShellExecuteExW(&info) != FALSE;
}

}  // namespace

bool OpenDownloadPage(HWND owner, const std::wstring& address)
{
    if (!IsWebAddress(address))
        return false;
    if (IsElevated())
        return OpenThroughDesktop(address);
    return OpenHere(owner, address);
}
