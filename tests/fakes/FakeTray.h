// The machine and notification area a scan pass (ScanWatchedDrives) sees,
// outside Windows: the native tests script it, the simulation runs it for
// sixty days, the fuzz target draws it from its input.
//
// A root's free space comes from `drives` (no entry: the query fails)
// unless `query` answers instead; a root in `notFixed` answers the query
// but is not a local fixed drive. The tick count is `now`
// unless `clock` gives it. The shell holds the icons added and not yet
// deleted. A tray call succeeds when the shell is up, that kind of call is
// let succeed, and, for a repeat or a delete, the shell has the icon.
// Every call is recorded for the pass, and so is every call that breaks
// the pass's rules (a call for a drive other than the one just measured or
// whose type was not asked, a space other than the one measured, an add of an icon the shell has, the
// same event twice in a row for a drive, a recovery never preceded by a
// warning). The levels the event log was told of live here too: a pass is
// run with `levels` as its DriveLevelArray.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "DriveRoots.h"
#include "ScanLogic.h"

struct FakeTray {
    // The machine.
    std::map<std::wstring, DriveSpace> drives;
    std::function<bool(const wchar_t* root, DriveSpace* space)> query;
    std::set<std::wstring> notFixed;
    uint32_t now = 1000;
    std::function<uint32_t()> clock;
    // The drive index a root stands for: its own letter, unless set.
    std::function<int(const wchar_t* root)> indexOf;

    // The notification area.
    bool shellUp = true;
    bool addSucceeds = true;
    bool repeatSucceeds = true;
    bool deleteSucceeds = true;
    uint32_t shellIcons = 0;

    // The event log's side: the pass's state, and the events it reported.
    DriveLevelArray levels = {};
    // The forecast: each watched drive's trend, and the administrator's
    // horizon (asked through ForecastMinutes).
    DriveTrendArray trends = {};
    uint32_t forecastMinutes = DEFAULT_FORECAST_MINUTES;

    // What the pass since StartPass did. The counts are of calls made; a
    // balloon is shown only by a call that succeeded.
    struct Pass {
        uint32_t queried = 0;      // drives whose free space was asked
        uint32_t typeChecked = 0;  // drives whose type was asked
        uint32_t measured = 0;     // fixed drives whose query succeeded
        uint32_t shown = 0;     // drives whose balloon (with an add or a repeat) was shown
        uint32_t earlyShown = 0;  // ... of them, those whose balloon warned of a drive filling fast
        int adds[DRIVE_COUNT] = {};
        int repeats[DRIVE_COUNT] = {};
        int deletes[DRIVE_COUNT] = {};
        BalloonKind kinds[DRIVE_COUNT] = {};  // of the last balloon
        uint32_t balloonTicks[DRIVE_COUNT] = {};
        uint32_t ticks[DRIVE_COUNT] = {};  // the tick count the pass took for each drive it measured
        DriveSpace spaces[DRIVE_COUNT] = {};
        int horizonAsked = 0;
        int beeps = 0;
        int failedCalls = 0;
        DriveEvent events[DRIVE_COUNT] = {};  // DRIVE_EVENT_NONE when none was reported
    } pass;
    // "add 2 kind 3", "balloon 2 kind 2", "delete 2", "beep"; with a
    // time-to-full line "add 2 kind 2 full 14"; "quiet 2", "quiet early 2",
    // "early 2 in 30 full 52", "early balloon 2 in 20 full 40".
    std::vector<std::string> calls;
    std::vector<std::string> events;  // of the pass: "1001 drive 2 free 5 threshold 9"
    std::vector<std::string> faults;

    void StartPass()
    {
        pass = Pass();
        calls.clear();
        events.clear();
        lastMeasured_ = -1;
    }

    bool Ballooned(int index) const { return (pass.shown & DriveBit(index)) != 0; }

    // The pass's side.
    bool QuerySpace(const wchar_t* root, DriveSpace* space)
    {
        lastMeasured_ = -1;
        lastTick_ = 0;
        bool ok;
        if (query) {
            ok = query(root, space);
        } else {
            auto found = drives.find(root);
            ok = found != drives.end();
            if (ok)
                *space = found->second;
        }
        const int index = IndexOf(root);
        if (index >= 0 && index < DRIVE_COUNT) {
            pass.queried |= DriveBit(index);
            if (ok && notFixed.count(root) == 0) {
                lastMeasured_ = index;
                pass.measured |= DriveBit(index);
                pass.spaces[index] = *space;
            }
        }
        return ok;
    }
    bool IsFixed(const wchar_t* root)
    {
        const int index = IndexOf(root);
        if (index >= 0 && index < DRIVE_COUNT)
            pass.typeChecked |= DriveBit(index);
        return notFixed.count(root) == 0;
    }
    uint32_t Now()
    {
        lastTick_ = clock ? clock() : now;
        if (lastMeasured_ >= 0)
            pass.ticks[lastMeasured_] = lastTick_;
        return lastTick_;
    }
    uint32_t ForecastMinutes()
    {
        pass.horizonAsked++;
        return forecastMinutes;
    }
    bool AddIcon(int index, const DriveSpace& space, BalloonKind kind, const FillForecast& forecast)
    {
        return Add(index, space, "add " + std::to_string(index) + " kind " + std::to_string(kind) + Full(forecast),
                   &kind);
    }
    bool AddQuietIcon(int index, const DriveSpace& space, bool early, const FillForecast&)
    {
        return Add(index, space, std::string(early ? "quiet early " : "quiet ") + std::to_string(index), nullptr);
    }
    bool AddEarlyIcon(int index, const DriveSpace& space, const FillForecast& forecast)
    {
        const BalloonKind kind = BALLOON_KIND_WARNING;
        const bool added = Add(index, space, "early " + std::to_string(index) + Minutes(forecast), &kind);
        if (added)
            pass.earlyShown |= DriveBit(index);
        return added;
    }
    bool RepeatBalloon(int index, const DriveSpace& space, BalloonKind kind, const FillForecast& forecast)
    {
        return Repeat(index, space, "balloon " + std::to_string(index) + " kind " + std::to_string(kind) +
                                        Full(forecast), kind);
    }
    bool RepeatEarlyBalloon(int index, const DriveSpace& space, const FillForecast& forecast)
    {
        const bool shown =
            Repeat(index, space, "early balloon " + std::to_string(index) + Minutes(forecast), BALLOON_KIND_WARNING);
        if (shown)
            pass.earlyShown |= DriveBit(index);
        return shown;
    }
    bool DeleteIcon(int index)
    {
        if (!Check(index, nullptr, "delete"))
            return false;
        pass.deletes[index]++;
        calls.push_back("delete " + std::to_string(index));
        if (!Succeeds(deleteSucceeds, (shellIcons & DriveBit(index)) != 0))
            return false;
        shellIcons &= ~DriveBit(index);
        return true;
    }
    void Beep()
    {
        pass.beeps++;
        calls.push_back("beep");
    }
    void ReportEvent(int index, DriveEvent event, const DriveSpace& space, uint64_t threshold, uint32_t minutes)
    {
        if (!Check(index, &space, "event"))
            return;
        // A level is told once per change; a drive filling fast once per
        // episode, and two episodes may follow each other.
        if (event != DRIVE_EVENT_FILLING_FAST) {
            if (event == lastEvent_[index])
                faults.push_back("event " + std::to_string(event) + " twice in a row, drive " +
                                 std::to_string(index));
            if (event == DRIVE_EVENT_RECOVERED && lastEvent_[index] == DRIVE_EVENT_NONE)
                faults.push_back("recovery of drive " + std::to_string(index) + " that was never low");
            lastEvent_[index] = event;
        }
        pass.events[index] = event;
        events.push_back(std::to_string(event) + " drive " + std::to_string(index) + " free " +
                         std::to_string(space.freeBytes) + " threshold " + std::to_string(threshold) +
                         (minutes != NO_ESTIMATE ? " minutes " + std::to_string(minutes) : std::string()));
    }

private:
    int lastMeasured_ = -1;
    uint32_t lastTick_ = 0;
    DriveEvent lastEvent_[DRIVE_COUNT] = {};

    int IndexOf(const wchar_t* root) const { return indexOf ? indexOf(root) : DriveIndexOfRoot(root); }

    static std::string Full(const FillForecast& forecast)
    {
        return forecast.minutesToFull != NO_ESTIMATE ? " full " + std::to_string(forecast.minutesToFull)
                                                      : std::string();
    }
    static std::string Minutes(const FillForecast& forecast)
    {
        return " in " + std::to_string(forecast.minutesToThreshold) + " full " +
               std::to_string(forecast.minutesToFull);
    }
    // An add, with a balloon of `kind` unless it is null.
    bool Add(int index, const DriveSpace& space, const std::string& call, const BalloonKind* kind)
    {
        if (!Check(index, &space, "add"))
            return false;
        if ((shellIcons & DriveBit(index)) != 0)
            faults.push_back("add of an icon the shell already has, drive " + std::to_string(index));
        pass.adds[index]++;
        if (kind != nullptr)
            Balloon(index, *kind);
        calls.push_back(call);
        if (!Succeeds(addSucceeds, true))
            return false;
        shellIcons |= DriveBit(index);
        if (kind != nullptr)
            pass.shown |= DriveBit(index);
        return true;
    }
    bool Repeat(int index, const DriveSpace& space, const std::string& call, BalloonKind kind)
    {
        if (!Check(index, &space, "repeat"))
            return false;
        pass.repeats[index]++;
        Balloon(index, kind);
        calls.push_back(call);
        if (!Succeeds(repeatSucceeds, (shellIcons & DriveBit(index)) != 0))
            return false;
        pass.shown |= DriveBit(index);
        return true;
    }

    // False for an index outside the drives, which no call may carry.
    bool Check(int index, const DriveSpace* space, const char* what)
    {
        if (index < 0 || index >= DRIVE_COUNT || index != lastMeasured_) {
            faults.push_back(std::string(what) + " for drive " + std::to_string(index) + " not just measured");
            return index >= 0 && index < DRIVE_COUNT;
        }
        if ((pass.typeChecked & DriveBit(index)) == 0)
            faults.push_back(std::string(what) + " for drive " + std::to_string(index) + " not known to be fixed");
        if (space != nullptr &&
            (space->freeBytes != pass.spaces[index].freeBytes || space->totalBytes != pass.spaces[index].totalBytes))
            faults.push_back(std::string(what) + " for drive " + std::to_string(index) + " with another space");
        return true;
    }
    void Balloon(int index, BalloonKind kind)
    {
        pass.kinds[index] = kind;
        pass.balloonTicks[index] = lastTick_;
    }
    bool Succeeds(bool allowed, bool shellAgrees)
    {
        if (shellUp && allowed && shellAgrees)
            return true;
        pass.failedCalls++;
        return false;
    }
};

// One monitor's state between passes, as the window keeps it in its
// file-level variables, and a pass over it against the fake.
struct MonitorPassState {
    DriveSettingsImage settings = {};
    uint32_t iconMask = 0;
    uint32_t muteMask = 0;
    DriveTrayStateArray table = {};
    FakeTray tray;

    void RunPass()
    {
        tray.StartPass();
        ScanWatchedDrives(settings, iconMask, muteMask, table, tray.levels, tray.trends, tray);
    }
};
