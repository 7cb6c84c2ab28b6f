#include "ScanLogic.h"

bool IsDriveLow(uint64_t freeBytes, const DriveSetting& setting)
{
    return IsDriveEnabled(setting) && freeBytes < ThresholdOf(setting);
}

BalloonKind BalloonKindFor(uint64_t freeBytes, uint64_t totalBytes)
{
    if (freeBytes < VERY_LOW_FREE_BYTES)
        return BALLOON_KIND_ERROR;
    if (freeBytes <= FifteenPercentOf(totalBytes))
        return BALLOON_KIND_WARNING;
    return BALLOON_KIND_INFO;
}

bool IsBalloonDue(uint32_t now, uint32_t lastBalloonTick, uint32_t balloonInterval)
{
    // Unsigned subtraction wraps modulo 2^32, like the tick count itself.
    return static_cast<uint32_t>(now - lastBalloonTick) >= balloonInterval;
}

uint32_t NextBalloonInterval(uint32_t balloonInterval)
{
    uint64_t doubled = static_cast<uint64_t>(balloonInterval) * 2;
    return doubled < LARGEST_BALLOON_INTERVAL ? static_cast<uint32_t>(doubled) : LARGEST_BALLOON_INTERVAL;
}

TrayAction DecideTrayAction(bool low, bool hasIcon, bool muted, bool balloonDue)
{
    if (!low)
        return hasIcon ? TRAY_ACTION_DELETE : TRAY_ACTION_NONE;
    if (!hasIcon)
        return TRAY_ACTION_ADD;
    return balloonDue && !muted ? TRAY_ACTION_REPEAT_BALLOON : TRAY_ACTION_NONE;
}

void RecordIconAdded(int driveIndex, uint32_t now, uint32_t& iconMask, uint32_t& muteMask, DriveTrayStateArray& table)
{
    table[driveIndex].lastBalloonTick = now;
    table[driveIndex].balloonInterval = FIRST_BALLOON_INTERVAL;
    iconMask |= DriveBit(driveIndex);
    muteMask &= ~DriveBit(driveIndex);
}

void RecordBalloonRepeated(DriveTrayState& state, uint32_t now)
{
    state.lastBalloonTick = now;
    state.balloonInterval = NextBalloonInterval(state.balloonInterval);
}

DriveLevel DriveLevelFor(bool low, const DriveSpace& space)
{
    if (!low)
        return DRIVE_LEVEL_NORMAL;
    return BalloonKindFor(space.freeBytes, space.totalBytes) == BALLOON_KIND_ERROR ? DRIVE_LEVEL_VERY_LOW
                                                                                   : DRIVE_LEVEL_LOW;
}

DriveEvent DriveEventFor(DriveLevel before, DriveLevel after)
{
    if (before == after)
        return DRIVE_EVENT_NONE;
    switch (after) {
    case DRIVE_LEVEL_NORMAL: return DRIVE_EVENT_RECOVERED;
    case DRIVE_LEVEL_LOW: return DRIVE_EVENT_LOW;
    case DRIVE_LEVEL_VERY_LOW: return DRIVE_EVENT_VERY_LOW;
    }
    return DRIVE_EVENT_NONE;
}

DriveEvent MuteDrive(int driveIndex, uint32_t& muteMask)
{
    if ((muteMask & DriveBit(driveIndex)) != 0)
        return DRIVE_EVENT_NONE;
    muteMask |= DriveBit(driveIndex);
    return DRIVE_EVENT_MUTED;
}

uint32_t DrivesToScan(const DriveSettingsImage& settings, uint32_t iconMask, const DriveLevelArray& levels)
{
    uint32_t drives = iconMask;
    for (int i = 0; i < DRIVE_COUNT; ++i) {
        if (IsDriveEnabled(settings[i]) || levels[i] != DRIVE_LEVEL_NORMAL)
            drives |= DriveBit(i);
    }
    return drives & ((1u << DRIVE_COUNT) - 1);
}
