// The system's words for a Windows error code, for a line or a message.
#pragma once

#include <windows.h>

#include <string>

// The text of `error` from the system's message table, or from `source`'s
// when a module is given, without the line break the table ends it with.
// Empty when neither table knows the code.
std::wstring SystemErrorText(DWORD error, HMODULE source = nullptr);
