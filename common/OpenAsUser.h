// Opening a document, a page or a mail address for the user, from a
// program that may run elevated.
#pragma once

#include <windows.h>

// Opens `file` (with `parameters`, or none) with its default verb as the
// user's own unelevated shell would: from an elevated process the desktop's
// shell is asked to do it, so that the handler, which comes from the user's
// own associations, never runs with administrator rights. A process that
// is not elevated, or finds no desktop shell to ask, opens it itself.
// Nothing is reported; the shell may show its own message.
void OpenAsUser(HWND owner, const wchar_t* file, const wchar_t* parameters = nullptr);
