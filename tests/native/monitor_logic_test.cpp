#include <gtest/gtest.h>

#include <cwctype>

#include "DriveRoots.h"
#include "EventWaitLogic.h"
#include "MonitorLogic.h"

namespace {

wchar_t Upper(wchar_t c)
{
    return static_cast<wchar_t>(std::towupper(c));
}

bool Restart(std::initializer_list<const wchar_t*> args)
{
    std::vector<const wchar_t*> argv{ L"BrimWatch.exe" };
    argv.insert(argv.end(), args);
    return HasRestartSwitch(static_cast<int>(argv.size()), argv.data(), Upper);
}

}  // namespace

TEST(MonitorCommandLine, RestartSwitch)
{
    EXPECT_TRUE(Restart({ L"/r" }));
    EXPECT_TRUE(Restart({ L"-R" }));
    EXPECT_TRUE(Restart({ L"/Restart" }));
    EXPECT_TRUE(Restart({ L"/N", L"x", L"-r" }));
    EXPECT_FALSE(Restart({ L"/N" }));
    EXPECT_FALSE(Restart({ L"R" }));
    EXPECT_FALSE(Restart({ L"--R" }));
    EXPECT_FALSE(Restart({ L"/X" }));
    EXPECT_FALSE(Restart({ L"/" }));
    EXPECT_FALSE(Restart({}));
    // The program name itself is never a switch.
    const wchar_t* named[] = { L"/R" };
    EXPECT_FALSE(HasRestartSwitch(1, named, Upper));
    EXPECT_FALSE(HasRestartSwitch(3, nullptr, Upper));
}

TEST(MonitorCommands, ProgramParameters)
{
    EXPECT_EQ(CleanupToolParameters(2), L"/dC");
    EXPECT_EQ(ExplorerParameters(3), L"/e,D:\\");
    EXPECT_STREQ(DriveRoot(0).Text, L"A:\\");
    EXPECT_STREQ(DriveRoot(25).Text, L"Z:\\");
}

TEST(MonitorCommands, ConfigProgramBesideTheMonitor)
{
    EXPECT_EQ(ConfigProgramPath(L"C:\\Program Files\\Brimline\\BrimWatch.exe"),
              L"C:\\Program Files\\Brimline\\BrimSet.exe");
    // Whatever the monitor's own file is called.
    EXPECT_EQ(ConfigProgramPath(L"D:\\tools\\watch-copy.exe"), L"D:\\tools\\BrimSet.exe");
    EXPECT_EQ(ConfigProgramPath(L"D:/tools\\sub/w.exe"), L"D:/tools\\sub/BrimSet.exe");
}

TEST(MonitorWindow, TaskbarCreatedNeverMatchesWhenUnregistered)
{
    EXPECT_FALSE(IsTaskbarCreatedMessage(0, 0));  // WM_NULL after a failed registration
    EXPECT_TRUE(IsTaskbarCreatedMessage(0xC123, 0xC123));
    EXPECT_FALSE(IsTaskbarCreatedMessage(0, 0xC123));
}

TEST(EventWaitList, KeepsExistingHandlesInOrder)
{
    int settings = 0, stop = 0, close = 0;
    int* waitList[MONITOR_EVENT_COUNT] = {};
    MonitorEvent meaning[MONITOR_EVENT_COUNT] = {};

    int* all[MONITOR_EVENT_COUNT] = { &settings, &stop, &close };
    ASSERT_EQ(BuildWaitList(all, waitList, meaning), 3u);
    EXPECT_EQ(waitList[0], &settings);
    EXPECT_EQ(meaning[0], MONITOR_EVENT_SETTINGS_CHANGED);
    EXPECT_EQ(meaning[1], MONITOR_EVENT_THREAD_STOP);
    EXPECT_EQ(meaning[2], MONITOR_EVENT_MONITOR_CLOSE);

    // The settings event could not be created: the stop event comes first.
    int* noSettings[MONITOR_EVENT_COUNT] = { nullptr, &stop, &close };
    ASSERT_EQ(BuildWaitList(noSettings, waitList, meaning), 2u);
    EXPECT_EQ(waitList[0], &stop);
    EXPECT_EQ(meaning[0], MONITOR_EVENT_THREAD_STOP);
    EXPECT_EQ(waitList[1], &close);
    EXPECT_EQ(meaning[1], MONITOR_EVENT_MONITOR_CLOSE);

    int* onlyClose[MONITOR_EVENT_COUNT] = { nullptr, nullptr, &close };
    ASSERT_EQ(BuildWaitList(onlyClose, waitList, meaning), 1u);
    EXPECT_EQ(meaning[0], MONITOR_EVENT_MONITOR_CLOSE);

    int* none[MONITOR_EVENT_COUNT] = {};
    EXPECT_EQ(BuildWaitList(none, waitList, meaning), 0u);
}

TEST(MonitorScanTimer, AReloadNeverPushesBackATickDueWithinTheRescanDelay)
{
    EXPECT_TRUE(ReloadMovesScan(1000, 1000 + SCAN_PERIOD));
    EXPECT_TRUE(ReloadMovesScan(1000, 1000 + RESCAN_DELAY + 1));
    EXPECT_FALSE(ReloadMovesScan(1000, 1000 + RESCAN_DELAY));
    EXPECT_FALSE(ReloadMovesScan(1000, 900));  // overdue
    // Across the wrap of the tick count.
    EXPECT_TRUE(ReloadMovesScan(0xFFFFFF00u, 0xFFFFFF00u + SCAN_PERIOD));
    EXPECT_FALSE(ReloadMovesScan(0xFFFFFF00u, 0xFFFFFF00u + 500));
    EXPECT_FALSE(ReloadMovesScan(100, 0xFFFFFF00u));

    // A tick that is due runs from the reload itself, across the wrap too.
    EXPECT_TRUE(IsScanDue(1000, 1000));
    EXPECT_TRUE(IsScanDue(1000, 900));
    EXPECT_FALSE(IsScanDue(1000, 1001));
    EXPECT_TRUE(IsScanDue(100, 0xFFFFFF00u));
    EXPECT_FALSE(IsScanDue(0xFFFFFF00u, 100));
}

// Only a close request made after the monitor started closes it: none at
// start and one now, or another one now. A request gone closes nothing.
TEST(MonitorClose, OnlyARequestSinceTheStartCloses)
{
    const CloseRequestMark none;
    const CloseRequestMark early{ true, 100 };
    const CloseRequestMark later{ true, 101 };
    EXPECT_FALSE(IsNewCloseRequest(none, none));
    EXPECT_TRUE(IsNewCloseRequest(none, early));
    EXPECT_FALSE(IsNewCloseRequest(early, early));
    EXPECT_TRUE(IsNewCloseRequest(early, later));
    EXPECT_FALSE(IsNewCloseRequest(early, none));
}
