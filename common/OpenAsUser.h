// Opening a document, a page or a mail address for the user, from a
// program that may run elevated.
#pragma once

#include <windows.h>

// Opens `file` (with `parameters`, or none) with its default verb as the
// user's own unelevated shell would, and returns whether it was opened.
// The handler comes from the user's own associations, so an elevated
// process (or one that cannot tell) never starts it itself: it asks the
// desktop's shell, which runs with the user's normal rights, and when no
// desktop shell answers, nothing is opened. A process that is not elevated
// opens it itself; the shell may then show its own message.
bool OpenAsUser(HWND owner, const wchar_t* file, const wchar_t* parameters = nullptr);
