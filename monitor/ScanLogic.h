// The drive scan's decisions: when a drive is low, which balloon icon it
// gets, when a repeat balloon is due, and what a pass does for each drive.
// No Windows headers: the pass runs here over plain facts, and the window
// side supplies the queries and the tray calls.
#pragma once

#include <cstddef>
#include <cstdint>

#include "DriveRoots.h"
#include "DriveSettingsRecord.h"

// Back-off of one drive's repeat balloons; meaningful only while the drive
// has a tray icon.
struct DriveTrayState {
    uint32_t lastBalloonTick;  // tick count of the add or of the last repeat balloon
    uint32_t balloonInterval;  // ms that must pass after lastBalloonTick
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
    TRAY_ACTION_DELETE,          // has an icon but is no longer low
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
};

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
//   bool AddIcon(int index, const DriveSpace&, BalloonKind)  icon, tip and first balloon
//   bool RepeatBalloon(int index, const DriveSpace&, BalloonKind)
//   bool DeleteIcon(int index)
//   void Beep()                                              a tray call failed
//   void ReportEvent(int index, DriveEvent, const DriveSpace&, uint64_t threshold)
// Only a local fixed drive whose free-space query succeeds takes part; any
// other keeps its icon and state. The drive's type is asked only when the
// pass has something to do for it: a drive that stays as it was needs one
// free-space query and nothing else, whatever its type. The event log hears
// of a drive only when its level changes (`levels`), whatever the tray
// calls do.
template <typename Tray>
void ScanWatchedDrives(const DriveSettingsImage& settings, uint32_t& iconMask, uint32_t& muteMask,
                       DriveTrayStateArray& table, DriveLevelArray& levels, Tray& tray)
{
    const uint32_t candidates = DrivesToScan(settings, iconMask, levels);
    for (int index = 0; index < DRIVE_COUNT; ++index) {
        const uint32_t bit = DriveBit(index);
        if ((candidates & bit) == 0)
            continue;
        const DriveRootText root = DriveRoot(index);
        DriveSpace space = {};
        if (!tray.QuerySpace(root.Text, &space))
            continue;
        const bool low = IsDriveLow(space.freeBytes, settings[index]);
        const DriveLevel level = DriveLevelFor(low, space);
        const DriveEvent event = DriveEventFor(levels[index], level);
        const bool hasIcon = (iconMask & bit) != 0;
        uint32_t now = 0;
        bool due = false;
        if (low) {
            now = tray.Now();
            due = hasIcon && IsBalloonDue(now, table[index].lastBalloonTick, table[index].balloonInterval);
        }
        const TrayAction action = DecideTrayAction(low, hasIcon, (muteMask & bit) != 0, due);
        if (event == DRIVE_EVENT_NONE && action == TRAY_ACTION_NONE)
            continue;
        if (!tray.IsFixed(root.Text))
            continue;
        if (event != DRIVE_EVENT_NONE) {
            tray.ReportEvent(index, event, space, ThresholdOf(settings[index]));
            levels[index] = level;
        }
        switch (action) {
        case TRAY_ACTION_ADD:
            if (tray.AddIcon(index, space, BalloonKindFor(space.freeBytes, space.totalBytes)))
                RecordIconAdded(index, now, iconMask, muteMask, table);
            else
                tray.Beep();
            break;
        case TRAY_ACTION_REPEAT_BALLOON:
            if (tray.RepeatBalloon(index, space, BalloonKindFor(space.freeBytes, space.totalBytes)))
                RecordBalloonRepeated(table[index], now);
            else
                tray.Beep();
            break;
        case TRAY_ACTION_DELETE:
            // The icon is forgotten even when the shell refused the delete.
            if (!tray.DeleteIcon(index))
                tray.Beep();
            iconMask &= ~bit;
            break;
        case TRAY_ACTION_NONE: break;
        }
    }
}
