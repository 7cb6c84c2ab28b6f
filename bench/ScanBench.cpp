// Times the monitor's drive pass (ScanDrives, from the monitor's own
// sources) against a bare loop of one free-space query per watched drive. Console program driven by bench/bench.py:
//
//   ScanBench.exe <passes> <rounds>
//
// After a warm-up it runs `rounds` rounds; each round has one phase of
// `passes` drive passes and one phase of `passes` bare loops, in turn first.
// Around every phase it prints a line and sleeps, so that the script can
// read the CPU times of this process and of the wineserver while nothing
// runs:
//   READY <scan|bare> <round>
//   DONE <scan|bare> <round> <thread CPU ms> <wall ms>
// Before the rounds: DRIVES <fixed drives queried> <milliseconds per bare loop>;
// at the end: END <tray icon mask>. The settings come from the registry, as
// the monitor reads them.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cwchar>

#include "BareQueries.h"
#include "DriveSettings.h"
#include "Monitor.h"
#include "Scan.h"

HINSTANCE ModuleInstance = nullptr;

namespace {

constexpr DWORD SETTLE_MS = 400;
constexpr int WARM_UP_PASSES = 20;

const wchar_t BENCH_CLASS_NAME[] = L"Brimline_ScanBench_wndClass";

double ThreadCpuMs()
{
    FILETIME created, exited, kernel, user;
    if (!GetThreadTimes(GetCurrentThread(), &created, &exited, &kernel, &user))
        return 0.0;
    ULARGE_INTEGER k = {}, u = {};
    k.LowPart = kernel.dwLowDateTime;
    k.HighPart = kernel.dwHighDateTime;
    u.LowPart = user.dwLowDateTime;
    u.HighPart = user.dwHighDateTime;
    return static_cast<double>(k.QuadPart + u.QuadPart) / 10000.0;
}

double NowMs()
{
    LARGE_INTEGER frequency, counter;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&counter);
    return static_cast<double>(counter.QuadPart) * 1000.0 / static_cast<double>(frequency.QuadPart);
}

// The drives the stored settings watch, as the monitor loaded them.
DWORD WatchedDrives()
{
    DWORD drives = 0;
    for (int i = 0; i < DRIVE_COUNT; ++i) {
        if (IsDriveEnabled(DriveSettingsTable[i]))
            drives |= 1u << i;
    }
    return drives;
}

void RunPhase(HWND window, bool scan, int round, unsigned long passes)
{
    const char* name = scan ? "scan" : "bare";
    std::printf("READY %s %d\n", name, round);
    std::fflush(stdout);
    Sleep(SETTLE_MS);
    double cpu = ThreadCpuMs();
    double wall = NowMs();
    for (unsigned long i = 0; i < passes; ++i) {
        if (scan)
            ScanDrives(window);
        else
            BareQueries(WatchedDrives());
    }
    wall = NowMs() - wall;
    cpu = ThreadCpuMs() - cpu;
    std::printf("DONE %s %d %.3f %.3f\n", name, round, cpu, wall);
    std::fflush(stdout);
    Sleep(SETTLE_MS);
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc != 3)
        return 2;
    unsigned long passes = std::wcstoul(argv[1], nullptr, 10);
    int rounds = static_cast<int>(std::wcstol(argv[2], nullptr, 10));
    if (passes == 0 || rounds <= 0)
        return 2;

    ModuleInstance = GetModuleHandleW(nullptr);
    WNDCLASSEXW windowClass = {};
    windowClass.cbSize = sizeof(windowClass);
    windowClass.lpfnWndProc = DefWindowProcW;
    windowClass.hInstance = ModuleInstance;
    windowClass.lpszClassName = BENCH_CLASS_NAME;
    RegisterClassExW(&windowClass);
    // The pass needs the window that would own the tray icons; it stays hidden.
    HWND window = CreateWindowExW(0, BENCH_CLASS_NAME, L"", WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, CW_USEDEFAULT, 100, 100,
                                  nullptr, nullptr, ModuleInstance, nullptr);
    if (window == nullptr)
        return 1;
    LoadDriveSettings();

    int queried = 0;
    double wall = NowMs();
    for (int i = 0; i < WARM_UP_PASSES; ++i) {
        ScanDrives(window);
        queried = BareQueries(WatchedDrives());
    }
    wall = NowMs() - wall;
    std::printf("DRIVES %d %.3f\n", queried, wall / WARM_UP_PASSES / 2);
    std::fflush(stdout);

    for (int round = 0; round < rounds; ++round) {
        bool scanFirst = round % 2 == 0;
        RunPhase(window, scanFirst, round, passes);
        RunPhase(window, !scanFirst, round, passes);
    }
    std::printf("END %lu\n", static_cast<unsigned long>(CurrentTrayIconMask()));
    std::fflush(stdout);
    DeleteAllTrayIcons(window);
    DestroyWindow(window);
    return 0;
}
