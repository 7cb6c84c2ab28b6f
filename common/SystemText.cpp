#include "SystemText.h"

#include "Handles.h"

std::wstring SystemErrorText(DWORD error, HMODULE source)
{
    DWORD flags = FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS;
    if (source != nullptr)
        flags |= FORMAT_MESSAGE_FROM_HMODULE;
    wchar_t* buffer = nullptr;
    // Language 0: the user's language, falling back as the system does.
    DWORD length = FormatMessageW(flags, source, error, 0, reinterpret_cast<LPWSTR>(&buffer), 0, nullptr);
    UniqueLocalMemory owned(buffer);
    std::wstring text = length != 0 && buffer != nullptr ? std::wstring(buffer, length) : std::wstring();
    while (!text.empty() && (text.back() == L'\r' || text.back() == L'\n' || text.back() == L' '))
        text.pop_back();
    return text;
}
