// Which monitor writes the drives' changes to the event log, and what the
// log was told of each drive. Every user's monitor scans the same drives
// with the same settings, so that on a computer of many users the log would
// hear of each change once per user. One monitor at a time holds the
// reporter's role and writes the changes (events 1001, 1002, 1003, 1005);
// the others write none of them. A mute (1004) is the user's own and is
// always written.
//
// The monitors' passes are not in step: another monitor may see a change
// before the reporter or after it. So the reporter keeps a machine-wide
// record of what the log was told of each drive, and the monitor that takes
// the role next adopts it as the levels its own pass compares with: its next
// pass reports exactly what the log has not heard yet, nothing twice.
//
// A monitor tries to take the role only when its pass has an event for the
// log, never on the idle tick. One that saw a change the record does not
// show yet tries again every scan period until the record shows it (the
// reporter's own pass comes within a period) or it takes the role (the
// reporter ended before it told the change).
//
// No Windows headers: EventReport.cpp supplies the role, the record and the
// log (the `Machine` of TellDriveEvent).
#pragma once

#include <cstdint>

#include "ScanLogic.h"

// How long the log's having heard of a drive filling fast stands for that
// fill. Every monitor sees the same fill begin at its own passes, within a
// pass or two of the others; and the same drive's next fill is told only
// after its icon has been gone for a whole balloon interval, never shorter
// than this.
constexpr uint32_t FORECAST_TOLD_SPAN = FIRST_BALLOON_INTERVAL;

// What the log was last told of a drive.
struct ToldDrive {
    DriveLevel level = DRIVE_LEVEL_NORMAL;
    bool forecastTold = false;  // it heard of the drive filling fast within FORECAST_TOLD_SPAN, and no level since
};

// The level a level event tells of; `level` for any other event.
DriveLevel LevelTold(DriveEvent event, DriveLevel level);

// The event the log is to hear when a pass reports `event` for a drive the
// log knows as `told`: a change is told as the move from the level the log
// knows (which another monitor's pass may have told earlier or not yet),
// nothing when the log already has that level; a drive filling fast only
// when the log has not heard of its fill and knows it as not low. A mute
// passes unchanged.
DriveEvent EventToTell(DriveEvent event, const ToldDrive& told);

// What the log knows of a drive once it heard `event`.
ToldDrive ToldAfter(const ToldDrive& told, DriveEvent event);

// The record keeps a drive's level in two bits, "low" (low or very low) and
// "very low", which are written one after the other. The very-low bit alone
// counts as very low, and is set first and cleared last, so that a reader
// between the two writes (the reporter ended there) finds the level before
// or the level after, never a third.
struct LevelBitWrite {
    bool veryLowBit;  // which bit: very low, or low
    bool set;
};
void LevelBitWrites(DriveLevel level, LevelBitWrite (&writes)[2]);
DriveLevel LevelOfBits(bool lowBit, bool veryLowBit);

// The figures an event's text carries.
struct EventFigures {
    uint64_t freeBytes;
    uint64_t threshold;
    uint32_t minutes;  // filling fast: until below the threshold
};

enum ReportStanding : uint8_t {
    REPORT_STANDING_ALONE,    // no machine-wide role or record: writes every event itself
    REPORT_STANDING_WAITING,  // takes the role at its next event, if no other monitor holds it
    REPORT_STANDING_HOLDING,  // the machine's reporter, until the process ends
};

// One monitor's part, and what it saw that the log may not have heard yet
// while another monitor held the role.
struct ReportRoleState {
    ReportStanding standing = REPORT_STANDING_ALONE;
    uint32_t pendingLevels = 0;     // drives whose level (seenLevels) the record did not show
    uint32_t pendingForecasts = 0;  // drives seen filling fast before the log heard of it
    DriveLevel seenLevels[DRIVE_COUNT] = {};
    EventFigures forecastFigures[DRIVE_COUNT] = {};
    uint32_t forecastTicks[DRIVE_COUNT] = {};  // when each was seen
};

// Whether a forecast seen at `seenTick` still waits for the log at `now`:
// one the log did not hear of within FORECAST_TOLD_SPAN was not a new fill
// to the reporter (its back-off still held), and is not told later either.
bool IsForecastStillPending(uint32_t seenTick, uint32_t now);

// `machine` supplies:
//   bool TakeRole()                          takes the role if no other monitor holds it
//   ToldDrive ReadTold(int index)            the record of a drive
//   void WriteTold(int index, const ToldDrive&)
//   bool WriteEvent(int index, DriveEvent, const EventFigures&)   to the log; false when it failed
//   void AdoptLevels(const DriveLevelArray&) the levels the scan's pass compares with
//   void RetryLater(bool retry)              arms (or stops) RetryReportRole once a scan period
//   uint32_t Now()                           tick count

// Writes `event` if the log has not heard it, and records it once written.
template <typename Machine>
void TellToLog(int driveIndex, DriveEvent event, const EventFigures& figures, Machine& machine)
{
    const ToldDrive told = machine.ReadTold(driveIndex);
    const DriveEvent tell = EventToTell(event, told);
    if (tell != DRIVE_EVENT_NONE && machine.WriteEvent(driveIndex, tell, figures))
        machine.WriteTold(driveIndex, ToldAfter(told, tell));
}

// The monitor has just taken the role: the record's levels become the
// pass's, and a fill it saw first is told now (its pass will not see that
// fill begin again).
template <typename Machine>
void TakeOverReporting(ReportRoleState& state, Machine& machine)
{
    state.standing = REPORT_STANDING_HOLDING;
    DriveLevelArray levels = {};
    for (int index = 0; index < DRIVE_COUNT; ++index)
        levels[index] = machine.ReadTold(index).level;
    machine.AdoptLevels(levels);
    const uint32_t now = machine.Now();
    for (int index = 0; index < DRIVE_COUNT; ++index) {
        if ((state.pendingForecasts & DriveBit(index)) != 0 && IsForecastStillPending(state.forecastTicks[index], now))
            TellToLog(index, DRIVE_EVENT_FILLING_FAST, state.forecastFigures[index], machine);
    }
    state.pendingLevels = 0;
    state.pendingForecasts = 0;
    machine.RetryLater(false);
}

// A monitor that does not hold the role keeps what it saw and the record
// does not show yet, and tries again later.
template <typename Machine>
void KeepPending(ReportRoleState& state, int driveIndex, DriveEvent event, const EventFigures& figures,
                 Machine& machine)
{
    const uint32_t bit = DriveBit(driveIndex);
    const ToldDrive told = machine.ReadTold(driveIndex);
    const bool untold = EventToTell(event, told) != DRIVE_EVENT_NONE;
    if (event == DRIVE_EVENT_FILLING_FAST) {
        if (untold) {
            state.pendingForecasts |= bit;
            state.forecastFigures[driveIndex] = figures;
            state.forecastTicks[driveIndex] = machine.Now();
        }
    } else {
        state.seenLevels[driveIndex] = LevelTold(event, told.level);
        state.pendingLevels = untold ? state.pendingLevels | bit : state.pendingLevels & ~bit;
    }
    machine.RetryLater((state.pendingLevels | state.pendingForecasts) != 0);
}

// An event of the monitor's pass, or of its user's mute.
template <typename Machine>
void TellDriveEvent(ReportRoleState& state, int driveIndex, DriveEvent event, const EventFigures& figures,
                    Machine& machine)
{
    if (event == DRIVE_EVENT_NONE)
        return;
    if (event == DRIVE_EVENT_MUTED || state.standing == REPORT_STANDING_ALONE) {
        machine.WriteEvent(driveIndex, event, figures);
        return;
    }
    if (state.standing == REPORT_STANDING_WAITING) {
        if (!machine.TakeRole()) {
            KeepPending(state, driveIndex, event, figures, machine);
            return;
        }
        TakeOverReporting(state, machine);
    }
    TellToLog(driveIndex, event, figures, machine);
}

// Once a scan period while something is pending: takes the role if it is
// free (the reporter ended), or forgets what the record now shows.
template <typename Machine>
void RetryReportRole(ReportRoleState& state, Machine& machine)
{
    if (state.standing != REPORT_STANDING_WAITING) {
        machine.RetryLater(false);
        return;
    }
    if (machine.TakeRole()) {
        TakeOverReporting(state, machine);
        return;
    }
    const uint32_t now = machine.Now();
    for (int index = 0; index < DRIVE_COUNT; ++index) {
        const uint32_t bit = DriveBit(index);
        if (((state.pendingLevels | state.pendingForecasts) & bit) == 0)
            continue;
        const ToldDrive told = machine.ReadTold(index);
        if (told.level == state.seenLevels[index])
            state.pendingLevels &= ~bit;
        if (EventToTell(DRIVE_EVENT_FILLING_FAST, told) == DRIVE_EVENT_NONE ||
            !IsForecastStillPending(state.forecastTicks[index], now))
            state.pendingForecasts &= ~bit;
    }
    machine.RetryLater((state.pendingLevels | state.pendingForecasts) != 0);
}
