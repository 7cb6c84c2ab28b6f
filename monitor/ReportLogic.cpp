#include "ReportLogic.h"

DriveLevel LevelTold(DriveEvent event, DriveLevel level)
{
    switch (event) {
    case DRIVE_EVENT_LOW: return DRIVE_LEVEL_LOW;
    case DRIVE_EVENT_VERY_LOW: return DRIVE_LEVEL_VERY_LOW;
    case DRIVE_EVENT_RECOVERED: return DRIVE_LEVEL_NORMAL;
    case DRIVE_EVENT_NONE:
    case DRIVE_EVENT_MUTED:
    case DRIVE_EVENT_FILLING_FAST: break;
    }
    return level;
}

DriveEvent EventToTell(DriveEvent event, const ToldDrive& told)
{
    switch (event) {
    case DRIVE_EVENT_LOW:
    case DRIVE_EVENT_VERY_LOW:
    case DRIVE_EVENT_RECOVERED: return DriveEventFor(told.level, LevelTold(event, told.level));
    case DRIVE_EVENT_FILLING_FAST:
        return told.forecastTold || told.level != DRIVE_LEVEL_NORMAL ? DRIVE_EVENT_NONE : DRIVE_EVENT_FILLING_FAST;
    case DRIVE_EVENT_NONE:
    case DRIVE_EVENT_MUTED: break;
    }
    return event;
}

ToldDrive ToldAfter(const ToldDrive& told, DriveEvent event)
{
    ToldDrive after = told;
    if (event == DRIVE_EVENT_FILLING_FAST) {
        after.forecastTold = true;
    } else if (event != DRIVE_EVENT_NONE && event != DRIVE_EVENT_MUTED) {
        after.level = LevelTold(event, told.level);
        after.forecastTold = false;
    }
    return after;
}

void LevelBitWrites(DriveLevel level, LevelBitWrite (&writes)[2])
{
    if (level == DRIVE_LEVEL_VERY_LOW) {
        writes[0] = { true, true };
        writes[1] = { false, true };
    } else {
        writes[0] = { false, level == DRIVE_LEVEL_LOW };
        writes[1] = { true, false };
    }
}

DriveLevel LevelOfBits(bool lowBit, bool veryLowBit)
{
    if (veryLowBit)
        return DRIVE_LEVEL_VERY_LOW;
    return lowBit ? DRIVE_LEVEL_LOW : DRIVE_LEVEL_NORMAL;
}

bool IsForecastStillPending(uint32_t seenTick, uint32_t now)
{
    return now - seenTick < FORECAST_TOLD_SPAN;
}
