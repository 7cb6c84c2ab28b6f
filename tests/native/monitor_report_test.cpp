// The reporter's role and the record of what the log was told, with the
// monitors of several users running their passes out of step over the same
// drives, through the same pass the window's timer runs (ScanWatchedDrives).
// A monitor may end, or hang, at any moment; the log must hear each change
// once.
#include <gtest/gtest.h>

#include <algorithm>
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "../fakes/FakeTray.h"
#include "MonitorLogic.h"  // the scan period
#include "ReportLogic.h"

namespace {

constexpr uint64_t MB = 1048576;
constexpr uint32_t SECOND = 1000;
constexpr int D = 3;
constexpr int E = 4;

// What the monitors share: the drives, the role, the record and the log.
struct Machine {
    uint32_t now = 0;
    std::function<uint64_t(uint32_t now)> freeSpace[DRIVE_COUNT];
    int holder = -1;  // the monitor that holds the role; -1 while it is free
    ToldDrive told[DRIVE_COUNT];
    uint32_t forecastToldAt[DRIVE_COUNT] = {};
    std::vector<std::string> log;  // "1001 D: by 0"
};

// One user's monitor: its pass, and its part in the reports.
struct Monitor : FakeTray {
    Machine& machine;
    int id;
    uint32_t firstPass;
    bool running = true;
    bool hung = false;  // holds what it holds, and does nothing
    DriveSettingsImage settings = {};
    uint32_t iconMask = 0;
    uint32_t muteMask = 0;
    DriveTrayStateArray table = {};
    ReportRoleState role;
    bool retrying = false;
    uint32_t retryDue = 0;

    Monitor(Machine& shared, int number, uint32_t first) : machine(shared), id(number), firstPass(first)
    {
        role.standing = REPORT_STANDING_WAITING;
        for (int index : { D, E }) {
            settings[index].Enabled = 1;
            settings[index].Threshold = 8 * MB;
        }
    }

    void Pass()
    {
        for (int index : { D, E })
            drives[DriveRoot(index).Text] = DriveSpace{ machine.freeSpace[index](machine.now), 16 * MB };
        StartPass();
        ScanWatchedDrives(settings, iconMask, muteMask, table, levels, trends, *this);
    }

    // Ends; a role it held is free for the next (abandoned).
    void Exit()
    {
        running = false;
        if (machine.holder == id)
            machine.holder = -1;
    }

    // The pass's report goes through the role.
    void ReportEvent(int index, DriveEvent event, const DriveSpace& space, uint64_t threshold, uint32_t minutes)
    {
        TellDriveEvent(role, index, event, EventFigures{ space.freeBytes, threshold, minutes }, *this);
    }

    // The machine, as ReportLogic.h sees it.
    bool TakeRole()
    {
        if (machine.holder < 0)
            machine.holder = id;
        return machine.holder == id;
    }
    ToldDrive ReadTold(int index)
    {
        ToldDrive told = machine.told[index];
        told.forecastTold = told.forecastTold && machine.now - machine.forecastToldAt[index] < FORECAST_TOLD_SPAN;
        return told;
    }
    void WriteTold(int index, const ToldDrive& told)
    {
        machine.told[index] = told;
        if (told.forecastTold)
            machine.forecastToldAt[index] = machine.now;
    }
    bool WriteEvent(int index, DriveEvent event, const EventFigures& figures)
    {
        std::string entry = std::to_string(event) + " " + std::string(1, static_cast<char>('A' + index)) + ":";
        if (event == DRIVE_EVENT_FILLING_FAST)
            entry += " in " + std::to_string(figures.minutes);
        machine.log.push_back(entry + " by " + std::to_string(id));
        return true;
    }
    void AdoptLevels(const DriveLevelArray& adopted) { std::copy(adopted, adopted + DRIVE_COUNT, levels); }
    void RetryLater(bool retry)
    {
        if (retry && !retrying)
            retryDue = machine.now + SCAN_PERIOD;
        retrying = retry;
    }
    uint32_t Now() { return machine.now; }
};

struct ReportFixture : ::testing::Test {
    Machine machine;
    std::deque<Monitor> monitors;

    ReportFixture()
    {
        for (auto& free : machine.freeSpace)
            free = [](uint32_t) { return 12 * MB; };
    }

    Monitor& Start(uint32_t firstPass)
    {
        return monitors.emplace_back(machine, static_cast<int>(monitors.size()), firstPass);
    }

    void SetFree(int index, uint64_t freeBytes)
    {
        machine.freeSpace[index] = [freeBytes](uint32_t) { return freeBytes; };
    }

    // Second by second until `until`: each running monitor passes once a
    // scan period from its first pass, and tries the role again when due.
    void RunUntil(uint32_t until, const std::function<bool()>& stop = nullptr)
    {
        while (machine.now < until && !(stop && stop())) {
            machine.now += SECOND;
            for (Monitor& monitor : monitors) {
                if (!monitor.running || monitor.hung)
                    continue;
                if (machine.now >= monitor.firstPass && (machine.now - monitor.firstPass) % SCAN_PERIOD == 0)
                    monitor.Pass();
                if (monitor.retrying && machine.now >= monitor.retryDue) {
                    monitor.retryDue = machine.now + SCAN_PERIOD;
                    RetryReportRole(monitor.role, monitor);
                }
            }
        }
    }

    bool Logged(const std::string& prefix) const
    {
        return std::any_of(machine.log.begin(), machine.log.end(),
                           [&](const std::string& entry) { return entry.rfind(prefix, 0) == 0; });
    }
};

// A drive of 16 MB filling fast from 15.5 MB free: 1.5 MB at `start` and
// at every scan period after it, below a threshold of 8 MB after the sixth.
std::function<uint64_t(uint32_t)> FillingFrom(uint32_t start)
{
    return [start](uint32_t now) {
        const uint64_t falls = now < start ? 0 : (now - start) / SCAN_PERIOD + 1;
        return 15 * MB + MB / 2 - std::min<uint64_t>(falls * 3 * MB / 2, 15 * MB);
    };
}

using Log = std::vector<std::string>;

}  // namespace

TEST(ReportLogic, ARecordCutBetweenItsTwoBitWritesReadsAsBeforeOrAfter)
{
    const DriveLevel levels[] = { DRIVE_LEVEL_NORMAL, DRIVE_LEVEL_LOW, DRIVE_LEVEL_VERY_LOW };
    for (DriveLevel before : levels) {
        for (DriveLevel after : levels) {
            LevelBitWrite writes[2];
            bool bits[2] = { before != DRIVE_LEVEL_NORMAL, before == DRIVE_LEVEL_VERY_LOW };  // low, very low
            LevelBitWrites(after, writes);
            bits[writes[0].veryLowBit] = writes[0].set;
            const DriveLevel between = LevelOfBits(bits[0], bits[1]);
            EXPECT_TRUE(between == before || between == after) << before << " to " << after << " reads " << between;
            bits[writes[1].veryLowBit] = writes[1].set;
            EXPECT_EQ(LevelOfBits(bits[0], bits[1]), after) << before << " to " << after;
        }
    }
}

TEST_F(ReportFixture, EachChangeIsWrittenOnceByOneOfMonitorsOutOfStep)
{
    Start(10 * SECOND);
    Start(30 * SECOND);
    Start(41 * SECOND);
    SetFree(D, 4 * MB);
    RunUntil(100 * SECOND);
    SetFree(D, MB / 2);
    RunUntil(200 * SECOND);
    SetFree(D, 12 * MB);
    RunUntil(300 * SECOND);
    EXPECT_EQ(machine.log, (Log{ "1001 D: by 0", "1002 D: by 0", "1003 D: by 0" }));
    // A user's mute is that user's own, whoever reports the changes.
    TellDriveEvent(monitors[1].role, D, DRIVE_EVENT_MUTED, EventFigures{ 12 * MB, 8 * MB, NO_ESTIMATE }, monitors[1]);
    EXPECT_EQ(machine.log.back(), "1004 D: by 1");
}

TEST_F(ReportFixture, TheNextMonitorGoesOnFromWhatTheLogWasToldNeitherRepeatingNorLosing)
{
    Monitor& first = Start(10 * SECOND);
    Start(30 * SECOND);
    SetFree(D, 4 * MB);
    // The reporter tells D: low and ends before the other's pass sees it.
    RunUntil(15 * SECOND);
    first.Exit();
    RunUntil(40 * SECOND);
    // With no reporter, the recovery is told by the monitor that sees it,
    // and so is the next change.
    SetFree(D, 12 * MB);
    RunUntil(100 * SECOND);
    SetFree(E, 4 * MB);
    RunUntil(200 * SECOND);
    EXPECT_EQ(machine.log, (Log{ "1001 D: by 0", "1003 D: by 1", "1001 E: by 1" }));
}

TEST_F(ReportFixture, AChangeTheReporterNeverToldIsToldByTheMonitorThatSawIt)
{
    Monitor& first = Start(10 * SECOND);
    Monitor& second = Start(30 * SECOND);
    SetFree(E, 4 * MB);
    RunUntil(40 * SECOND);
    // The reporter hangs; the other sees D: low, and keeps it while the
    // role is held, without writing it.
    first.hung = true;
    SetFree(D, 4 * MB);
    RunUntil(80 * SECOND);
    EXPECT_EQ(machine.log, (Log{ "1001 E: by 0" }));
    EXPECT_TRUE(second.retrying);
    // The reporter ends: the next try takes the role, and the next pass
    // tells D: once, and E: not again.
    first.Exit();
    RunUntil(300 * SECOND);
    EXPECT_EQ(machine.log, (Log{ "1001 E: by 0", "1001 D: by 1" }));
    EXPECT_FALSE(second.retrying);
}

TEST_F(ReportFixture, AFillTheReporterToldIsNotToldAgainByTheNext)
{
    Monitor& first = Start(10 * SECOND);
    Start(30 * SECOND);
    SetFree(E, 4 * MB);
    machine.freeSpace[D] = FillingFrom(15 * SECOND);
    RunUntil(400 * SECOND, [&] { return Logged("1005"); });
    first.Exit();
    RunUntil(400 * SECOND);
    ASSERT_EQ(machine.log.size(), 3u) << machine.log.back();
    EXPECT_EQ(machine.log[0], "1001 E: by 0");
    EXPECT_EQ(machine.log[1].substr(0, 8), "1005 D: ");
    EXPECT_EQ(machine.log[1].substr(machine.log[1].size() - 5), " by 0");
    EXPECT_EQ(machine.log[2], "1001 D: by 1");
}

TEST_F(ReportFixture, AFillOnlyAWaitingMonitorSawIsToldWhenItTakesTheRole)
{
    Monitor& first = Start(30 * SECOND);
    Monitor& second = Start(55 * SECOND);
    SetFree(E, 4 * MB);
    machine.freeSpace[D] = FillingFrom(80 * SECOND);
    // The second sees the fill at 190 s, 20 s before the reporter would;
    // the reporter hangs and ends in between.
    RunUntil(195 * SECOND);
    EXPECT_EQ(machine.log, (Log{ "1001 E: by 0" }));
    EXPECT_TRUE(second.retrying);
    first.hung = true;
    RunUntil(200 * SECOND);
    first.Exit();
    RunUntil(400 * SECOND);
    EXPECT_EQ(machine.log, (Log{ "1001 E: by 0", "1005 D: in 2 by 1", "1001 D: by 1" }));
}
