// The drive scan's decisions: when a drive is low, which balloon icon it
// gets, when a repeat balloon is due, and what a pass does for each drive.
// No Windows headers: the pass runs here over plain facts, and the window
// side supplies the queries and the tray calls.
#pragma once

#include <cstddef>
#include <cstdint>

#include "DriveRoots.h"
#include "DriveSettingsRecord.h"

// Back-off of one drive's balloons. It lives while the drive has a tray
// icon, and outlives the icon for one interval: a drive that crosses its
// threshold back and forth keeps its back-off instead of starting afresh
// with a balloon at every crossing.
struct DriveTrayState {
    uint32_t lastBalloonTick;  // tick count of the add or of the last repeat balloon
    uint32_t balloonInterval;  // ms that must pass after lastBalloonTick
    uint32_t goneTick;         // when the icon last went (recovered, or the fill stopped)
    bool backOffKept;          // the icon went since the last fresh add: the back-off above still counts
    bool early;                // the icon warns of a drive filling fast, not of a low one
    bool goneWasLow;           // the icon that went warned of a low drive (a first crossing after an
                               // early icon still warns at once)
};

typedef DriveTrayState DriveTrayStateArray[DRIVE_COUNT];

constexpr uint32_t FIRST_BALLOON_INTERVAL = 300000;     // 5 minutes
constexpr uint32_t LARGEST_BALLOON_INTERVAL = 7200000;  // 2 hours

// Balloon icon kinds, with the values of the shell's NIIF_INFO,
// NIIF_WARNING and NIIF_ERROR.
enum BalloonKind : uint32_t {
    BALLOON_KIND_INFO = 1,
    BALLOON_KIND_WARNING = 2,
    BALLOON_KIND_ERROR = 3,
};

// What one pass does with a drive it could query.
enum TrayAction {
    TRAY_ACTION_NONE,            // nothing to do (no icon and not low; balloon not due; muted)
    TRAY_ACTION_ADD,             // low without an icon: add the icon with its first balloon
    TRAY_ACTION_REPEAT_BALLOON,  // low with an icon, balloon due and not muted
    TRAY_ACTION_DELETE,          // has an icon but is no longer low (nor filling fast)
    TRAY_ACTION_ADD_QUIET,       // low again within its back-off: the icon comes back without a balloon
    TRAY_ACTION_ADD_EARLY,       // filling fast without an icon: the icon with a forecast balloon
    TRAY_ACTION_ADD_EARLY_QUIET, // filling fast again within its back-off: the icon without a balloon
    TRAY_ACTION_REPEAT_EARLY,    // filling fast with its icon, balloon due and not muted
    TRAY_ACTION_EARLY_TO_LOW,    // its early icon now warns of a low drive, with the low balloon at once
};

// What the pass measured for a drive: only fixed drives whose free-space
// query succeeded take part.
struct DriveSpace {
    uint64_t freeBytes;   // free bytes available to the user
    uint64_t totalBytes;  // total bytes available to the user
};

inline uint32_t DriveBit(int driveIndex)
{
    return 1u << driveIndex;
}

// How low a drive is, as the event log was last told; normal at start.
enum DriveLevel : uint8_t {
    DRIVE_LEVEL_NORMAL,
    DRIVE_LEVEL_LOW,
    DRIVE_LEVEL_VERY_LOW,  // low, and below the very-low limit (the balloon's error icon)
};

typedef DriveLevel DriveLevelArray[DRIVE_COUNT];

// The events the monitor reports, by the message ids of its message table
// (BrimlineEvents.mc; the Win32 side pins them to the compiled ids).
enum DriveEvent : uint32_t {
    DRIVE_EVENT_NONE = 0,
    DRIVE_EVENT_LOW = 1001,        // warning: went below its threshold
    DRIVE_EVENT_VERY_LOW = 1002,   // error: below its threshold and very low
    DRIVE_EVENT_RECOVERED = 1003,  // information: no longer low
    DRIVE_EVENT_MUTED = 1004,      // information: the user muted its balloons
    DRIVE_EVENT_FILLING_FAST = 1005,  // warning: falls below its threshold within the horizon, at its rate
};

// ---------------------------------------------------------------- forecast
//
// A watched drive whose free space the passes see falling steadily, and
// that at that rate falls below its threshold within the horizon, is
// filling fast: it gets an early icon before it is low. The rules follow
// the server monitors' way of avoiding false alarms on a trend: a level
// gate (the threshold within the horizon), a fitting window (a least-squares
// rate over the run of falling samples, at most about ten minutes), a hold
// time (at least three passes, each a fall beyond the drive's jitter
// allowance, and two minutes of fill as the passes saw it: the whole drop
// at the fastest rate seen between two passes) and a minimum drop, the
// allowance and the drop scaled to the drive's capacity within fixed
// bounds, so that the same rules serve a 64 MB drive and a 4 TB one. The fill counts as stopped
// after two passes without such a fall. Only the free space the passes
// already measure is used: no extra query.

constexpr uint32_t DEFAULT_FORECAST_MINUTES = 60;
constexpr uint32_t LONGEST_FORECAST_MINUTES = 7 * 24 * 60;  // a larger policy value is read as this
constexpr size_t FILL_HISTORY = 14;                          // samples of the run kept: about ten minutes
constexpr uint32_t MIN_FILL_SPAN = 120000;                   // ms of fill a steady fill is seen over
constexpr uint8_t MIN_FILL_STEPS = 3;                        // falling passes it takes, at least
constexpr uint8_t STILL_STEPS_TO_STOP = 2;                   // passes without a fall that end it
constexpr uint32_t MIN_SAMPLE_SPACING = 30000;               // ms: a rescan soon after a pass adds no sample
constexpr uint32_t LONGEST_SAMPLE_GAP = 150000;              // ms: after a longer gap (sleep) the run starts afresh
constexpr uint32_t NO_ESTIMATE = 0xFFFFFFFF;                 // minutes not known

// The fall of free space between two passes that counts as a fall, not
// jitter: a thousandth of the capacity, at least 1 MiB and at most 8 MiB.
// A steady fill must drop four times that over its run.
uint64_t FillJitterAllowance(uint64_t totalBytes);

struct FillSample {
    uint32_t tick;
    uint64_t freeBytes;
};

// One watched drive's run of falling samples, oldest first.
struct DriveTrend {
    FillSample samples[FILL_HISTORY];
    uint8_t count;         // samples in the run (0: none yet)
    uint8_t stillSteps;    // passes in a row without a fall; STILL_STEPS_TO_STOP after a break
    uint64_t totalBytes;   // the capacity the samples were taken at
    uint64_t bytesPerMinute;  // the rate of the last steady fill, 0 when none
};

typedef DriveTrend DriveTrendArray[DRIVE_COUNT];

// Adds a pass's measure of a watched drive. A sample too soon after the
// last one is left out; a changed capacity or a long gap starts the run
// afresh and counts as a stop; a fall beyond the jitter allowance extends
// the run; anything else starts it afresh from this sample.
void AddFillSample(DriveTrend& trend, uint32_t now, const DriveSpace& space);

// Forgets a drive's samples (no longer watched).
void ClearFillSamples(DriveTrend& trend);

// Whether the run is a steady fill: enough falling passes over long
// enough, and a noticeable drop.
bool IsSteadyFill(const DriveTrend& trend);

// Minutes, rounded up, until the drive falls below `threshold` and until
// it is full, at the trend's rate from `freeBytes`: NO_ESTIMATE without a
// rate.
struct FillForecast {
    uint32_t minutesToThreshold = NO_ESTIMATE;
    uint32_t minutesToFull = NO_ESTIMATE;
};
FillForecast EstimateFill(const DriveTrend& trend, uint64_t freeBytes, uint64_t threshold);

// Whether a drive that is not low is filling fast: a steady fill that
// reaches the threshold within `horizonMinutes` starts an episode; one
// under way goes on until the fill stops, while the estimate stays within
// twice the horizon. A horizon of 0 switches forecasts off.
bool IsFillingFast(const DriveTrend& trend, const FillForecast& forecast, bool episodeUnderWay,
                   uint32_t horizonMinutes);

// The administrator's horizon as stored (a 4-byte REG_DWORD, or none):
// minutes, DEFAULT_FORECAST_MINUTES when not set, 0 switches forecasts off.
uint32_t ForecastHorizonFromPolicy(bool present, uint32_t minutes);

// Low: the drive is watched and its free space is strictly below the threshold.
bool IsDriveLow(uint64_t freeBytes, const DriveSetting& setting);

// Error below 1 MiB, warning at or below 15 % of the total, information above.
BalloonKind BalloonKindFor(uint64_t freeBytes, uint64_t totalBytes);

// Whether the time since the last balloon (modulo 2^32, so that the wrap of
// the tick count is harmless) has reached the interval.
bool IsBalloonDue(uint32_t now, uint32_t lastBalloonTick, uint32_t balloonInterval);

// The interval after a repeat balloon: doubled, at most two hours.
uint32_t NextBalloonInterval(uint32_t balloonInterval);

TrayAction DecideTrayAction(bool low, bool hasIcon, bool muted, bool balloonDue);

// What a pass does with a drive, the forecast and the kept back-off
// included. `keptBackOff`: the drive's icon went within its interval, so
// that its back-off still counts (KeepsBackOff); `keptFromLow`: that icon
// warned of a low drive; `balloonDue`: the back-off allows a balloon now.
// A low drive without an icon gets it back quietly while the back-off of a
// low icon holds; a drive filling fast, while any holds; an early icon
// becomes a low one with the low balloon at once.
TrayAction DecideDriveAction(bool low, bool fillingFast, bool hasIcon, bool iconEarly, bool muted, bool balloonDue,
                             bool keptBackOff, bool keptFromLow);

// Whether a drive's back-off outlives its icon at `now`: the icon went
// since the last fresh add, no longer ago than the drive's interval.
bool KeepsBackOff(const DriveTrayState& state, uint32_t now);

// The level of a drive the pass measured: very low by the rule that picks
// the balloon's error icon.
DriveLevel DriveLevelFor(bool low, const DriveSpace& space);

// The event of a move between levels: none when the level stays, so that a
// drive that stays low (balloon after balloon) is reported once.
DriveEvent DriveEventFor(DriveLevel before, DriveLevel after);

// Mutes a drive's balloons; the event to report when it was not muted yet.
DriveEvent MuteDrive(int driveIndex, uint32_t& muteMask);

// Bookkeeping after a successful add: first balloon now, 5 minutes to the
// next, icon recorded, mute cleared.
void RecordIconAdded(int driveIndex, uint32_t now, uint32_t& iconMask, uint32_t& muteMask, DriveTrayStateArray& table);

// Bookkeeping after a successful repeat balloon.
void RecordBalloonRepeated(DriveTrayState& state, uint32_t now);

// Bookkeeping after an icon went: its back-off is kept for one interval.
void RecordIconGone(DriveTrayState& state, uint32_t now);

// The drives a pass looks at: the watched ones, and those that still carry
// an icon or whose last reported level is not normal (so that a drive no
// longer watched loses its icon and reports its recovery). No other drive
// is asked anything.
uint32_t DrivesToScan(const DriveSettingsImage& settings, uint32_t iconMask, const DriveLevelArray& levels);

// One pass over the drives of DrivesToScan, in letter order, each by its
// root ("C:\\" for index 2). `tray` supplies the facts and carries out the
// calls:
//   bool QuerySpace(const wchar_t* root, DriveSpace* space)  free space and total
//   bool IsFixed(const wchar_t* root)                        a local fixed drive
//   uint32_t Now()                                           tick count
//   uint32_t ForecastMinutes()                               the horizon (ForecastHorizonFromPolicy)
//   bool AddIcon(int index, const DriveSpace&, BalloonKind, const FillForecast&)
//                                       low: icon, tip and first balloon (a time-to-full line when known)
//   bool RepeatBalloon(int index, const DriveSpace&, BalloonKind, const FillForecast&)
//                                       low: a balloon (and the low tip) on the icon
//   bool AddQuietIcon(int index, const DriveSpace&, bool early, const FillForecast&)
//                                       icon and tip, no balloon
//   bool AddEarlyIcon(int index, const DriveSpace&, const FillForecast&)
//                                       filling fast: icon, tip and forecast balloon
//   bool RepeatEarlyBalloon(int index, const DriveSpace&, const FillForecast&)
//   bool DeleteIcon(int index)
//   void Beep()                                              a tray call failed
//   void ReportEvent(int index, DriveEvent, const DriveSpace&, uint64_t threshold, uint32_t minutes)
// Only a local fixed drive whose free-space query succeeds takes part; any
// other keeps its icon and state. The drive's type is asked only when the
// pass has something to do for it: a drive that stays as it was needs one
// free-space query and nothing else, whatever its type; the horizon is
// asked only in a pass where some drive is filling steadily or shows its
// early icon. The event log hears of a drive only when its level changes
// (`levels`), whatever the tray calls do, and of a drive filling fast once
// an episode, at its first balloon. A drive low again within its kept
// back-off is told to the log when its balloon would be due, not at each
// crossing, so that a drive hovering at its threshold brings no more
// events than balloons.
template <typename Tray>
void ScanWatchedDrives(const DriveSettingsImage& settings, uint32_t& iconMask, uint32_t& muteMask,
                       DriveTrayStateArray& table, DriveLevelArray& levels, DriveTrendArray& trends, Tray& tray)
{
    const uint32_t candidates = DrivesToScan(settings, iconMask, levels);
    bool horizonKnown = false;
    uint32_t horizon = 0;
    for (int index = 0; index < DRIVE_COUNT; ++index) {
        const uint32_t bit = DriveBit(index);
        if ((candidates & bit) == 0)
            continue;
        const DriveRootText root = DriveRoot(index);
        DriveSpace space = {};
        if (!tray.QuerySpace(root.Text, &space))
            continue;
        DriveTrayState& state = table[index];
        DriveTrend& trend = trends[index];
        const bool watched = IsDriveEnabled(settings[index]);
        const bool low = IsDriveLow(space.freeBytes, settings[index]);
        const bool hasIcon = (iconMask & bit) != 0;
        const bool iconEarly = hasIcon && state.early;
        const uint32_t now = tray.Now();
        if (watched)
            AddFillSample(trend, now, space);
        else
            ClearFillSamples(trend);

        const uint64_t threshold = ThresholdOf(settings[index]);
        const bool steady = watched && IsSteadyFill(trend);
        FillForecast forecast;
        if (steady || iconEarly)
            forecast = EstimateFill(trend, space.freeBytes, threshold);
        bool fillingFast = false;
        if (watched && !low && (steady || iconEarly)) {
            if (!horizonKnown) {
                horizon = tray.ForecastMinutes();
                horizonKnown = true;
            }
            fillingFast = IsFillingFast(trend, forecast, iconEarly, horizon);
        }
        // The time-to-full line of a low drive comes only with a steady fill.
        const FillForecast lowForecast = steady ? forecast : FillForecast();

        const bool keptBackOff = KeepsBackOff(state, now);
        const bool keptFromLow = keptBackOff && state.goneWasLow;
        const bool due = IsBalloonDue(now, state.lastBalloonTick, state.balloonInterval);
        const TrayAction action = DecideDriveAction(low, fillingFast, hasIcon, iconEarly, (muteMask & bit) != 0, due,
                                                    keptBackOff, state.goneWasLow);
        const DriveLevel level = DriveLevelFor(low, space);
        DriveEvent event = DriveEventFor(levels[index], level);
        // Low again within the kept back-off: the log hears of it when the
        // balloon is due, as the balloon would come.
        if (levels[index] == DRIVE_LEVEL_NORMAL && level != DRIVE_LEVEL_NORMAL && keptFromLow && !due)
            event = DRIVE_EVENT_NONE;
        if (action == TRAY_ACTION_ADD_EARLY && !keptBackOff)
            event = DRIVE_EVENT_FILLING_FAST;
        if (event == DRIVE_EVENT_NONE && action == TRAY_ACTION_NONE)
            continue;
        if (!tray.IsFixed(root.Text))
            continue;
        if (event != DRIVE_EVENT_NONE) {
            const uint32_t minutes = event == DRIVE_EVENT_FILLING_FAST ? forecast.minutesToThreshold : NO_ESTIMATE;
            tray.ReportEvent(index, event, space, threshold, minutes);
            if (event != DRIVE_EVENT_FILLING_FAST)
                levels[index] = level;
        }
        const BalloonKind kind = BalloonKindFor(space.freeBytes, space.totalBytes);
        bool done = true;
        switch (action) {
        case TRAY_ACTION_ADD:
        case TRAY_ACTION_ADD_EARLY:
            // Back after its kept back-off, the balloon keeps to it; else
            // the back-off starts afresh.
            done = action == TRAY_ACTION_ADD ? tray.AddIcon(index, space, kind, lowForecast)
                                             : tray.AddEarlyIcon(index, space, forecast);
            if (done && (action == TRAY_ACTION_ADD ? keptFromLow : keptBackOff))
                RecordBalloonRepeated(state, now);
            else if (done)
                RecordIconAdded(index, now, iconMask, muteMask, table);
            break;
        case TRAY_ACTION_ADD_QUIET:
        case TRAY_ACTION_ADD_EARLY_QUIET:
            done = tray.AddQuietIcon(index, space, action == TRAY_ACTION_ADD_EARLY_QUIET,
                                     action == TRAY_ACTION_ADD_EARLY_QUIET ? forecast : lowForecast);
            break;
        case TRAY_ACTION_REPEAT_BALLOON:
            done = tray.RepeatBalloon(index, space, kind, lowForecast);
            if (done)
                RecordBalloonRepeated(state, now);
            break;
        case TRAY_ACTION_REPEAT_EARLY:
            done = tray.RepeatEarlyBalloon(index, space, forecast);
            if (done)
                RecordBalloonRepeated(state, now);
            break;
        case TRAY_ACTION_EARLY_TO_LOW:
            // The first crossing warns at once, as a fresh add does.
            done = tray.RepeatBalloon(index, space, kind, lowForecast);
            if (done)
                RecordIconAdded(index, now, iconMask, muteMask, table);
            break;
        case TRAY_ACTION_DELETE:
            // The icon is forgotten even when the shell refused the delete.
            done = tray.DeleteIcon(index);
            iconMask &= ~bit;
            RecordIconGone(state, now);
            break;
        case TRAY_ACTION_NONE: break;
        }
        if (!done)
            tray.Beep();
        if (done && action != TRAY_ACTION_NONE && action != TRAY_ACTION_DELETE) {
            iconMask |= bit;
            state.early = action == TRAY_ACTION_ADD_EARLY || action == TRAY_ACTION_ADD_EARLY_QUIET ||
                          action == TRAY_ACTION_REPEAT_EARLY;
        }
    }
}
