// The About box: description, version and copyright from the program's own
// version block, and three links (support mail, updater, web page).
#include <windows.h>
#include <shellapi.h>

#include <optional>
#include <string>

#include "BrimSet.h"
#include "ConfigLogic.h"
#include "Handles.h"
#include "OpenAsUser.h"
#include "Version.h"
#include "VersionInfo.h"
#include "resource.h"

#ifndef WM_DPICHANGED
#define WM_DPICHANGED 0x02E0
#endif

namespace {

static_assert(STATIC_NOTIFY_STYLE == SS_NOTIFY && SS_LEFT == 0 && SS_CENTER == 1 && SS_RIGHT == 2,
              "the link rule's style bits are the static control's");

// The module whose version block the box shows (its creation parameter).
HMODULE AboutModule = nullptr;

// Underlined font of the links: made at the first coloured paint of a link,
// deleted when the box goes away or the DPI changes.
UniqueFont LinkFont;

BOOL OnInitDialog(HWND dialog, LPARAM parameter)
{
    AboutModule = reinterpret_cast<HMODULE>(parameter);
    LinkFont.Reset();
    SetDlgItemTextW(dialog, IDC_FILEDESCRIPTION, ReadVersionString(AboutModule, VS_FILE_DESCRIPTION).c_str());
    std::optional<VS_FIXEDFILEINFO> fixed = ReadFixedFileInfo(AboutModule);
    if (fixed)
        SetDlgItemTextW(dialog, IDC_FILEVERSION, FormatFileVersion(*fixed).c_str());
    SetDlgItemTextW(dialog, IDC_COPYRIGHT, ReadVersionString(AboutModule, VS_LEGAL_COPYRIGHT).c_str());
    return TRUE;
}

void OnEmailLink(HWND dialog)
{
    std::optional<VS_FIXEDFILEINFO> fixed = ReadFixedFileInfo(AboutModule);
    if (!fixed)
        return;
    std::wstring name = ReadVersionString(AboutModule, VS_INTERNAL_NAME);
    wchar_t url[SUPPORT_MAIL_URL_CAPACITY];
    FormatSupportMailUrl(url, SUPPORT_MAIL_URL_CAPACITY, BRIM_SUPPORT_EMAIL, name.c_str(), fixed->dwFileVersionMS,
                         fixed->dwFileVersionLS);
    OpenAsUser(dialog, url);
}

void OnLink(HWND dialog, WORD id)
{
    switch (id) {
    case IDC_EMAILLINK: OnEmailLink(dialog); break;
    case IDC_WEBLINK: OpenAsUser(dialog, BRIM_WEB_SITE_URL); break;
    case IDC_UPDATELINK: LaunchUpdater(dialog, AboutModule, UPDATE_ORIGIN_USER); break;
    }
    InvalidateRect(GetDlgItem(dialog, id), nullptr, TRUE);
}

INT_PTR OnCommand(HWND dialog, WORD id, WORD code)
{
    switch (id) {
    case IDOK:
    case IDCANCEL: EndDialog(dialog, id); return TRUE;
    case IDC_EMAILLINK:
    case IDC_WEBLINK:
    case IDC_UPDATELINK:
        // Only a single click: the second click of a double click arrives
        // as STN_DBLCLK and is ignored.
        if (code != STN_CLICKED)
            return FALSE;
        OnLink(dialog, id);
        return TRUE;
    default: return FALSE;
    }
}

INT_PTR OnCtlColorStatic(HDC dc, HWND control)
{
    if (!IsLinkStaticStyle(static_cast<uint32_t>(GetWindowLongW(control, GWL_STYLE))))
        return FALSE;
    if (!LinkFont) {
        HFONT font = reinterpret_cast<HFONT>(SendMessageW(control, WM_GETFONT, 0, 0));
        LOGFONTW description = {};
        if (font != nullptr && GetObjectW(font, sizeof(description), &description) == sizeof(description)) {
            description.lfUnderline = TRUE;
            LinkFont.Reset(CreateFontIndirectW(&description));
        }
    }
    if (LinkFont)
        SelectObject(dc, LinkFont.Get());
    SetTextColor(dc, RGB(0, 0, 255));
    SetBkMode(dc, TRANSPARENT);
    return reinterpret_cast<INT_PTR>(GetStockObject(NULL_BRUSH));
}

}  // namespace

INT_PTR CALLBACK AboutDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_INITDIALOG: return OnInitDialog(dialog, lParam);
    case WM_COMMAND: return OnCommand(dialog, LOWORD(wParam), HIWORD(wParam));
    case WM_CTLCOLORSTATIC: return OnCtlColorStatic(reinterpret_cast<HDC>(wParam), reinterpret_cast<HWND>(lParam));
    case WM_DESTROY:
    case WM_DPICHANGED: LinkFont.Reset(); return FALSE;
    default: return FALSE;
    }
}

void ShowAboutBox(HWND owner)
{
    DialogBoxParamW(ModuleInstance, MAKEINTRESOURCEW(IDD_ABOUTBOX), owner, AboutDialogProc,
                    reinterpret_cast<LPARAM>(ModuleInstance));
}
