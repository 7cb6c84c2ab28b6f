// The monitor's reports to the Application event log, under the source
// "Brimline", whose texts are the message table compiled into this program
// (BrimlineEvents.mc). Used on the window thread only.
#pragma once

#include <cstdint>

#include "ScanLogic.h"

// Registers the source and reads the user the events are reported for;
// once, at start. Without a source (refused, or the log service absent),
// nothing is reported and the monitor works as ever.
void OpenEventSource();

// Reports `event` for the drive, with its free space and threshold, and
// for DRIVE_EVENT_FILLING_FAST the minutes until it falls below it.
void ReportDriveEvent(DriveEvent event, int driveIndex, uint64_t freeBytes, uint64_t threshold,
                      uint32_t minutes = NO_ESTIMATE);
