#include "MessageLoop.h"

int RunMessageLoop(HACCEL accelerators)
{
    MSG message = {};
    for (;;) {
        BOOL got = GetMessageW(&message, nullptr, 0, 0);
        if (got == 0)
            return static_cast<int>(message.wParam);
        if (got == -1)
            return 0;
        if (!TranslateAcceleratorW(message.hwnd, accelerators, &message)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
    }
}
