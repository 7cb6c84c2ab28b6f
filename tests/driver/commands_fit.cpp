// Whether the texts of a program's dialogs fit their controls, in every
// language the program has: each dialog template is created hidden, in its
// own language, and each text is measured with the dialog's own font.
#include "Driver.h"

#include <commctrl.h>

#include <optional>
#include <string>
#include <vector>

#include "TextFormat.h"

namespace {

// The language-tagged templates of one module: dialog id and language.
struct DialogTemplate {
    WORD id;
    LANGID language;
};

struct TemplateSearch {
    std::vector<DialogTemplate> found;
    WORD id;
};

BOOL CALLBACK CollectLanguage(HMODULE, LPCWSTR, LPCWSTR, WORD language, LONG_PTR parameter)
{
    TemplateSearch* search = reinterpret_cast<TemplateSearch*>(parameter);
    search->found.push_back({ search->id, language });
    return TRUE;
}

BOOL CALLBACK CollectDialog(HMODULE module, LPCWSTR type, LPWSTR name, LONG_PTR parameter)
{
    if (!IS_INTRESOURCE(name))
        return TRUE;
    TemplateSearch* search = reinterpret_cast<TemplateSearch*>(parameter);
    search->id = static_cast<WORD>(reinterpret_cast<ULONG_PTR>(name));
    EnumResourceLanguagesW(module, type, name, CollectLanguage, parameter);
    return TRUE;
}

// A string of the module's string table in exactly that language, or none.
bool StringInLanguage(HMODULE module, UINT id, LANGID language, std::wstring& text)
{
    HRSRC found = FindResourceExW(module, RT_STRING, MAKEINTRESOURCEW(id / 16 + 1), language);
    HGLOBAL loaded = found != nullptr ? LoadResource(module, found) : nullptr;
    const WCHAR* entry = loaded != nullptr ? static_cast<const WCHAR*>(LockResource(loaded)) : nullptr;
    if (entry == nullptr)
        return false;
    for (UINT i = 0; i < id % 16; ++i)
        entry += 1 + *entry;
    text.assign(entry + 1, *entry);
    return !text.empty();
}

// The texts that a program sets in one of its dialog's controls at run time:
// "<dialog id>/<control id>=<string id>[,<string id>...]".
struct RuntimeTexts {
    WORD dialog;
    int control;
    std::vector<UINT> strings;
};

bool ParseRuntimeTexts(const std::wstring& argument, RuntimeTexts& texts)
{
    const size_t slash = argument.find(L'/');
    const size_t equals = argument.find(L'=');
    if (slash == std::wstring::npos || equals == std::wstring::npos || equals < slash)
        return false;
    std::optional<uint64_t> dialog = ParseUnsigned(argument.substr(0, slash));
    std::optional<int64_t> control = ParseSigned(argument.substr(slash + 1, equals - slash - 1));
    if (!dialog || !control)
        return false;
    texts.dialog = static_cast<WORD>(*dialog);
    texts.control = static_cast<int>(*control);
    size_t start = equals + 1;
    while (start <= argument.size()) {
        size_t comma = argument.find(L',', start);
        if (comma == std::wstring::npos)
            comma = argument.size();
        std::optional<uint64_t> id = ParseUnsigned(argument.substr(start, comma - start));
        if (!id)
            return false;
        texts.strings.push_back(static_cast<UINT>(*id));
        start = comma + 1;
    }
    return true;
}

// The dialogs exist only to be measured: nothing is handled, no focus set.
INT_PTR CALLBACK HiddenDialogProc(HWND, UINT, WPARAM, LPARAM)
{
    return FALSE;
}

// The room a control gives its text, and how the control lays it out.
struct TextRoom {
    bool measured;  // a control that shows a text of its own
    bool wraps;     // words wrap onto further lines
    UINT prefix;    // DT_NOPREFIX when '&' is shown as it stands
    int width;
    int height;
};

TextRoom RoomOf(HWND control)
{
    RECT client = {};
    GetClientRect(control, &client);
    const int width = client.right - client.left;
    const int height = client.bottom - client.top;
    const LONG style = GetWindowLongW(control, GWL_STYLE);
    const std::wstring className = ClassNameOf(control);
    if (lstrcmpiW(className.c_str(), L"Static") == 0) {
        const LONG type = style & SS_TYPEMASK;
        const UINT prefix = (style & SS_NOPREFIX) ? DT_NOPREFIX : 0;
        if (type == SS_LEFT || type == SS_CENTER || type == SS_RIGHT)
            // A text centred vertically (SS_CENTERIMAGE) stays on one line.
            return { true, (style & SS_CENTERIMAGE) == 0, prefix, width, height };
        if (type == SS_SIMPLE || type == SS_LEFTNOWORDWRAP)
            return { true, false, prefix, width, height };
        return { false, false, 0, 0, 0 };
    }
    if (lstrcmpiW(className.c_str(), L"Button") == 0) {
        const LONG type = style & BS_TYPEMASK;
        const bool wraps = (style & BS_MULTILINE) != 0;
        if (type == BS_PUSHBUTTON || type == BS_DEFPUSHBUTTON) {
            // The face inside the frame (two pixels) and the focus rectangle
            // (one more, and one of space) on each side.
            const int inset = 2 * (GetSystemMetrics(SM_CXEDGE) + 2);
            return { true, wraps, 0, width - inset, height - inset };
        }
        if (type == BS_CHECKBOX || type == BS_AUTOCHECKBOX || type == BS_3STATE || type == BS_AUTO3STATE ||
            type == BS_RADIOBUTTON || type == BS_AUTORADIOBUTTON) {
            // The box, then a gap of a few pixels before the text.
            const int box = GetSystemMetrics(SM_CXMENUCHECK) + 5;
            return { true, wraps, 0, width - box, height };
        }
    }
    return { false, false, 0, 0, 0 };
}

// Measures `text` as `control` lays it out; prints an "over" line and
// returns false when it does not fit.
bool MeasureText(HDC dc, HWND control, const TextRoom& room, const std::wstring& text, LANGID language, WORD dialog)
{
    if (text.empty())
        return true;
    RECT needed = { 0, 0, room.width > 0 ? room.width : 1, 0 };
    const UINT lines = room.wraps ? DT_WORDBREAK : DT_SINGLELINE;
    DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &needed,
              DT_CALCRECT | DT_EXPANDTABS | lines | room.prefix);
    const int neededWidth = needed.right - needed.left;
    const int neededHeight = needed.bottom - needed.top;
    if (neededWidth <= room.width && neededHeight <= room.height)
        return true;
    OutLine(L"over\t" + Hex(language) + L"\t" + UDecimal(dialog) + L"\t" +
            Decimal(GetDlgCtrlID(control)) + L"\t" + Decimal(neededWidth) + L"x" + Decimal(neededHeight) + L"\t" +
            Decimal(room.width) + L"x" + Decimal(room.height) + L"\t" + Escape(text));
    return false;
}

// Every text of one dialog template in one language, and the texts set at
// run time into its controls in the same language: the number measured.
int MeasureDialog(HMODULE module, const DialogTemplate& dialogTemplate, const std::vector<RuntimeTexts>& runtime,
                  const std::wstring& fill)
{
    HRSRC found = FindResourceExW(module, RT_DIALOG, MAKEINTRESOURCEW(dialogTemplate.id), dialogTemplate.language);
    HGLOBAL loaded = found != nullptr ? LoadResource(module, found) : nullptr;
    const BYTE* data = loaded != nullptr ? static_cast<const BYTE*>(LockResource(loaded)) : nullptr;
    if (data == nullptr)
        return -1;
    // A copy without WS_VISIBLE, so that no dialog ever shows: the extended
    // template keeps its style after the version, signature and help id.
    std::vector<BYTE> copy(data, data + SizeofResource(module, found));
    const bool extended = copy.size() >= 16 && copy[2] == 0xFF && copy[3] == 0xFF;
    DWORD* style = reinterpret_cast<DWORD*>(copy.data() + (extended ? 12 : 0));
    *style &= ~static_cast<DWORD>(WS_VISIBLE);
    HWND dialog = CreateDialogIndirectParamW(module, reinterpret_cast<LPCDLGTEMPLATEW>(copy.data()), nullptr,
                                            HiddenDialogProc, 0);
    if (dialog == nullptr)
        return -1;

    HDC dc = GetDC(dialog);
    HGDIOBJ previous = SelectObject(dc, reinterpret_cast<HGDIOBJ>(SendMessageW(dialog, WM_GETFONT, 0, 0)));
    int measured = 0;
    for (HWND control = GetWindow(dialog, GW_CHILD); control != nullptr; control = GetWindow(control, GW_HWNDNEXT)) {
        const TextRoom room = RoomOf(control);
        if (!room.measured)
            continue;
        MeasureText(dc, control, room, TextOf(control), dialogTemplate.language, dialogTemplate.id);
        ++measured;
        for (const RuntimeTexts& texts : runtime) {
            if (texts.dialog != dialogTemplate.id || texts.control != GetDlgCtrlID(control))
                continue;
            for (UINT id : texts.strings) {
                std::wstring pattern;
                if (!StringInLanguage(module, id, dialogTemplate.language, pattern))
                    continue;
                wchar_t text[2048];
                FormatText(text, ARRAYSIZE(text), pattern.c_str(),
                           { fill.c_str(), fill.c_str(), fill.c_str(), fill.c_str() });
                MeasureText(dc, control, room, text, dialogTemplate.language, dialogTemplate.id);
                ++measured;
            }
        }
    }
    SelectObject(dc, previous);
    ReleaseDC(dialog, dc);
    DestroyWindow(dialog);
    return measured;
}

// fit <module> [language id] [<dialog>/<control>=<string id>,...] ... [fill=<text>]
// Creates every dialog template of the module, in every language it has (or
// in the one given), hidden, and measures the text of each static, button
// and check box with the dialog's own font; so too the string-table texts a
// program puts into a control at run time, in the template's language, each
// conversion filled with the fill text ("0" unless given). Prints one line
// per text that does not fit:
//   over <language, 0x...> <dialog> <control id> <needed WxH> <room WxH> <text>
// and one line per template: checked <language> <dialog> <texts measured>.
int RunFit(const std::vector<std::wstring>& args)
{
    if (args.empty())
        return UsageError(L"a program file expected");
    std::optional<uint64_t> onlyLanguage;
    std::vector<RuntimeTexts> runtime;
    std::wstring fill = L"0";
    for (size_t i = 1; i < args.size(); ++i) {
        RuntimeTexts texts;
        if (args[i].compare(0, 5, L"fill=") == 0) {
            fill = args[i].substr(5);
        } else if (ParseRuntimeTexts(args[i], texts)) {
            runtime.push_back(texts);
        } else {
            onlyLanguage = ParseUnsigned(args[i]);
            if (!onlyLanguage)
                return UsageError(L"not a language, dialog text or fill: " + args[i]);
        }
    }
    INITCOMMONCONTROLSEX controls = { sizeof(controls), ICC_LISTVIEW_CLASSES | ICC_STANDARD_CLASSES };
    InitCommonControlsEx(&controls);
    HMODULE module =
        LoadLibraryExW(args[0].c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    if (module == nullptr)
        return Fail(L"cannot load " + args[0] + L": " + LastErrorText());
    TemplateSearch search = {};
    EnumResourceNamesW(module, RT_DIALOG, CollectDialog, reinterpret_cast<LONG_PTR>(&search));
    int result = 0;
    for (const DialogTemplate& dialogTemplate : search.found) {
        if (onlyLanguage && dialogTemplate.language != *onlyLanguage)
            continue;
        const int measured = MeasureDialog(module, dialogTemplate, runtime, fill);
        if (measured < 0) {
            result = Fail(L"cannot create dialog " + UDecimal(dialogTemplate.id) + L" in language " +
                          Hex(dialogTemplate.language) + L": " + LastErrorText());
            continue;
        }
        OutLine(L"checked\t" + Hex(dialogTemplate.language) + L"\t" + UDecimal(dialogTemplate.id) + L"\t" +
                Decimal(measured));
    }
    FreeLibrary(module);
    return result;
}

const CommandRegistrar fitCommand{ L"fit", L"<module> [language] [<dialog>/<control>=<string id>,...] [fill=<text>]",
                                   RunFit };

}  // namespace
