#include "StringTable.h"

#include <vector>

size_t LoadFormattedString(HMODULE module, UINT stringId, std::initializer_list<FormatArg> args, wchar_t* out,
                           size_t capacity)
{
    // The text in place in the module's resources, whatever its length.
    const wchar_t* text = nullptr;
    const int length = LoadStringW(module, stringId, reinterpret_cast<LPWSTR>(&text), 0);
    const std::wstring pattern = length > 0 && text != nullptr ? std::wstring(text, static_cast<size_t>(length))
                                                               : std::wstring();
    return FormatText(out, capacity, pattern.c_str(), args);
}

std::wstring LoadFormattedString(HMODULE module, UINT stringId, std::initializer_list<FormatArg> args,
                                 size_t capacity)
{
    std::vector<wchar_t> buffer(capacity > 0 ? capacity : 1);
    const size_t length = LoadFormattedString(module, stringId, args, buffer.data(), buffer.size());
    return std::wstring(buffer.data(), length);
}
