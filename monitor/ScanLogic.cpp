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
    table[driveIndex].backOffKept = false;
    iconMask |= DriveBit(driveIndex);
    muteMask &= ~DriveBit(driveIndex);
}

void RecordIconGone(DriveTrayState& state, uint32_t now)
{
    state.goneTick = now;
    state.backOffKept = true;
    state.goneWasLow = !state.early;
    state.early = false;
}

bool KeepsBackOff(const DriveTrayState& state, uint32_t now)
{
    return state.backOffKept && static_cast<uint32_t>(now - state.goneTick) <= state.balloonInterval;
}

TrayAction DecideDriveAction(bool low, bool fillingFast, bool hasIcon, bool iconEarly, bool muted, bool balloonDue,
                             bool keptBackOff, bool keptFromLow)
{
    const bool quiet = keptBackOff && (!balloonDue || muted);
    if (low) {
        if (!hasIcon)
            return quiet && keptFromLow ? TRAY_ACTION_ADD_QUIET : TRAY_ACTION_ADD;
        if (iconEarly)
            return TRAY_ACTION_EARLY_TO_LOW;
        return balloonDue && !muted ? TRAY_ACTION_REPEAT_BALLOON : TRAY_ACTION_NONE;
    }
    if (fillingFast) {
        if (!hasIcon)
            return quiet ? TRAY_ACTION_ADD_EARLY_QUIET : TRAY_ACTION_ADD_EARLY;
        if (iconEarly)
            return balloonDue && !muted ? TRAY_ACTION_REPEAT_EARLY : TRAY_ACTION_NONE;
    }
    return hasIcon ? TRAY_ACTION_DELETE : TRAY_ACTION_NONE;
}

// ---------------------------------------------------------------- forecast

uint64_t FillJitterAllowance(uint64_t totalBytes)
{
    const uint64_t lowest = BYTES_PER_MEGABYTE;
    const uint64_t highest = 8 * BYTES_PER_MEGABYTE;
    const uint64_t share = totalBytes / 1000;
    return share < lowest ? lowest : (share > highest ? highest : share);
}

namespace {

// The least-squares rate of fall of the run, in bytes a minute; 0 when the
// samples do not fall.
uint64_t FittedBytesPerMinute(const DriveTrend& trend)
{
    if (trend.count < 2)
        return 0;
    const uint32_t start = trend.samples[0].tick;
    const uint64_t base = trend.samples[0].freeBytes;
    double meanT = 0, meanF = 0;
    for (uint8_t i = 0; i < trend.count; ++i) {
        meanT += static_cast<double>(static_cast<uint32_t>(trend.samples[i].tick - start));
        meanF += static_cast<double>(base) - static_cast<double>(trend.samples[i].freeBytes);
    }
    meanT /= trend.count;
    meanF /= trend.count;
    double covariance = 0, variance = 0;
    for (uint8_t i = 0; i < trend.count; ++i) {
        const double t = static_cast<double>(static_cast<uint32_t>(trend.samples[i].tick - start)) - meanT;
        const double f = static_cast<double>(base) - static_cast<double>(trend.samples[i].freeBytes) - meanF;
        covariance += t * f;
        variance += t * t;
    }
    if (variance <= 0 || covariance <= 0)
        return 0;
    const double perMinute = covariance / variance * 60000.0;  // the fall, bytes a minute
    return perMinute >= 1.8e19 ? UINT64_MAX : static_cast<uint64_t>(perMinute);
}

uint32_t MinutesAt(uint64_t bytes, uint64_t bytesPerMinute)
{
    if (bytesPerMinute == 0)
        return NO_ESTIMATE;
    const uint64_t minutes = bytes / bytesPerMinute + (bytes % bytesPerMinute != 0 ? 1 : 0);
    return minutes >= NO_ESTIMATE ? NO_ESTIMATE - 1 : static_cast<uint32_t>(minutes);
}

}  // namespace

void ClearFillSamples(DriveTrend& trend)
{
    trend = DriveTrend();
}

void AddFillSample(DriveTrend& trend, uint32_t now, const DriveSpace& space)
{
    const FillSample sample = { now, space.freeBytes };
    if (trend.count > 0) {
        const FillSample& last = trend.samples[trend.count - 1];
        const uint32_t gap = now - last.tick;
        if (gap < MIN_SAMPLE_SPACING)
            return;
        if (space.totalBytes == trend.totalBytes && gap <= LONGEST_SAMPLE_GAP) {
            const uint64_t allowance = FillJitterAllowance(space.totalBytes);
            if (last.freeBytes > allowance && space.freeBytes < last.freeBytes - allowance) {
                if (trend.count == FILL_HISTORY) {
                    for (size_t i = 1; i < FILL_HISTORY; ++i)
                        trend.samples[i - 1] = trend.samples[i];
                    --trend.count;
                }
                trend.samples[trend.count++] = sample;
                trend.stillSteps = 0;
                if (IsSteadyFill(trend))
                    trend.bytesPerMinute = FittedBytesPerMinute(trend);
                return;
            }
            if (trend.stillSteps < STILL_STEPS_TO_STOP)
                ++trend.stillSteps;
        } else {
            // Another capacity, or a gap the passes do not cover (the
            // machine slept): nothing before it says anything now.
            trend.stillSteps = STILL_STEPS_TO_STOP;
            trend.bytesPerMinute = 0;
        }
    }
    trend.samples[0] = sample;
    trend.count = 1;
    trend.totalBytes = space.totalBytes;
}


bool IsSteadyFill(const DriveTrend& trend)
{
    if (trend.count < MIN_FILL_STEPS + 1)
        return false;
    const FillSample& first = trend.samples[0];
    const FillSample& last = trend.samples[trend.count - 1];
    const uint64_t drop = first.freeBytes - last.freeBytes;
    if (drop < 4 * FillJitterAllowance(trend.totalBytes))
        return false;
    // How long the passes saw the drive fill: the whole drop at the fastest
    // rate seen between two passes. A steady fill counts its own time; a
    // pass that saw only the start or the end of a burst adds only its part,
    // so a burst of a hundred seconds that four passes straddle is not two
    // minutes of fill.
    double fastest = 0;  // bytes a millisecond
    for (uint8_t i = 1; i < trend.count; ++i) {
        const uint32_t interval = trend.samples[i].tick - trend.samples[i - 1].tick;
        const double fall =
            static_cast<double>(trend.samples[i - 1].freeBytes) - static_cast<double>(trend.samples[i].freeBytes);
        if (interval != 0 && fall / interval > fastest)
            fastest = fall / interval;
    }
    return fastest > 0 && static_cast<double>(drop) / fastest >= MIN_FILL_SPAN;
}

FillForecast EstimateFill(const DriveTrend& trend, uint64_t freeBytes, uint64_t threshold)
{
    const uint64_t rate = IsSteadyFill(trend) ? FittedBytesPerMinute(trend) : trend.bytesPerMinute;
    FillForecast forecast;
    forecast.minutesToThreshold = MinutesAt(freeBytes > threshold ? freeBytes - threshold : 0, rate);
    forecast.minutesToFull = MinutesAt(freeBytes, rate);
    return forecast;
}

bool IsFillingFast(const DriveTrend& trend, const FillForecast& forecast, bool episodeUnderWay,
                   uint32_t horizonMinutes)
{
    if (horizonMinutes == 0 || forecast.minutesToThreshold == NO_ESTIMATE)
        return false;
    if (!episodeUnderWay)
        return IsSteadyFill(trend) && forecast.minutesToThreshold <= horizonMinutes;
    return trend.stillSteps < STILL_STEPS_TO_STOP && forecast.minutesToThreshold <= 2 * uint64_t{ horizonMinutes };
}

uint32_t ForecastHorizonFromPolicy(bool present, uint32_t minutes)
{
    if (!present)
        return DEFAULT_FORECAST_MINUTES;
    return minutes > LONGEST_FORECAST_MINUTES ? LONGEST_FORECAST_MINUTES : minutes;
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
