// The bounded formatter over arbitrary templates, arguments and buffer
// sizes. Its arguments carry outside text (file names, sizes, version
// strings), and a template from a damaged string table can be anything.
//
// Input: the capacity (2 bytes), the argument count and kinds (1 byte), per
// argument a value (8 bytes) or a string (length byte and code units), then
// the template as UTF-16 code units.
#include <cstring>
#include <memory>
#include <string>

#include "FuzzInput.h"
#include "TextFormat.h"

namespace {

struct Argument {
    FormatArg::Kind kind;
    std::wstring text;  // for STRING
    uint64_t value;
};

size_t Format(wchar_t* out, size_t capacity, const wchar_t* tmpl, const std::vector<Argument>& args)
{
    std::vector<FormatArg> list;
    for (const Argument& a : args) {
        switch (a.kind) {
        case FormatArg::CHAR: list.emplace_back(static_cast<wchar_t>(a.value & 0xFFFF ? a.value & 0xFFFF : 'c')); break;
        case FormatArg::STRING: list.emplace_back(a.text.c_str()); break;
        case FormatArg::UNSIGNED: list.emplace_back(static_cast<uint64_t>(a.value)); break;
        case FormatArg::SIGNED: list.emplace_back(static_cast<int64_t>(a.value)); break;
        }
    }
    switch (list.size()) {
    case 0: return FormatText(out, capacity, tmpl, {});
    case 1: return FormatText(out, capacity, tmpl, { list[0] });
    case 2: return FormatText(out, capacity, tmpl, { list[0], list[1] });
    default: return FormatText(out, capacity, tmpl, { list[0], list[1], list[2] });
    }
}

// What a conversion prints for an argument, spelled out independently.
std::wstring Printed(const Argument& a)
{
    switch (a.kind) {
    case FormatArg::CHAR: return std::wstring(1, static_cast<wchar_t>(a.value & 0xFFFF ? a.value & 0xFFFF : 'c'));
    case FormatArg::STRING: return a.text;
    case FormatArg::UNSIGNED: return std::to_wstring(static_cast<unsigned long long>(a.value));
    default: return std::to_wstring(static_cast<long long>(static_cast<int64_t>(a.value)));
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzInput in(data, size);
    const size_t capacity = in.Integer<uint16_t>() % 600;
    const uint8_t kinds = in.Byte();
    std::vector<Argument> args;
    for (int k = 0; k < (kinds & 3) && k < 3; ++k) {
        Argument a = { static_cast<FormatArg::Kind>((kinds >> (2 + 2 * k)) & 3), std::wstring(), 0 };
        if (a.kind == FormatArg::STRING)
            a.text = in.WideString(in.Byte(), L' ');
        else
            a.value = in.Integer<uint64_t>();
        args.push_back(a);
    }
    const std::wstring tmpl = in.WideString(1024, L'%');

    // The room any result can need: every template character once and every
    // argument once.
    size_t room = tmpl.size() + 1;
    for (const Argument& a : args)
        room += Printed(a).size();

    std::unique_ptr<wchar_t[]> whole(new wchar_t[room]);
    const size_t full = Format(whole.get(), room, tmpl.c_str(), args);
    FUZZ_CHECK(full < room);
    FUZZ_CHECK(whole[full] == L'\0');
    FUZZ_CHECK(std::wcslen(whole.get()) == full);

    // A buffer of exactly `capacity` characters: never written past, always
    // terminated, and holding the leading part of the whole result.
    if (capacity == 0) {
        FUZZ_CHECK(Format(nullptr, 0, tmpl.c_str(), args) == 0);
    } else {
        std::unique_ptr<wchar_t[]> out(new wchar_t[capacity]);
        const size_t written = Format(out.get(), capacity, tmpl.c_str(), args);
        FUZZ_CHECK(written == (full < capacity - 1 ? full : capacity - 1));
        FUZZ_CHECK(out[written] == L'\0');
        FUZZ_CHECK(std::wmemcmp(out.get(), whole.get(), written) == 0);
    }

    // Text without a '%' comes out as it stands.
    if (tmpl.find(L'%') == std::wstring::npos)
        FUZZ_CHECK(std::wstring(whole.get()) == tmpl);

    // A conversion prints its argument exactly, with the template's text
    // around it untouched, whatever the size prefix.
    if (!args.empty()) {
        static const wchar_t* const conversions[] = { L"%c", L"%s", L"%u", L"%d", L"%I64d", L"%lu", L"%lld" };
        const wchar_t* conversion = conversions[kinds % 7];
        const std::wstring framed = L"<" + std::wstring(conversion) + L">%%";
        std::unique_ptr<wchar_t[]> out(new wchar_t[room + 16]);
        Format(out.get(), room + 16, framed.c_str(), { args[0] });
        FUZZ_CHECK(std::wstring(out.get()) == L"<" + std::wstring(Printed(args[0]).c_str()) + L">%");
    }

    // The balloon text of the monitor, with a letter and an outside size
    // text, always fits its 256-character field.
    if (!args.empty() && args[0].kind == FormatArg::STRING) {
        wchar_t info[256];
        const size_t n =
            FormatText(info, 256, L"You are running out of disk space on drive %c.\r\nIt only has %s free.",
                       { L'C', args[0].text.c_str() });
        std::wstring expected = L"You are running out of disk space on drive C.\r\nIt only has " +
                                std::wstring(args[0].text.c_str()) + L" free.";
        expected.resize(expected.size() < 255 ? expected.size() : 255);
        FUZZ_CHECK(n == expected.size());
        FUZZ_CHECK(std::wstring(info) == expected);
    }
    return 0;
}
