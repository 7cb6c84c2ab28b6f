// The message loop both programs run on their main thread.
#pragma once

#include <windows.h>

// Gets and dispatches messages, giving the accelerators their turn first,
// until WM_QUIT: returns its exit code (0 when GetMessageW fails).
int RunMessageLoop(HACCEL accelerators);
