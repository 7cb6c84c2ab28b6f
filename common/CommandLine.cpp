#include "CommandLine.h"

wchar_t SwitchLetter(const wchar_t* argument, CharUpperFunction upper)
{
    if (argument == nullptr || (argument[0] != L'/' && argument[0] != L'-'))
        return 0;
    if (argument[1] == L'\0')
        return 0;
    return upper != nullptr ? upper(argument[1]) : argument[1];
}

bool HasSwitch(int argc, const wchar_t* const* argv, wchar_t letter, CharUpperFunction upper)
{
    for (int i = 1; i < argc && argv != nullptr; ++i) {
        if (SwitchLetter(argv[i], upper) == letter)
            return true;
    }
    return false;
}

bool IsCloseSwitch(const wchar_t* argument, CharUpperFunction upper)
{
    return SwitchLetter(argument, upper) == L'U';
}

bool HasCloseSwitch(int argc, const wchar_t* const* argv, CharUpperFunction upper)
{
    return HasSwitch(argc, argv, L'U', upper);
}

bool OnlyCloseSwitches(int argc, const wchar_t* const* argv, CharUpperFunction upper)
{
    if (argc < 2 || argv == nullptr)
        return false;
    for (int i = 1; i < argc; ++i) {
        if (!IsCloseSwitch(argv[i], upper))
            return false;
    }
    return true;
}

const wchar_t* SkipProgramToken(const wchar_t* commandLine)
{
    const wchar_t* p = commandLine != nullptr ? commandLine : L"";
    if (*p == L'"') {
        ++p;
        while (*p != L'\0' && *p != L'"')
            ++p;
        if (*p == L'"')
            ++p;
    } else {
        while (*p != L'\0' && *p != L' ' && *p != L'\t')
            ++p;
    }
    while (*p == L' ' || *p == L'\t')
        ++p;
    return p;
}
