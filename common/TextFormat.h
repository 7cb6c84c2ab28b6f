// A small, bounded, type-safe formatter for the printf-style templates in the
// string tables ("%c", "%s", "%u", "%d", "%I64d"). It never reads an argument
// of the wrong type and never writes past the buffer, with any compiler's
// printf conventions.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <type_traits>

struct FormatArg {
    enum Kind { CHAR, STRING, UNSIGNED, SIGNED } kind;
    wchar_t ch = 0;
    const wchar_t* str = nullptr;
    uint64_t u = 0;
    int64_t i = 0;

    FormatArg(wchar_t c) : kind(CHAR), ch(c) {}
    FormatArg(const wchar_t* s) : kind(STRING), str(s) {}
    // Any integer type (DWORD, UINT, int, int64_t ...), by its signedness.
    template <typename T, typename std::enable_if<std::is_integral<T>::value && !std::is_same<T, wchar_t>::value &&
                                                      !std::is_same<T, bool>::value,
                                                  int>::type = 0>
    FormatArg(T v) : kind(std::is_signed<T>::value ? SIGNED : UNSIGNED)
    {
        if (std::is_signed<T>::value)
            i = static_cast<int64_t>(v);
        else
            u = static_cast<uint64_t>(v);
    }
};

// Formats `tmpl` into `out` (capacity in characters, terminator included).
// Each conversion (%c %s %u %d %lu %ld %lld %llu %I64d %I64u) takes the next
// argument and prints it as what it is; "%%" prints '%'; a conversion with no
// argument left prints nothing; anything else is copied as it stands. The
// result is truncated to capacity - 1 characters and always terminated.
// Returns the number of characters written, without the terminator.
size_t FormatText(wchar_t* out, size_t capacity, const wchar_t* tmpl, std::initializer_list<FormatArg> args);

// Length of a wide string that may not be terminated within `capacity`.
size_t BoundedLength(const wchar_t* text, size_t capacity);
