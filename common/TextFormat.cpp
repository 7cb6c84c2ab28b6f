#include "TextFormat.h"

namespace {

class Writer {
public:
    Writer(wchar_t* out, size_t capacity) : out_(out), limit_(capacity ? capacity - 1 : 0) {}
    void Put(wchar_t c)
    {
        if (out_ != nullptr && length_ < limit_)
            out_[length_++] = c;
    }
    void PutString(const wchar_t* s)
    {
        for (; s != nullptr && *s != L'\0'; ++s)
            Put(*s);
    }
    void PutUnsigned(uint64_t v)
    {
        wchar_t digits[24];
        int n = 0;
        do {
            digits[n++] = static_cast<wchar_t>(L'0' + v % 10);
            v /= 10;
        } while (v != 0);
        while (n > 0)
            Put(digits[--n]);
    }
    void PutSigned(int64_t v)
    {
        if (v < 0) {
            Put(L'-');
            PutUnsigned(0 - static_cast<uint64_t>(v));
        } else {
            PutUnsigned(static_cast<uint64_t>(v));
        }
    }
    size_t Finish(size_t capacity)
    {
        if (out_ != nullptr && capacity != 0)
            out_[length_] = L'\0';
        return length_;
    }

private:
    wchar_t* out_;
    size_t limit_;
    size_t length_ = 0;
};

// Length of the size prefix and conversion letter at `p` (just past '%'),
// or 0 if `p` does not start a conversion this formatter knows.
size_t ConversionLength(const wchar_t* p)
{
    static const wchar_t* const prefixes[] = { L"I64", L"ll", L"l", L"" };
    for (const wchar_t* prefix : prefixes) {
        size_t n = 0;
        while (prefix[n] != L'\0' && p[n] == prefix[n])
            ++n;
        if (prefix[n] != L'\0')
            continue;
        wchar_t c = p[n];
        if (c == L'c' || c == L's' || c == L'u' || c == L'd' || c == L'i')
            return n + 1;
    }
    return 0;
}

}  // namespace

size_t FormatText(wchar_t* out, size_t capacity, const wchar_t* tmpl, std::initializer_list<FormatArg> args)
{
    Writer w(out, capacity);
    auto next = args.begin();
    for (const wchar_t* p = tmpl; p != nullptr && *p != L'\0';) {
        if (*p != L'%') {
            w.Put(*p++);
            continue;
        }
        if (p[1] == L'%') {
            w.Put(L'%');
            p += 2;
            continue;
        }
        size_t n = ConversionLength(p + 1);
        if (n == 0) {
            w.Put(*p++);
            continue;
        }
        p += 1 + n;
        if (next == args.end())
            continue;
        const FormatArg& a = *next++;
        switch (a.kind) {
        case FormatArg::CHAR: w.Put(a.ch); break;
        case FormatArg::STRING: w.PutString(a.str); break;
        case FormatArg::UNSIGNED: w.PutUnsigned(a.u); break;
        case FormatArg::SIGNED: w.PutSigned(a.i); break;
        }
    }
    return w.Finish(capacity);
}

size_t BoundedLength(const wchar_t* text, size_t capacity)
{
    size_t n = 0;
    while (text != nullptr && n < capacity && text[n] != L'\0')
        ++n;
    return n;
}
