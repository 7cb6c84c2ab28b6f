// The running program's own command line, read with the switch rules of
// CommandLine.h.
#pragma once

#include "CommandLine.h"

// Upper-cases one character as the system does (CharUpperW on a single
// character), for the rules of CommandLine.h.
wchar_t UpperChar(wchar_t c);

// A rule over the arguments, argv[0] being the program: HasCloseSwitch,
// HasRestartSwitch.
typedef bool (*SwitchRule)(int argc, const wchar_t* const* argv, CharUpperFunction upper);

// Splits the process's command line as the shell does (CommandLineToArgvW)
// and asks `rule`, with characters upper-cased as the system does it
// (CharUpperW on a single character). False when the line cannot be split.
bool CommandLineHasSwitch(SwitchRule rule);
