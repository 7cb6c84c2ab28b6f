// List views in another process. Their messages carry pointers, which the
// system does not carry across processes: every structure is placed in the
// target's memory (VirtualAllocEx), and results are read back from there
// (ReadProcessMemory).
#include "Driver.h"

#include <commctrl.h>

namespace {

const DWORD SEND_TIMEOUT = 5000;
const int TEXT_CAPACITY = 1024;

// One block of memory in another process, freed with the object.
class RemoteBuffer {
public:
    RemoteBuffer(HANDLE process, size_t size) : process_(process), size_(size)
    {
        address_ = VirtualAllocEx(process, nullptr, size, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
    }
    ~RemoteBuffer()
    {
        if (address_ != nullptr)
            VirtualFreeEx(process_, address_, 0, MEM_RELEASE);
    }
    RemoteBuffer(const RemoteBuffer&) = delete;
    RemoteBuffer& operator=(const RemoteBuffer&) = delete;

    explicit operator bool() const { return address_ != nullptr; }
    char* At(size_t offset) const { return static_cast<char*>(address_) + offset; }
    bool Write(size_t offset, const void* data, size_t size) const
    {
        SIZE_T written = 0;
        return offset + size <= size_ && WriteProcessMemory(process_, At(offset), data, size, &written) &&
               written == size;
    }
    bool Read(size_t offset, void* data, size_t size) const
    {
        SIZE_T read = 0;
        return offset + size <= size_ && ReadProcessMemory(process_, At(offset), data, size, &read) && read == size;
    }

private:
    HANDLE process_;
    size_t size_;
    void* address_ = nullptr;
};

// The list view, its process and a scratch block there.
struct Target {
    HWND list = nullptr;
    HANDLE process = nullptr;
    ~Target()
    {
        if (process != nullptr)
            CloseHandle(process);
    }
};

bool OpenTarget(const std::vector<std::wstring>& args, Target& target)
{
    std::optional<HWND> window = ParseWindow(args[0]);
    if (!window) {
        UsageError(L"bad window: " + args[0]);
        return false;
    }
    target.list = ControlOf(*window, args[1]);
    if (target.list == nullptr)
        return false;
    DWORD pid = 0;
    GetWindowThreadProcessId(target.list, &pid);
    target.process = OpenProcess(
        PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
    if (target.process == nullptr) {
        Fail(L"cannot open process " + UDecimal(pid) + L": " + LastErrorText());
        return false;
    }
    BOOL ourWow64 = FALSE, theirWow64 = FALSE;
    IsWow64Process(GetCurrentProcess(), &ourWow64);
    IsWow64Process(target.process, &theirWow64);
    if (ourWow64 != theirWow64) {
        Fail(L"the list view lives in a process of another bitness; its structures differ from ours");
        return false;
    }
    return true;
}

bool Send(HWND window, UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result)
{
    DWORD_PTR answer = 0;
    if (!SendMessageTimeoutW(window, message, wParam, lParam, SMTO_NORMAL, SEND_TIMEOUT, &answer)) {
        Fail(L"no answer to message " + UDecimal(message) + L": " + LastErrorText());
        return false;
    }
    result = static_cast<LRESULT>(answer);
    return true;
}

int ColumnCount(HWND list)
{
    LRESULT header = 0, count = 0;
    if (!Send(list, LVM_GETHEADER, 0, 0, header) || header == 0)
        return 1;
    if (!Send(reinterpret_cast<HWND>(header), HDM_GETITEMCOUNT, 0, 0, count) || count <= 0)
        return 1;
    return static_cast<int>(count);
}

std::optional<int> ParseRow(const std::wstring& text)
{
    std::optional<int64_t> row = ParseSigned(text);
    if (!row || *row < -1 || *row > INT32_MAX)
        return std::nullopt;
    return static_cast<int>(*row);
}

// Reads one cell's text through the remote item and text buffer.
bool CellText(const Target& target, const RemoteBuffer& remote, int row, int column, std::wstring& text)
{
    LVITEMW item = {};
    item.iSubItem = column;
    item.pszText = reinterpret_cast<wchar_t*>(remote.At(sizeof(LVITEMW)));
    item.cchTextMax = TEXT_CAPACITY;
    wchar_t empty = L'\0';
    if (!remote.Write(0, &item, sizeof(item)) || !remote.Write(sizeof(LVITEMW), &empty, sizeof(empty))) {
        Fail(L"WriteProcessMemory failed: " + LastErrorText());
        return false;
    }
    LRESULT length = 0;
    if (!Send(target.list, LVM_GETITEMTEXTW, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(remote.At(0)), length))
        return false;
    std::vector<wchar_t> buffer(TEXT_CAPACITY + 1, L'\0');
    if (!remote.Read(sizeof(LVITEMW), buffer.data(), TEXT_CAPACITY * sizeof(wchar_t))) {
        Fail(L"ReadProcessMemory failed: " + LastErrorText());
        return false;
    }
    text = std::wstring(buffer.data());
    return true;
}

// listview <hwnd> <id|self>: one line per row:
// "<row>\t<state image>\t<selected 0|1>\t<cell 0>\t<cell 1>...", cells
// escaped. The state image is 1 for an unchecked and 2 for a checked box,
// 0 when the row has none.
int RunListView(const std::vector<std::wstring>& args)
{
    if (args.size() != 2)
        return UsageError(L"a window and a control id expected");
    Target target;
    if (!OpenTarget(args, target))
        return 1;
    LRESULT rows = 0;
    if (!Send(target.list, LVM_GETITEMCOUNT, 0, 0, rows))
        return 1;
    int columns = ColumnCount(target.list);
    RemoteBuffer remote(target.process, sizeof(LVITEMW) + (TEXT_CAPACITY + 1) * sizeof(wchar_t));
    if (!remote)
        return Fail(L"VirtualAllocEx failed: " + LastErrorText());

    for (int row = 0; row < rows; ++row) {
        LVITEMW item = {};
        item.mask = LVIF_STATE;
        item.iItem = row;
        item.stateMask = LVIS_STATEIMAGEMASK | LVIS_SELECTED | LVIS_FOCUSED;
        LRESULT ok = 0;
        if (!remote.Write(0, &item, sizeof(item)) ||
            !Send(target.list, LVM_GETITEMW, 0, reinterpret_cast<LPARAM>(remote.At(0)), ok) ||
            !remote.Read(0, &item, sizeof(item)))
            return Fail(L"cannot read row " + Decimal(row));
        if (!ok)
            return Fail(L"LVM_GETITEMW failed for row " + Decimal(row));
        std::wstring line = Decimal(row) + L"\t" + UDecimal((item.state & LVIS_STATEIMAGEMASK) >> 12) + L"\t" +
                            ((item.state & LVIS_SELECTED) ? L"1" : L"0");
        for (int column = 0; column < columns; ++column) {
            std::wstring text;
            if (!CellText(target, remote, row, column, text))
                return 1;
            line += L"\t" + Escape(text);
        }
        OutLine(line);
    }
    return 0;
}

// lvcolumns <hwnd> <id|self>: "<index>\t<width px>\t<left|right|center>\t<header>".
int RunListViewColumns(const std::vector<std::wstring>& args)
{
    if (args.size() != 2)
        return UsageError(L"a window and a control id expected");
    Target target;
    if (!OpenTarget(args, target))
        return 1;
    int columns = ColumnCount(target.list);
    RemoteBuffer remote(target.process, sizeof(LVCOLUMNW) + (TEXT_CAPACITY + 1) * sizeof(wchar_t));
    if (!remote)
        return Fail(L"VirtualAllocEx failed: " + LastErrorText());
    for (int index = 0; index < columns; ++index) {
        LVCOLUMNW column = {};
        column.mask = LVCF_FMT | LVCF_WIDTH | LVCF_TEXT;
        column.pszText = reinterpret_cast<wchar_t*>(remote.At(sizeof(LVCOLUMNW)));
        column.cchTextMax = TEXT_CAPACITY;
        wchar_t empty = L'\0';
        LRESULT ok = 0;
        if (!remote.Write(0, &column, sizeof(column)) || !remote.Write(sizeof(LVCOLUMNW), &empty, sizeof(empty)) ||
            !Send(target.list, LVM_GETCOLUMNW, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(remote.At(0)),
                  ok) ||
            !remote.Read(0, &column, sizeof(column)))
            return Fail(L"cannot read column " + Decimal(index));
        if (!ok)
            return Fail(L"LVM_GETCOLUMNW failed for column " + Decimal(index));
        std::vector<wchar_t> text(TEXT_CAPACITY + 1, L'\0');
        remote.Read(sizeof(LVCOLUMNW), text.data(), TEXT_CAPACITY * sizeof(wchar_t));
        int format = column.fmt & LVCFMT_JUSTIFYMASK;
        const wchar_t* alignment = format == LVCFMT_RIGHT ? L"right" : format == LVCFMT_CENTER ? L"center" : L"left";
        OutLine(Decimal(index) + L"\t" + Decimal(column.cx) + L"\t" + alignment + L"\t" + Escape(text.data()));
    }
    return 0;
}

// Sets state bits of one row (or of all rows for row -1) with
// LVM_SETITEMSTATE, exactly once: the owner sees one LVN_ITEMCHANGED per
// row that changes.
int SetRowState(const std::vector<std::wstring>& args, UINT mask, UINT state, int row)
{
    Target target;
    if (!OpenTarget(args, target))
        return 1;
    RemoteBuffer remote(target.process, sizeof(LVITEMW));
    if (!remote)
        return Fail(L"VirtualAllocEx failed: " + LastErrorText());
    LVITEMW item = {};
    item.stateMask = mask;
    item.state = state;
    LRESULT ok = 0;
    if (!remote.Write(0, &item, sizeof(item)) ||
        !Send(target.list, LVM_SETITEMSTATE, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(remote.At(0)), ok))
        return Fail(L"cannot set the state of row " + Decimal(row));
    if (!ok)
        return Fail(L"LVM_SETITEMSTATE failed for row " + Decimal(row));
    OutLine(L"done");
    return 0;
}

// lvcheck <hwnd> <id|self> <row> <0|1>: sets the row's check box (state
// image 1 or 2).
int RunListViewCheck(const std::vector<std::wstring>& args)
{
    if (args.size() != 4 || (args[3] != L"0" && args[3] != L"1"))
        return UsageError(L"a window, a control id, a row and 0 or 1 expected");
    std::optional<int> row = ParseRow(args[2]);
    if (!row)
        return UsageError(L"bad row: " + args[2]);
    return SetRowState(args, LVIS_STATEIMAGEMASK, INDEXTOSTATEIMAGEMASK(args[3] == L"1" ? 2 : 1), *row);
}

// lvselect <hwnd> <id|self> <row>: selects and focuses the row; row -1
// clears the selection and focus of every row.
int RunListViewSelect(const std::vector<std::wstring>& args)
{
    if (args.size() != 3)
        return UsageError(L"a window, a control id and a row expected");
    std::optional<int> row = ParseRow(args[2]);
    if (!row)
        return UsageError(L"bad row: " + args[2]);
    UINT mask = LVIS_SELECTED | LVIS_FOCUSED;
    return SetRowState(args, mask, *row == -1 ? 0 : mask, *row);
}

// The client point at the middle of a row's label, or just below the last
// row for row -1 (a click on no item).
bool RowPoint(const Target& target, int row, POINT& point)
{
    LRESULT rows = 0;
    if (!Send(target.list, LVM_GETITEMCOUNT, 0, 0, rows))
        return false;
    RemoteBuffer remote(target.process, sizeof(RECT));
    if (!remote) {
        Fail(L"VirtualAllocEx failed: " + LastErrorText());
        return false;
    }
    RECT client;
    GetClientRect(target.list, &client);
    if (row >= 0 || rows > 0) {
        int asked = row >= 0 ? row : static_cast<int>(rows) - 1;
        RECT rect = {};
        rect.left = LVIR_LABEL;
        LRESULT ok = 0;
        if (!remote.Write(0, &rect, sizeof(rect)) ||
            !Send(target.list, LVM_GETITEMRECT, static_cast<WPARAM>(asked), reinterpret_cast<LPARAM>(remote.At(0)),
                  ok) ||
            !remote.Read(0, &rect, sizeof(rect)) || !ok) {
            Fail(L"no rectangle for row " + Decimal(asked));
            return false;
        }
        point.x = (rect.left + rect.right) / 2;
        point.y = row >= 0 ? (rect.top + rect.bottom) / 2 : rect.bottom + 4;
    } else {
        LRESULT header = 0;
        RECT headerRect = {};
        if (Send(target.list, LVM_GETHEADER, 0, 0, header) && header != 0)
            GetWindowRect(reinterpret_cast<HWND>(header), &headerRect);
        point.x = 10;
        point.y = (headerRect.bottom - headerRect.top) + 4;
    }
    if (!PtInRect(&client, point)) {
        Fail(L"the point " + Decimal(point.x) + L"," + Decimal(point.y) + L" is outside the list");
        return false;
    }
    return true;
}

// lvdblclick <hwnd> <id|self> <row|-1>: a left double click, posted as the
// mouse would deliver it (down, up, double click, up) at the middle of the
// row. Row -1 posts only the double click, below the last row, so that the
// selection stays as it is. The list itself sends NM_DBLCLK to its parent.
int RunListViewDoubleClick(const std::vector<std::wstring>& args)
{
    if (args.size() != 3)
        return UsageError(L"a window, a control id and a row expected");
    std::optional<int> row = ParseRow(args[2]);
    if (!row)
        return UsageError(L"bad row: " + args[2]);
    Target target;
    if (!OpenTarget(args, target))
        return 1;
    POINT point;
    if (!RowPoint(target, *row, point))
        return 1;
    LPARAM at = MAKELPARAM(point.x, point.y);
    bool ok = true;
    if (*row >= 0) {
        ok = ok && PostMessageW(target.list, WM_LBUTTONDOWN, MK_LBUTTON, at);
        ok = ok && PostMessageW(target.list, WM_LBUTTONUP, 0, at);
    }
    ok = ok && PostMessageW(target.list, WM_LBUTTONDBLCLK, MK_LBUTTON, at);
    ok = ok && PostMessageW(target.list, WM_LBUTTONUP, 0, at);
    if (!ok)
        return Fail(L"PostMessageW failed: " + LastErrorText());
    // Let the list work through the clicks before the caller looks.
    DWORD_PTR ignored = 0;
    SendMessageTimeoutW(target.list, WM_NULL, 0, 0, SMTO_NORMAL, SEND_TIMEOUT, &ignored);
    OutLine(L"posted");
    return 0;
}

const CommandRegistrar listViewCommand{ L"listview", L"<hwnd> <id|self>", RunListView };
const CommandRegistrar listViewColumnsCommand{ L"lvcolumns", L"<hwnd> <id|self>", RunListViewColumns };
const CommandRegistrar listViewCheckCommand{ L"lvcheck", L"<hwnd> <id|self> <row> <0|1>", RunListViewCheck };
const CommandRegistrar listViewSelectCommand{ L"lvselect", L"<hwnd> <id|self> <row|-1>", RunListViewSelect };
const CommandRegistrar listViewDoubleClickCommand{ L"lvdblclick", L"<hwnd> <id|self> <row|-1>",
                                                   RunListViewDoubleClick };

}  // namespace
