// demo: a small window with one control of each kind the other commands
// work on, so that the driver can be tested without the real programs.
//
// Controls: 1001 list view (check boxes, single selection, columns "Drive"
// and "Size", rows "C:" "D:" "E:", row 1 checked), 1002 edit "initial",
// 1003 button "Ask" (opens a Yes/No message box "Demo question?\nSecond
// line" owned by the window), 1004 check box "Option", 1005 static with the
// events seen so far joined by ';', 1006 disabled button "Disabled".
// Events: "dblclk <row>" (NM_DBLCLK), "check <row> <image>" (a check image
// changed), "option <0|1>" (1004 clicked), "answer <id>" (message box).
#include "Driver.h"

#include <commctrl.h>

namespace {

const wchar_t DEMO_CLASS[] = L"BrimDriverDemo";
const int IDC_DEMO_LIST = 1001;
const int IDC_DEMO_EDIT = 1002;
const int IDC_DEMO_ASK = 1003;
const int IDC_DEMO_OPTION = 1004;
const int IDC_DEMO_EVENTS = 1005;
const int IDC_DEMO_DISABLED = 1006;

std::wstring DemoEvents;

void AddEvent(HWND window, const std::wstring& event)
{
    DemoEvents += (DemoEvents.empty() ? L"" : L";") + event;
    SetDlgItemTextW(window, IDC_DEMO_EVENTS, DemoEvents.c_str());
}

HWND AddControl(HWND parent, const wchar_t* className, const wchar_t* text, DWORD style, int id, int x, int y,
                int width, int height)
{
    return CreateWindowExW(0, className, text, WS_CHILD | WS_VISIBLE | style, x, y, width, height, parent,
                           reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), GetModuleHandleW(nullptr), nullptr);
}

void FillDemoList(HWND list)
{
    ListView_SetExtendedListViewStyleEx(list, LVS_EX_CHECKBOXES | LVS_EX_FULLROWSELECT,
                                        LVS_EX_CHECKBOXES | LVS_EX_FULLROWSELECT);
    LVCOLUMNW column = {};
    column.mask = LVCF_FMT | LVCF_WIDTH | LVCF_TEXT;
    column.fmt = LVCFMT_LEFT;
    column.cx = 120;
    column.pszText = const_cast<wchar_t*>(L"Drive");
    ListView_InsertColumn(list, 0, &column);
    column.fmt = LVCFMT_RIGHT;
    column.cx = 90;
    column.pszText = const_cast<wchar_t*>(L"Size");
    ListView_InsertColumn(list, 1, &column);

    const wchar_t* const names[] = { L"C:", L"D:", L"E:" };
    const wchar_t* const sizes[] = { L"1 GB", L"16.0 MB", L"" };
    for (int row = 0; row < 3; ++row) {
        LVITEMW item = {};
        item.mask = LVIF_TEXT;
        item.iItem = row;
        item.pszText = const_cast<wchar_t*>(names[row]);
        ListView_InsertItem(list, &item);
        ListView_SetItemText(list, row, 1, const_cast<wchar_t*>(sizes[row]));
        ListView_SetCheckState(list, row, row == 1);
    }
}

void OnDemoCreate(HWND window)
{
    HWND list = AddControl(window, WC_LISTVIEWW, L"", LVS_REPORT | LVS_SINGLESEL | LVS_SHOWSELALWAYS | WS_BORDER,
                           IDC_DEMO_LIST, 10, 10, 260, 120);
    FillDemoList(list);
    AddControl(window, L"Edit", L"initial", WS_BORDER | ES_AUTOHSCROLL, IDC_DEMO_EDIT, 10, 140, 160, 22);
    AddControl(window, L"Button", L"Ask", BS_PUSHBUTTON, IDC_DEMO_ASK, 280, 10, 90, 24);
    AddControl(window, L"Button", L"Option", BS_AUTOCHECKBOX, IDC_DEMO_OPTION, 280, 40, 90, 20);
    AddControl(window, L"Static", L"", SS_LEFT, IDC_DEMO_EVENTS, 10, 170, 360, 40);
    HWND disabled = AddControl(window, L"Button", L"Disabled", BS_PUSHBUTTON, IDC_DEMO_DISABLED, 280, 70, 90, 24);
    EnableWindow(disabled, FALSE);
    // Events of the set-up are not the user's.
    DemoEvents.clear();
    SetDlgItemTextW(window, IDC_DEMO_EVENTS, L"");
}

void OnDemoCommand(HWND window, int id, int code)
{
    if (id == IDC_DEMO_ASK && code == BN_CLICKED) {
        int answer =
            MessageBoxW(window, L"Demo question?\nSecond line", L"BrimDriver demo", MB_YESNO | MB_ICONQUESTION);
        AddEvent(window, L"answer " + Decimal(answer));
    } else if (id == IDC_DEMO_OPTION && code == BN_CLICKED) {
        AddEvent(window, L"option " + Decimal(IsDlgButtonChecked(window, IDC_DEMO_OPTION)));
    }
}

LRESULT OnDemoNotify(HWND window, const NMHDR* header)
{
    if (header->idFrom != IDC_DEMO_LIST)
        return 0;
    if (header->code == NM_DBLCLK) {
        AddEvent(window, L"dblclk " + Decimal(reinterpret_cast<const NMITEMACTIVATE*>(header)->iItem));
    } else if (header->code == LVN_ITEMCHANGED) {
        const NMLISTVIEW* change = reinterpret_cast<const NMLISTVIEW*>(header);
        if ((change->uChanged & LVIF_STATE) && ((change->uNewState ^ change->uOldState) & LVIS_STATEIMAGEMASK) &&
            (change->uOldState & LVIS_STATEIMAGEMASK) != 0)
            AddEvent(window, L"check " + Decimal(change->iItem) + L" " +
                                 UDecimal((change->uNewState & LVIS_STATEIMAGEMASK) >> 12));
    }
    return 0;
}

LRESULT CALLBACK DemoWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_CREATE: OnDemoCreate(window); return 0;
    case WM_COMMAND: OnDemoCommand(window, LOWORD(wParam), HIWORD(wParam)); return 0;
    case WM_NOTIFY: return OnDemoNotify(window, reinterpret_cast<const NMHDR*>(lParam));
    case WM_DESTROY: PostQuitMessage(0); return 0;
    default: return DefWindowProcW(window, message, wParam, lParam);
    }
}

int RunDemo(const std::vector<std::wstring>& args)
{
    if (!args.empty())
        return UsageError(L"no arguments expected");
    INITCOMMONCONTROLSEX controls = { sizeof(controls), ICC_LISTVIEW_CLASSES | ICC_STANDARD_CLASSES };
    InitCommonControlsEx(&controls);
    HWND window = CreateDriverWindow(DEMO_CLASS, DemoWndProc, 0, L"BrimDriver demo", WS_OVERLAPPEDWINDOW, 40, 40, 400,
                                     260, reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1));
    if (window == nullptr)
        return 1;
    ShowWindow(window, SW_SHOW);
    UpdateWindow(window);
    OutLine(L"ready " + WindowText(window));
    return RunDriverMessageLoop();
}

const CommandRegistrar demoCommand{ L"demo", L"", RunDemo };

}  // namespace
