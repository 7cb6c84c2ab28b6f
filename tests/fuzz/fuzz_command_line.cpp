// The switch rules of both programs over arbitrary argument lists: the
// configuration program's close switch and the monitor's restart switch.
//
// Input: a byte choosing the upper-casing function, then the arguments as
// UTF-16 code units, each ended by a NUL code unit (argv[0] first).
#include <cstring>
#include <memory>

#include "CommandLine.h"
#include "FuzzInput.h"
#include "MonitorLogic.h"

namespace {

// Upper-casing as CharUpperW does it for the Latin letters; the rest stays.
wchar_t AsciiUpper(wchar_t c)
{
    return c >= L'a' && c <= L'z' ? static_cast<wchar_t>(c - 32) : c;
}

// A system whose upper-casing maps some other letters onto U and R too
// (the rules must take the function's word for it).
wchar_t OddUpper(wchar_t c)
{
    if (c == 0x00FC || c == 0x0169)  // ü, ũ
        return L'U';
    if (c == 0x0159)  // ř
        return L'R';
    return AsciiUpper(c);
}

CharUpperFunction UpperFor(uint8_t choice)
{
    switch (choice % 3) {
    case 0: return AsciiUpper;
    case 1: return OddUpper;
    default: return nullptr;  // no upper-casing: the character as it is
    }
}

// The switch letter, spelled out: first '/' or '-', then any second
// character, upper-cased.
wchar_t ExpectedLetter(const wchar_t* argument, CharUpperFunction upper)
{
    if (argument == nullptr)
        return 0;
    size_t length = std::wcslen(argument);
    if (length < 2 || (argument[0] != L'/' && argument[0] != L'-'))
        return 0;
    return upper != nullptr ? upper(argument[1]) : argument[1];
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzInput in(data, size);
    const CharUpperFunction upper = UpperFor(in.Byte());

    // Each argument in a heap block of exactly its length and terminator.
    std::vector<std::unique_ptr<wchar_t[]>> owned;
    std::vector<const wchar_t*> argv;
    std::wstring current;
    auto finish = [&]() {
        std::unique_ptr<wchar_t[]> argument(new wchar_t[current.size() + 1]);
        std::wmemcpy(argument.get(), current.c_str(), current.size() + 1);
        argv.push_back(argument.get());
        owned.push_back(std::move(argument));
        current.clear();
    };
    while (in.Left() >= 2 && argv.size() < 64) {
        wchar_t c = static_cast<wchar_t>(in.Integer<uint16_t>());
        if (c == 0)
            finish();
        else
            current.push_back(c);
    }
    if (!current.empty() || argv.empty())
        finish();
    const int argc = static_cast<int>(argv.size());

    bool anyClose = false;
    bool anyRestart = false;
    for (int i = 0; i < argc; ++i) {
        const wchar_t letter = SwitchLetter(argv[i], upper);
        FUZZ_CHECK(letter == ExpectedLetter(argv[i], upper));
        FUZZ_CHECK(IsCloseSwitch(argv[i], upper) == (letter == L'U'));
        // Only the first two characters count: cutting the argument after
        // them changes nothing.
        if (std::wcslen(argv[i]) > 2) {
            const wchar_t head[3] = { argv[i][0], argv[i][1], 0 };
            FUZZ_CHECK(SwitchLetter(head, upper) == letter);
        }
        if (i > 0) {
            anyClose = anyClose || letter == L'U';
            anyRestart = anyRestart || letter == L'R';
        }
    }

    // The program name never counts, whatever it looks like.
    FUZZ_CHECK(HasCloseSwitch(argc, argv.data(), upper) == anyClose);
    FUZZ_CHECK(HasRestartSwitch(argc, argv.data(), upper) == anyRestart);
    FUZZ_CHECK(!HasCloseSwitch(1, argv.data(), upper));
    FUZZ_CHECK(!HasRestartSwitch(1, argv.data(), upper));
    // Fewer arguments never find a switch that the whole list lacks.
    for (int count = 0; count <= argc; ++count) {
        if (!anyClose)
            FUZZ_CHECK(!HasCloseSwitch(count, argv.data(), upper));
        if (!anyRestart)
            FUZZ_CHECK(!HasRestartSwitch(count, argv.data(), upper));
    }
    // No list at all, or a missing argument, is no switch.
    FUZZ_CHECK(!HasCloseSwitch(argc, nullptr, upper));
    FUZZ_CHECK(SwitchLetter(nullptr, upper) == 0);
    return 0;
}
