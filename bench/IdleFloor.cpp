// The floor for the monitor's idle cost: a Win32 program that does nothing
// but what any program of its kind must - a hidden window and a message
// loop that wakes for the same 45-second timer, re-armed at every tick as
// the monitor re-arms its own. It ends when its window is closed.
//
// Started with "/queries <letters>" it also asks, at every tick, the free
// space of each drive named (the monitor's watched drives): the floor of an
// idle monitor that does its scan's work and nothing else.
#include <windows.h>

#include "BareQueries.h"

namespace {

constexpr UINT_PTR IDT_TICK = 1;
constexpr UINT TICK_PERIOD = 45000;  // ms, the monitor's scan period

const wchar_t FLOOR_CLASS_NAME[] = L"Brimline_IdleFloor_wndClass";

DWORD DrivesToQuery = 0;

LRESULT OnTimer(HWND window, WPARAM timerId)
{
    if (timerId != IDT_TICK)
        return 0;
    KillTimer(window, IDT_TICK);
    if (DrivesToQuery != 0)
        BareQueries(DrivesToQuery);
    SetTimer(window, IDT_TICK, TICK_PERIOD, nullptr);
    return 0;
}

LRESULT CALLBACK FloorWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_TIMER: return OnTimer(window, wParam);
    case WM_DESTROY: PostQuitMessage(0); return 0;
    default: return DefWindowProcW(window, message, wParam, lParam);
    }
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR commandLine, int)
{
    const wchar_t QUERIES_SWITCH[] = L"/queries ";
    const int switchLength = lstrlenW(QUERIES_SWITCH);
    if (commandLine != nullptr && lstrlenW(commandLine) >= switchLength &&
        CompareStringOrdinal(commandLine, switchLength, QUERIES_SWITCH, switchLength, TRUE) == CSTR_EQUAL)
        DrivesToQuery = DrivesOfLetters(commandLine + switchLength);
    WNDCLASSEXW windowClass = {};
    windowClass.cbSize = sizeof(windowClass);
    windowClass.lpfnWndProc = FloorWndProc;
    windowClass.hInstance = instance;
    windowClass.lpszClassName = FLOOR_CLASS_NAME;
    if (RegisterClassExW(&windowClass) == 0)
        return 1;
    HWND window = CreateWindowExW(0, FLOOR_CLASS_NAME, L"Brimline idle floor", WS_OVERLAPPEDWINDOW, CW_USEDEFAULT,
                                  CW_USEDEFAULT, 350, 100, nullptr, nullptr, instance, nullptr);
    if (window == nullptr)
        return 1;
    SetTimer(window, IDT_TICK, TICK_PERIOD, nullptr);

    MSG message = {};
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    return static_cast<int>(message.wParam);
}
