#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "../fakes/FakeTray.h"
#include "ScanLogic.h"

namespace {

constexpr uint64_t MB = 1048576;
constexpr uint64_t GB = 1024 * MB;

DriveSetting Watched(uint64_t threshold)
{
    DriveSetting setting = {};
    setting.Enabled = 1;
    setting.Threshold = threshold;
    return setting;
}

// One monitor's state, with a pass over a fixed list of roots.
struct ScanFixture : ::testing::Test, MonitorPassState {
    std::vector<std::string> Pass()
    {
        RunPass();
        return tray.calls;
    }

    void LowC(uint64_t freeBytes = 100 * MB)
    {
        settings[2] = Watched(200 * MB);
        tray.drives[L"C:\\"] = DriveSpace{ freeBytes, 100 * GB };
    }
};

using Calls = std::vector<std::string>;

}  // namespace

TEST(ScanLogic, LowOnlyStrictlyBelowAWatchedThreshold)
{
    EXPECT_FALSE(IsDriveLow(5000, Watched(5000)));
    EXPECT_TRUE(IsDriveLow(4999, Watched(5000)));
    EXPECT_FALSE(IsDriveLow(0, Watched(0)));  // threshold 0 is never reached

    DriveSetting notWatched = Watched(5000);
    notWatched.Enabled = 0;
    EXPECT_FALSE(IsDriveLow(0, notWatched));

    DriveSetting oddEnabled = Watched(5000);
    oddEnabled.Enabled = 2;
    EXPECT_TRUE(IsDriveLow(1, oddEnabled));

    // A threshold above 4 GiB keeps its high bits.
    EXPECT_TRUE(IsDriveLow(5120 * MB - 1, Watched(5120 * MB)));
    EXPECT_FALSE(IsDriveLow(5120 * MB, Watched(5120 * MB)));
}

TEST(ScanLogic, BalloonKindFollowsFreeSpace)
{
    EXPECT_EQ(BalloonKindFor(1048575, 10000000000ULL), BALLOON_KIND_ERROR);
    EXPECT_EQ(BalloonKindFor(0, 0), BALLOON_KIND_ERROR);
    // 1 MiB is no longer an error: the 15 % rule decides.
    EXPECT_EQ(BalloonKindFor(1048576, 10000000000ULL), BALLOON_KIND_WARNING);
    EXPECT_EQ(BalloonKindFor(1048576, 1048576), BALLOON_KIND_INFO);
    EXPECT_EQ(BalloonKindFor(1500000000ULL, 10000000000ULL), BALLOON_KIND_WARNING);
    EXPECT_EQ(BalloonKindFor(1500000001ULL, 10000000000ULL), BALLOON_KIND_INFO);
    // The 15 % mark rounds down: 15 % of 10000001 is 1500000.15.
    EXPECT_EQ(BalloonKindFor(1500000, 10000001), BALLOON_KIND_WARNING);
    EXPECT_EQ(BalloonKindFor(1500001, 10000001), BALLOON_KIND_INFO);
}

TEST(ScanLogic, RepeatIntervalsDoubleUpToTwoHours)
{
    uint32_t interval = FIRST_BALLOON_INTERVAL;
    std::vector<uint32_t> seen;
    for (int i = 0; i < 6; ++i) {
        interval = NextBalloonInterval(interval);
        seen.push_back(interval);
    }
    EXPECT_EQ(seen, (std::vector<uint32_t>{ 600000, 1200000, 2400000, 4800000, 7200000, 7200000 }));
    // Even a value never stored does not overflow.
    EXPECT_EQ(NextBalloonInterval(0xFFFFFFFFu), LARGEST_BALLOON_INTERVAL);
}

TEST(ScanLogic, BalloonDueAcrossTheTickWrap)
{
    EXPECT_FALSE(IsBalloonDue(256, 4294967040u, 300000));  // 512 ms have passed
    EXPECT_TRUE(IsBalloonDue(300000 - 256 - 1, 4294967040u, 300000 - 1));
    EXPECT_TRUE(IsBalloonDue(1300000, 1000000, 300000));  // exactly due
    EXPECT_FALSE(IsBalloonDue(1299999, 1000000, 300000));
}

TEST_F(ScanFixture, OnlyWatchedDrivesAndIconsAreAskedAndTheTypeOnlyWhenNeeded)
{
    // A: is watched and low but not fixed, C: is low, D: is present but not
    // watched, E: is watched and not low, F: is watched and gone.
    settings[0] = Watched(100 * GB);
    tray.drives[L"A:\\"] = DriveSpace{ 1 * MB, 2 * MB };
    tray.notFixed.insert(L"A:\\");
    LowC(500 * 1024);
    tray.drives[L"D:\\"] = DriveSpace{ 1, 100 * GB };
    settings[4] = Watched(100 * MB);
    tray.drives[L"E:\\"] = DriveSpace{ 200 * MB, 100 * GB };
    settings[5] = Watched(100 * MB);
    EXPECT_EQ(Pass(), (Calls{ "add 2 kind 3" }));
    EXPECT_EQ(tray.pass.queried, 0b110101u);
    // The type is asked only of drives the pass would act on.
    EXPECT_EQ(tray.pass.typeChecked, 0b101u);
    EXPECT_EQ(iconMask, 1u << 2);
    EXPECT_EQ(table[2].lastBalloonTick, 1000u);
    EXPECT_EQ(table[2].balloonInterval, FIRST_BALLOON_INTERVAL);

    // A drive no longer watched is still asked while it has its icon, and
    // after that costs nothing.
    settings[2].Enabled = 0;
    EXPECT_EQ(Pass(), (Calls{ "delete 2" }));
    EXPECT_EQ(tray.events, std::vector<std::string>{ "1003 drive 2 free 512000 threshold 209715200" });
    EXPECT_EQ(Pass(), Calls{});
    EXPECT_EQ(tray.pass.queried & (1u << 2), 0u);
    EXPECT_TRUE(tray.faults.empty()) << tray.faults.front();
}

TEST_F(ScanFixture, NotLowNotWatchedOrNotFixedGetsNoIcon)
{
    settings[2] = Watched(100 * MB);
    tray.drives[L"C:\\"] = DriveSpace{ 100 * MB, 100 * GB };  // equal: not low
    settings[3] = Watched(200 * MB);
    settings[3].Enabled = 0;
    tray.drives[L"D:\\"] = DriveSpace{ 1, 100 * GB };
    settings[4] = Watched(200 * MB);  // E: answers, but is not fixed
    tray.drives[L"E:\\"] = DriveSpace{ 1, 100 * GB };
    tray.notFixed.insert(L"E:\\");
    EXPECT_EQ(Pass(), Calls{});
    EXPECT_EQ(iconMask, 0u);
    EXPECT_EQ(tray.events, std::vector<std::string>{});
}

TEST_F(ScanFixture, BalloonsRepeatWithBackOffUntilRecovery)
{
    LowC();
    tray.now = 4294967000u;  // the repeats cross the tick-count wrap
    EXPECT_EQ(Pass(), (Calls{ "add 2 kind 2" }));

    tray.now += 299999;
    EXPECT_EQ(Pass(), Calls{});
    tray.now += 1;
    EXPECT_EQ(Pass(), (Calls{ "balloon 2 kind 2" }));
    EXPECT_EQ(table[2].balloonInterval, 600000u);
    EXPECT_EQ(table[2].lastBalloonTick, tray.now);

    tray.now += 599999;
    EXPECT_EQ(Pass(), Calls{});
    tray.now += 45000;
    EXPECT_EQ(Pass(), (Calls{ "balloon 2 kind 2" }));
    EXPECT_EQ(table[2].balloonInterval, 1200000u);

    // Recovered: the icon goes, and a mute bit would stay as it was.
    muteMask = 1u << 2;
    tray.drives[L"C:\\"].freeBytes = 200 * MB;
    EXPECT_EQ(Pass(), (Calls{ "delete 2" }));
    EXPECT_EQ(iconMask, 0u);
    EXPECT_EQ(muteMask, 1u << 2);
    EXPECT_EQ(Pass(), Calls{});
}

TEST_F(ScanFixture, MutedDriveStaysSilentUntilReAdded)
{
    LowC();
    Pass();
    muteMask |= 1u << 2;
    tray.now += 10 * 3600 * 1000;
    EXPECT_EQ(Pass(), Calls{});
    EXPECT_EQ(table[2].balloonInterval, FIRST_BALLOON_INTERVAL);

    // The taskbar was re-created: the icon comes back, unmuted, with a new
    // first balloon and the first interval.
    iconMask = 0;
    tray.shellIcons = 0;
    EXPECT_EQ(Pass(), (Calls{ "add 2 kind 2" }));
    EXPECT_EQ(muteMask, 0u);
    EXPECT_EQ(table[2].lastBalloonTick, tray.now);
}

TEST_F(ScanFixture, FailedTrayCallsBeepAndAreRetried)
{
    // A failed add records nothing: the next pass tries again.
    LowC();
    muteMask = 1u << 2;
    tray.addSucceeds = false;
    EXPECT_EQ(Pass(), (Calls{ "add 2 kind 2", "beep" }));
    EXPECT_EQ(Pass(), (Calls{ "add 2 kind 2", "beep" }));
    EXPECT_EQ(iconMask, 0u);
    EXPECT_EQ(muteMask, 1u << 2);
    tray.addSucceeds = true;
    EXPECT_EQ(Pass(), (Calls{ "add 2 kind 2" }));
    EXPECT_EQ(muteMask, 0u);

    // A failed repeat keeps the back-off as it was.
    tray.repeatSucceeds = false;
    tray.now += 300000;
    EXPECT_EQ(Pass(), (Calls{ "balloon 2 kind 2", "beep" }));
    EXPECT_EQ(table[2].balloonInterval, FIRST_BALLOON_INTERVAL);
    tray.repeatSucceeds = true;
    EXPECT_EQ(Pass(), (Calls{ "balloon 2 kind 2" }));
    EXPECT_EQ(table[2].balloonInterval, 600000u);

    // A failed delete still forgets the icon.
    tray.deleteSucceeds = false;
    tray.drives[L"C:\\"].freeBytes = 300 * MB;
    EXPECT_EQ(Pass(), (Calls{ "delete 2", "beep" }));
    EXPECT_EQ(iconMask, 0u);
}

TEST_F(ScanFixture, UnqueryableDriveKeepsItsIconAndState)
{
    LowC();
    Pass();
    const DriveTrayState before = table[2];
    tray.now += 8 * 3600 * 1000;
    tray.notFixed.insert(L"C:\\");  // the letter now names a removable drive
    EXPECT_EQ(Pass(), Calls{});
    tray.drives.erase(L"C:\\");  // or the query fails, or the drive is gone
    EXPECT_EQ(Pass(), Calls{});
    EXPECT_EQ(iconMask, 1u << 2);
    EXPECT_EQ(table[2].lastBalloonTick, before.lastBalloonTick);
}

TEST_F(ScanFixture, EventLogHearsOfEachCrossingOnceNotOfBalloons)
{
    LowC(100 * MB);
    tray.shellUp = false;  // the event does not wait for the tray
    Pass();
    EXPECT_EQ(tray.events, std::vector<std::string>{ "1001 drive 2 free 104857600 threshold 209715200" });
    tray.shellUp = true;
    const std::pair<uint64_t, DriveEvent> steps[] = { { 100 * MB, DRIVE_EVENT_NONE },  // the add's balloon
                                                      { VERY_LOW_FREE_BYTES - 1, DRIVE_EVENT_VERY_LOW },
                                                      { VERY_LOW_FREE_BYTES, DRIVE_EVENT_LOW },
                                                      { 200 * MB, DRIVE_EVENT_RECOVERED } };
    for (const auto& step : steps) {
        tray.drives[L"C:\\"].freeBytes = step.first;
        Pass();
        EXPECT_EQ(tray.pass.events[2], step.second) << step.first;
    }
    uint32_t mutes = 0;
    EXPECT_EQ(MuteDrive(2, mutes), DRIVE_EVENT_MUTED);
    EXPECT_EQ(MuteDrive(2, mutes), DRIVE_EVENT_NONE);
}
