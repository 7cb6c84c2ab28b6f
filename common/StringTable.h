// Texts of a module's string table, filled with arguments: the one way the
// programs and the installer's DLL turn a string id into a sentence.
#pragma once

#include <windows.h>

#include <string>

#include "TextFormat.h"

// String `stringId` of `module`, its conversions filled with `args`
// (TextFormat.h), into `out` of `capacity` characters (always terminated,
// cut where it does not fit): the length written. A missing string gives
// an empty text.
size_t LoadFormattedString(HMODULE module, UINT stringId, std::initializer_list<FormatArg> args, wchar_t* out,
                           size_t capacity);

// The same as a string, for texts of any length up to `capacity`.
std::wstring LoadFormattedString(HMODULE module, UINT stringId, std::initializer_list<FormatArg> args,
                                 size_t capacity = 1024);
