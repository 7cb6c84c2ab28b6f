// The monitor's reports to the Application event log, under the source
// "Brimline", whose texts are the message table compiled into this program
// (BrimlineEvents.mc). The drives' changes are written once per machine, by
// the monitor that holds the reporter's role (ReportLogic.h); a user's mute
// by that user's monitor. Used on the window thread only.
#pragma once

#include <cstdint>

#include "ScanLogic.h"

// Registers the source and reads the user the events are reported for, and
// opens the machine-wide reporter's role and record; once, at start.
// Without a source (refused, or the log service absent), nothing is
// reported and the monitor works as ever.
void OpenEventSource();

// Reports `event` for the drive, with its free space and threshold, and
// for DRIVE_EVENT_FILLING_FAST the minutes until it falls below it. A
// change goes to the log only from the machine's reporter, and only when the
// log has not heard it yet.
void ReportDriveEvent(DriveEvent event, int driveIndex, uint64_t freeBytes, uint64_t threshold,
                      uint32_t minutes = NO_ESTIMATE);

// Defined beside the scan's state (Scan.cpp): replaces the levels its pass
// compares with, when this monitor takes the reporter's role, by those the
// log was told.
void AdoptReportedLevels(const DriveLevelArray& levels);
