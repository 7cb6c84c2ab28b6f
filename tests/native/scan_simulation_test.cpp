// Sixty days of the monitor's scan, tick by tick, through the same pass the
// window's timer runs (ScanWatchedDrives) against a simulated machine and
// notification area. The tick count starts ten minutes before it wraps, so
// the run crosses the wrap twice. Free space wanders above and below the
// thresholds, settings change, drives vanish and come back or cannot be
// measured for a while, the user mutes balloons, and the taskbar restarts;
// forecasts are switched on and off, so that the wandering free space also
// brings early icons. After every pass the run checks what must always hold.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "../fakes/FakeTray.h"
#include "MonitorLogic.h"  // the tick period and the rescan delay
#include "ScanLogic.h"

namespace {

constexpr uint64_t MB = 1048576;
constexpr uint64_t GB = 1024 * MB;

constexpr int TICKS = 115200;                                      // 60 days of 45-second ticks
constexpr uint32_t START_TICK = 0xFFFFFFFFu - 10 * 60 * 1000 + 1;  // ten minutes before the wrap

// A small deterministic generator, the same on every platform.
class Random {
public:
    explicit Random(uint64_t seed) : state_(seed) {}
    uint64_t Next()
    {
        // splitmix64
        uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    uint64_t Below(uint64_t n) { return n == 0 ? 0 : Next() % n; }
    bool OneIn(uint64_t n) { return Below(n) == 0; }

private:
    uint64_t state_;
};

enum class DriveKind { FIXED, REMOVABLE, NETWORK };

// One drive of the simulated machine.
struct SimDrive {
    int index;
    DriveKind kind;
    uint64_t total;
    uint64_t nominalThreshold;  // what the free space wanders around
    bool flaky;                 // its free-space query fails for stretches
    bool comesAndGoes;          // its letter leaves the drive list for stretches
    // Wandering state.
    bool lowRegime = false;
    uint64_t free = 0;
    bool present = true;
    bool queryFails = false;
};

// What the test expects of a drive's balloons, kept in 64-bit time that never wraps.
struct BalloonRecord {
    bool iconLife = false;     // an icon was added and not yet removed or forgotten
    uint64_t lastBalloon = 0;  // absolute ms of the add or of the last repeat
    uint32_t expectedInterval = 0;
    bool mutedByUser = false;  // the user answered Yes since the last add
};

DriveSetting Setting(uint8_t enabled, uint64_t threshold)
{
    DriveSetting s = {};
    s.Enabled = enabled;
    s.Threshold = threshold;
    return s;
}

// The balloon's icon kind, by the rule the user sees: error under 1 MiB
// free, warning at or under 15 % of the drive, information above.
BalloonKind ExpectedKind(uint64_t freeBytes, uint64_t totalBytes)
{
    if (freeBytes < MB)
        return BALLOON_KIND_ERROR;
    return freeBytes * 100 <= totalBytes * 15 ? BALLOON_KIND_WARNING : BALLOON_KIND_INFO;
}

bool IsKnownInterval(uint32_t interval)
{
    for (uint32_t step = FIRST_BALLOON_INTERVAL; step < LARGEST_BALLOON_INTERVAL; step *= 2) {
        if (interval == step)
            return true;
    }
    return interval == LARGEST_BALLOON_INTERVAL;
}

struct Totals {
    int wraps = 0;
    int adds = 0, repeats = 0, deletes = 0, mutes = 0, taskbarRestarts = 0, settingChanges = 0;
    int mutedLowTicks = 0, cappedRepeats = 0, unmeasuredIconTicks = 0, beeps = 0;
    int quietAdds = 0, keptAdds = 0, earlyBalloons = 0;
};

class ScanSimulation {
public:
    explicit ScanSimulation(uint64_t seed) : random_(seed)
    {
        drives_ = {
            { 0, DriveKind::REMOVABLE, 2 * GB, 1 * GB, false, false },
            { 2, DriveKind::FIXED, 100 * GB, 5 * GB, false, false },
            { 3, DriveKind::FIXED, 500 * GB, 20 * GB, false, false },
            { 4, DriveKind::FIXED, 50 * GB, 10 * GB, false, false },
            { 5, DriveKind::FIXED, 10 * GB, 1 * GB, true, false },
            { 6, DriveKind::NETWORK, 1000 * GB, 10 * GB, false, false },
            { 7, DriveKind::FIXED, 200 * GB, 8 * GB, false, true },
            { 25, DriveKind::FIXED, 64 * MB, 1228800, false, false },  // around the 1 MiB mark
        };
        for (SimDrive& d : drives_) {
            uint8_t enabled = d.index == 4 ? 2 : 1;  // any non-zero Enabled byte watches
            settings_[d.index] = Setting(enabled, d.nominalThreshold);
            d.lowRegime = random_.OneIn(2);
            Wander(d);
        }
        // The pass asks the simulated machine: each root by its letter; a
        // drive that is absent, not fixed or whose query fails gives no
        // facts, and the pass itself takes a moment now and then.
        tray_.query = [this](const wchar_t* root, DriveSpace* space) {
            if (std::wcscmp(root + 1, L":\\") != 0) {
                ADD_FAILURE() << "query of a malformed root at " << clock_ << " ms";
                return false;
            }
            SimDrive* d = DriveByLetter(root[0]);
            if (d == nullptr || !d->present || d->kind != DriveKind::FIXED || d->queryFails)
                return false;
            space->freeBytes = d->free;
            space->totalBytes = d->total;
            return true;
        };
        tray_.clock = [this] {
            if (random_.OneIn(8))
                clock_ += 1 + random_.Below(2);
            return Tick();
        };
    }

    Totals Run()
    {
        uint32_t previousTick = Tick();
        for (int tick = 0; tick < TICKS && !::testing::Test::HasFailure(); ++tick) {
            Step();
            if (Tick() < previousTick)
                ++totals_.wraps;
            previousTick = Tick();
        }
        return totals_;
    }

private:
    Random random_;
    std::vector<SimDrive> drives_;
    uint64_t clock_ = 0;  // absolute ms since the start of the run
    FakeTray tray_;
    DriveSettingsImage settings_ = {};
    uint32_t iconMask_ = 0;
    uint32_t muteMask_ = 0;
    DriveTrayStateArray trayState_ = {};
    BalloonRecord records_[DRIVE_COUNT] = {};
    int shellDownTicks_ = 0;
    uint32_t nextDelay_ = SCAN_PERIOD;
    Totals totals_;

    uint32_t Tick() const { return static_cast<uint32_t>(START_TICK + clock_); }

    SimDrive* DriveByLetter(wchar_t letter)
    {
        for (SimDrive& d : drives_) {
            if (L'A' + d.index == letter)
                return &d;
        }
        return nullptr;
    }

    // The absolute time of a tick taken during the pass that started then.
    uint64_t TimeOf(uint32_t tick, uint64_t passStart) const
    {
        return passStart + static_cast<uint32_t>(tick - static_cast<uint32_t>(START_TICK + passStart));
    }

    // Free space stays on one side of the nominal threshold for hours, then
    // moves to the other; now and then it sits exactly on the line.
    void Wander(SimDrive& d)
    {
        if (random_.OneIn(600))
            d.lowRegime = !d.lowRegime;
        const uint64_t t = d.nominalThreshold;
        const uint64_t spread = t / 4;
        if (random_.OneIn(1000))
            d.free = t - random_.Below(2);  // on the line, or one byte under
        else if (random_.OneIn(1000))
            d.free = d.total * 15 / 100 + random_.Below(2);  // on the warning mark, or one byte over
        else if (d.lowRegime)
            d.free = t - 1 - random_.Below(spread);
        else
            d.free = t + random_.Below(spread);
        if (d.flaky && random_.OneIn(200))
            d.queryFails = !d.queryFails;
        if (d.comesAndGoes && random_.OneIn(400))
            d.present = !d.present;
    }

    // The settings change now and then, as an administrator's Apply would
    // have it: the stored image is read back whole, or, rarely, a short one.
    void MaybeChangeSettings()
    {
        if (!random_.OneIn(1500))
            return;
        ++totals_.settingChanges;
        DriveSettingsImage stored;
        std::memcpy(stored, settings_, sizeof stored);
        SimDrive& d = drives_[random_.Below(drives_.size())];
        switch (random_.Below(4)) {
        case 0:
            stored[d.index].Enabled = stored[d.index].Enabled ? 0 : static_cast<uint8_t>(1 + random_.Below(255));
            break;
        case 1: stored[d.index].Threshold = 0; break;  // never warns
        case 2: stored[d.index].Threshold = d.nominalThreshold / 2 + random_.Below(d.nominalThreshold); break;
        default: stored[d.index].Threshold = d.nominalThreshold; break;
        }
        uint8_t image[DRIVE_SETTINGS_SIZE];
        std::memcpy(image, stored, sizeof image);
        // A short value replaces only its leading bytes.
        size_t length = random_.OneIn(10) ? DRIVE_SETTING_SIZE * (1 + random_.Below(DRIVE_COUNT)) + random_.Below(9)
                                          : DRIVE_SETTINGS_SIZE;
        ApplyStoredSettings(settings_, image, length, true);
        nextDelay_ = RESCAN_DELAY;
    }

    void Step()
    {
        // The timer fires. Now and then (a rescan after a reload can come at
        // any moment) it fires on the very millisecond a balloon falls due.
        uint64_t next = clock_ + nextDelay_ + random_.Below(40);
        const BalloonRecord& onTime = records_[drives_[random_.Below(drives_.size())].index];
        if (onTime.iconLife && random_.OneIn(4)) {
            const uint64_t due = onTime.lastBalloon + onTime.expectedInterval;
            if (due > clock_ && due <= next)
                next = due;
        }
        clock_ = next;
        nextDelay_ = SCAN_PERIOD;

        // The taskbar: now and then it dies, stays away a few ticks, and
        // comes back empty, announcing itself.
        if (tray_.shellUp && random_.OneIn(4000)) {
            tray_.shellUp = false;
            tray_.shellIcons = 0;
            shellDownTicks_ = static_cast<int>(random_.Below(6));
        }
        if (!tray_.shellUp && shellDownTicks_-- <= 0) {
            tray_.shellUp = true;
            ++totals_.taskbarRestarts;
            iconMask_ = 0;  // what the window does on "TaskbarCreated"
            for (BalloonRecord& r : records_)
                r.iconLife = false;
        }

        for (SimDrive& d : drives_)
            Wander(d);
        MaybeChangeSettings();
        if (random_.OneIn(2000))
            tray_.forecastMinutes = tray_.forecastMinutes == 0 ? DEFAULT_FORECAST_MINUTES : 0;

        const uint32_t iconBefore = iconMask_;
        const uint32_t muteBefore = muteMask_;
        DriveTrayStateArray stateBefore;
        std::memcpy(stateBefore, trayState_, sizeof stateBefore);
        tray_.StartPass();
        const uint64_t passStart = clock_;
        ScanWatchedDrives(settings_, iconMask_, muteMask_, trayState_, tray_.levels, tray_.trends, tray_);

        for (const std::string& fault : tray_.faults)
            ADD_FAILURE() << fault << " at " << clock_ << " ms";
        tray_.faults.clear();
        EXPECT_EQ(tray_.pass.beeps, tray_.pass.failedCalls) << "one beep per failed tray call";
        totals_.beeps += tray_.pass.beeps;

        CheckPass(iconBefore, muteBefore, stateBefore, passStart);
        for (int i = 0; i < DRIVE_COUNT; ++i)
            totals_.earlyBalloons += (tray_.pass.earlyShown & DriveBit(i)) != 0 ? 1 : 0;
        UserAnswersBalloons();
    }

    void CheckPass(uint32_t iconBefore, uint32_t muteBefore, const DriveTrayStateArray& stateBefore, uint64_t passStart)
    {
        if (tray_.shellUp)
            ASSERT_EQ(iconMask_, tray_.shellIcons) << "the icons the monitor knows are the shell's";
        else
            ASSERT_EQ(iconMask_ & ~iconBefore, 0u) << "no icon appears while the taskbar is away";

        for (const SimDrive& d : drives_) {
            const int i = d.index;
            const uint32_t bit = DriveBit(i);
            BalloonRecord& record = records_[i];
            const bool hasIcon = (iconMask_ & bit) != 0;
            SCOPED_TRACE("drive " + std::string(1, static_cast<char>('A' + i)) + ", " + std::to_string(clock_) +
                         " ms into the run");

            if ((tray_.pass.measured & bit) == 0) {
                // Not measured (absent, not fixed, query failed): nothing moves.
                ASSERT_EQ(iconMask_ & bit, iconBefore & bit);
                ASSERT_EQ(muteMask_ & bit, muteBefore & bit);
                ASSERT_EQ(0, std::memcmp(&trayState_[i], &stateBefore[i], sizeof trayState_[i]));
                ASSERT_FALSE(tray_.Ballooned(i));
                if (hasIcon)
                    ++totals_.unmeasuredIconTicks;
            } else {
                const bool low = IsDriveEnabled(settings_[i]) && d.free < ThresholdOf(settings_[i]);
                const bool early = hasIcon && trayState_[i].early;
                // A low icon exactly when a measured, watched drive is low;
                // an early one only on a watched drive that is not; only a
                // missing taskbar keeps a low drive without one.
                ASSERT_TRUE(!early || (!low && IsDriveEnabled(settings_[i])));
                if (tray_.shellUp)
                    ASSERT_EQ(hasIcon && !early, low);
                else
                    ASSERT_TRUE(!hasIcon || low || early);
                ASSERT_TRUE(d.kind == DriveKind::FIXED);
                if (!hasIcon && record.iconLife)
                    record.iconLife = false;  // removed
            }

            // The back-off of an icon that went outlives it for an interval:
            // for an early icon coming back, whatever icon went; for a low
            // one, only a low one.
            const bool earlyNow = (tray_.pass.earlyShown & bit) != 0 || (hasIcon && trayState_[i].early);
            const bool kept = stateBefore[i].backOffKept && (earlyNow || stateBefore[i].goneWasLow) &&
                              static_cast<uint32_t>(tray_.pass.ticks[i] - stateBefore[i].goneTick) <=
                                  stateBefore[i].balloonInterval;
            const bool converted = (iconBefore & bit) != 0 && stateBefore[i].early && hasIcon && !trayState_[i].early;
            if (tray_.Ballooned(i)) {
                const bool earlyBalloon = (tray_.pass.earlyShown & bit) != 0;
                ASSERT_EQ(tray_.pass.kinds[i], earlyBalloon ? BALLOON_KIND_WARNING : ExpectedKind(d.free, d.total));
                const uint64_t when = TimeOf(tray_.pass.balloonTicks[i], passStart);
                if ((tray_.pass.adds[i] != 0 && !kept) || converted) {
                    // A fresh add, or an early icon that now warns of a low
                    // drive: the first balloon, unmuted, back-off afresh.
                    ASSERT_FALSE(record.iconLife && !converted) << "an icon is added only when it is not there";
                    record = BalloonRecord{ true, when, FIRST_BALLOON_INTERVAL, false };
                    ASSERT_EQ(muteMask_ & bit, 0u) << "a new icon starts unmuted";
                    ++totals_.adds;
                } else {
                    ASSERT_TRUE(record.iconLife || tray_.pass.adds[i] != 0);
                    if (tray_.pass.adds[i] != 0)
                        ++totals_.keptAdds;  // back within its back-off: the balloon keeps to it
                    ASSERT_FALSE(record.mutedByUser) << "a muted drive never balloons until re-added";
                    // Never closer than the interval in force, and the next
                    // interval is twice it, at most two hours.
                    ASSERT_GE(when - record.lastBalloon, record.expectedInterval);
                    const uint32_t next = record.expectedInterval * 2 < LARGEST_BALLOON_INTERVAL
                                              ? record.expectedInterval * 2
                                              : LARGEST_BALLOON_INTERVAL;
                    if (next == record.expectedInterval)
                        ++totals_.cappedRepeats;
                    record.iconLife = true;
                    record.expectedInterval = next;
                    record.lastBalloon = when;
                    ++totals_.repeats;
                }
            } else if (tray_.pass.adds[i] != 0 && hasIcon) {
                // Back without a balloon: only within the kept back-off,
                // before the balloon is due or while muted.
                ASSERT_TRUE(kept) << "an icon came back quietly without a kept back-off";
                ASSERT_TRUE(record.mutedByUser ||
                            TimeOf(tray_.pass.ticks[i], passStart) - record.lastBalloon <
                                record.expectedInterval);
                record.iconLife = true;
                ++totals_.quietAdds;
            } else if (record.iconLife && hasIcon && !record.mutedByUser && tray_.shellUp &&
                       (tray_.pass.measured & bit) != 0) {
                // Not late either: a due balloon is shown at the first pass on
                // or after its time (the pass's own few ms aside).
                ASSERT_LT(passStart - record.lastBalloon, static_cast<uint64_t>(record.expectedInterval))
                    << "a due balloon was not shown";
            }
            if (hasIcon && record.mutedByUser && (tray_.pass.measured & bit) != 0)
                ++totals_.mutedLowTicks;

            if (tray_.pass.deletes[i] != 0)
                ++totals_.deletes;

            if (hasIcon) {
                const uint32_t interval = trayState_[i].balloonInterval;
                ASSERT_GE(interval, FIRST_BALLOON_INTERVAL);
                ASSERT_LE(interval, LARGEST_BALLOON_INTERVAL);
                ASSERT_TRUE(IsKnownInterval(interval)) << interval;
                if (tray_.shellUp) {
                    ASSERT_TRUE(record.iconLife);
                    ASSERT_EQ(interval, record.expectedInterval);
                    ASSERT_EQ(trayState_[i].lastBalloonTick, static_cast<uint32_t>(START_TICK + record.lastBalloon));
                }
            }
        }
    }

    // Some balloons are clicked, and the user agrees to mute that drive.
    void UserAnswersBalloons()
    {
        for (const SimDrive& d : drives_) {
            const uint32_t bit = DriveBit(d.index);
            if (!tray_.Ballooned(d.index) || !random_.OneIn(12))
                continue;
            if (random_.OneIn(3))
                continue;      // answered No
            muteMask_ |= bit;  // what the window does on Yes
            records_[d.index].mutedByUser = true;
            ++totals_.mutes;
        }
    }
};

TEST(ScanSimulation, SixtyDaysAcrossTwoTickCountWraps)
{
    ScanSimulation simulation(20261208);
    Totals totals = simulation.Run();
    ASSERT_FALSE(::testing::Test::HasFailure());

    // The run covered what it is meant to cover.
    EXPECT_EQ(totals.wraps, 2);
    EXPECT_GT(totals.adds, 100);
    EXPECT_GT(totals.repeats, 1000);
    EXPECT_GT(totals.cappedRepeats, 100) << "long low stretches reach the two-hour cap";
    EXPECT_GT(totals.deletes, 100);
    EXPECT_GT(totals.mutes, 20);
    EXPECT_GT(totals.mutedLowTicks, 1000);
    EXPECT_GE(totals.taskbarRestarts, 10);
    EXPECT_GT(totals.beeps, 0) << "tray calls failed while the taskbar was away";
    EXPECT_GT(totals.settingChanges, 30);
    EXPECT_GT(totals.unmeasuredIconTicks, 100) << "icons kept while their drive could not be measured";
    EXPECT_GT(totals.quietAdds, 0) << "drives came back within their back-off";
    EXPECT_GT(totals.earlyBalloons, 0) << "the wandering free space also filled fast";
    RecordProperty("quiet_adds", totals.quietAdds);
    RecordProperty("kept_adds", totals.keptAdds);
    RecordProperty("early_balloons", totals.earlyBalloons);
    RecordProperty("adds", totals.adds);
    RecordProperty("repeats", totals.repeats);
    RecordProperty("capped_repeats", totals.cappedRepeats);
    RecordProperty("deletes", totals.deletes);
    RecordProperty("mutes", totals.mutes);
    RecordProperty("muted_low_ticks", totals.mutedLowTicks);
    RecordProperty("taskbar_restarts", totals.taskbarRestarts);
    RecordProperty("setting_changes", totals.settingChanges);
    RecordProperty("unmeasured_icon_ticks", totals.unmeasuredIconTicks);
    RecordProperty("beeps", totals.beeps);
}

}  // namespace
