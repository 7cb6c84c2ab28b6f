// The command-line switch rules of both programs.
#pragma once

// Upper-cases one character, as the system does (CharUpperW on a single
// character). Passed in so that the rule itself needs no Windows headers.
typedef wchar_t (*CharUpperFunction)(wchar_t);

// The switch letter of an argument: its second character, upper-cased, when
// the first is '/' or '-'; otherwise 0. The rest of the argument is ignored.
wchar_t SwitchLetter(const wchar_t* argument, CharUpperFunction upper);

// Whether any argument after the program name (argv[0]) has the switch
// letter `letter` (upper case).
bool HasSwitch(int argc, const wchar_t* const* argv, wchar_t letter, CharUpperFunction upper);

// The configuration program's close switch: /U, -u, /Uninstall ...
bool IsCloseSwitch(const wchar_t* argument, CharUpperFunction upper);

// Whether any argument after the program name (argv[0]) is the close switch.
bool HasCloseSwitch(int argc, const wchar_t* const* argv, CharUpperFunction upper);

// Whether there are arguments after the program name and every one is the
// close switch: the configuration program's close request. Any other
// argument beside it makes the command line a (malformed) verb request.
bool OnlyCloseSwitches(int argc, const wchar_t* const* argv, CharUpperFunction upper);

// What follows the program token of a process's command line, as the
// system's parser skips that token (a quoted token ends at the next quote, a
// plain one at white space), without the white space after it.
const wchar_t* SkipProgramToken(const wchar_t* commandLine);
