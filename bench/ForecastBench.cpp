// The forecast's figures: free-space traces replayed through the monitor's
// own scan pass (ScanWatchedDrives) against the fake tray the native tests
// run it on, one pass every SCAN_PERIOD as the monitor's timer runs them.
// Native console program, no Windows and no Wine; bench/bench.py runs it
// and prints the table.
//
// A trace is free space as a function of time, in seconds from its start.
// Each trace is replayed at every offset of whole seconds between its start
// and the pass timer (45 runs), because where a fill begins between two
// passes decides how many of them see it. Each run is judged on its own:
//   first warning  the pass of the first balloon (early or low) of the drive
//   lead           the time from that pass to the instant the free space
//                  is first down to the threshold
//   within         the first warning came no later than two passes after
//                  the expected one: two minutes after the fill began, or
//                  one horizon before the threshold when the drive is
//                  further away than that after two minutes
//   false alarm    a forecast balloon (a first one or a repeat) after which
//                  the free space does not come down to the threshold
//                  within the horizon
// and the runs are summed up in one line of JSON per trace (fields at
// PrintTrace). A stopping download also gets the shortest fill of its rate
// that brings a forecast balloon, at the luckiest offset and at every one.
//
// Exit status 1 when a run broke the fake tray's rules (printed to stderr).
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "FakeTray.h"
#include "MonitorLogic.h"
#include "ScanLogic.h"

namespace {

constexpr double MB = 1048576.0;  // the settings' megabyte
constexpr double GB = 1024 * MB;
constexpr double TB = 1024 * GB;
constexpr int D = 3;  // the watched drive, D:
constexpr double PASS_SECONDS = SCAN_PERIOD / 1000.0;
constexpr int OFFSETS = SCAN_PERIOD / 1000;  // whole seconds between a trace's start and the timer
constexpr double FILL_START = 320.0;         // s: the passes know the drive at rest first
constexpr double CROSSING_STEP = 0.05;       // s: resolution of the threshold crossing
constexpr double LOW_SCAN_STEP = 0.5;        // s: resolution of "reaches it within the horizon"
constexpr uint32_t FIRST_TICK = 1000;        // tick count of a run's start

enum class TraceKind {
    FILL,      // a fill that reaches the threshold: the lead is the figure
    STOP,      // a fill that stops short of the threshold
    NEVER,     // never reaches the threshold: only false alarms count
    HOVER,     // at the threshold: the balloons count
};

struct Trace {
    std::string id;
    std::string label;
    std::string drive;
    TraceKind kind;
    uint64_t total;
    uint64_t threshold;
    double seconds;    // the passes run from 0 to this
    double fillStart;  // when the fill that should warn began (FILL, STOP)
    double fillStop;   // when it stopped (STOP)
    double rate;       // bytes a second of that fill (FILL, STOP)
    std::function<double(double)> freeAt;
};

struct Run {
    double firstWarning = -1;           // s; -1: no balloon
    std::vector<double> earlyBalloons;  // s, each forecast balloon shown
    int balloons = 0;
    double earlyIconGone = -1;  // s, when an early icon went after the fill stopped
    int passes = 0;
};

int FaultCount = 0;

uint64_t Bytes(double value)
{
    return value <= 0 ? 0 : static_cast<uint64_t>(value);
}

// Replays a trace with the first pass `offset` seconds after its start.
Run RunTrace(const Trace& trace, double offset)
{
    MonitorPassState state;
    state.settings[D].Enabled = 1;
    state.settings[D].Threshold = trace.threshold;
    FakeTray& tray = state.tray;
    Run run;
    for (int n = 0;; ++n) {
        const double t = offset + n * PASS_SECONDS;
        if (t > trace.seconds)
            break;
        const bool earlyBefore = (state.iconMask & DriveBit(D)) != 0 && state.table[D].early;
        tray.now = FIRST_TICK + static_cast<uint32_t>(std::llround(t * 1000.0));
        tray.drives[L"D:\\"] = DriveSpace{ Bytes(trace.freeAt(t)), trace.total };
        state.RunPass();
        for (const std::string& fault : tray.faults) {
            std::fprintf(stderr, "ForecastBench: %s, offset %.0f s, pass %d: %s\n", trace.id.c_str(), offset, n,
                         fault.c_str());
            ++FaultCount;
        }
        tray.faults.clear();
        ++run.passes;
        if (tray.Ballooned(D)) {
            ++run.balloons;
            if (run.firstWarning < 0)
                run.firstWarning = t;
        }
        if ((tray.pass.earlyShown & DriveBit(D)) != 0)
            run.earlyBalloons.push_back(t);
        if (earlyBefore && tray.pass.deletes[D] > 0 && trace.fillStop >= 0 && t >= trace.fillStop &&
            run.earlyIconGone < 0)
            run.earlyIconGone = t;
    }
    return run;
}

// Whether the drive has reached its threshold at `t`: the forecast counts
// the minutes until the free space is down to the threshold.
bool AtThreshold(const Trace& trace, double t)
{
    return trace.freeAt(t) <= static_cast<double>(trace.threshold);
}

// The first instant the drive reaches its threshold, or -1.
double CrossingTime(const Trace& trace, double until)
{
    for (int64_t step = 0; step * CROSSING_STEP <= until; ++step) {
        if (AtThreshold(trace, step * CROSSING_STEP))
            return step * CROSSING_STEP;
    }
    return -1;
}

// Whether the drive reaches its threshold within (from, from + span].
bool ReachesWithin(const Trace& trace, double from, double span)
{
    for (int64_t step = 1; step * LOW_SCAN_STEP <= span; ++step) {
        if (AtThreshold(trace, from + step * LOW_SCAN_STEP))
            return true;
    }
    return false;
}

double Median(std::vector<double> values)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    const size_t middle = values.size() / 2;
    return values.size() % 2 != 0 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

// The shortest fill, in whole seconds, that brings a forecast balloon at
// some offset and at every offset; -1 when none up to `longest`.
struct ShortestFill {
    int anyOffset = -1;
    int everyOffset = -1;
};

ShortestFill FindShortestWarningFill(const std::function<Trace(double)>& makeTrace, int longest)
{
    ShortestFill shortest;
    for (int seconds = 1; seconds <= longest && shortest.everyOffset < 0; ++seconds) {
        const Trace trace = makeTrace(seconds);
        int warned = 0;
        for (int offset = 0; offset < OFFSETS; ++offset)
            warned += RunTrace(trace, offset).earlyBalloons.empty() ? 0 : 1;
        if (warned > 0 && shortest.anyOffset < 0)
            shortest.anyOffset = seconds;
        if (warned == OFFSETS)
            shortest.everyOffset = seconds;
    }
    return shortest;
}

void PrintNumber(const char* name, double value)
{
    std::printf(", \"%s\": %.3f", name, value);
}

void PrintTrace(const Trace& trace, uint32_t horizonMinutes, const ShortestFill* shortest)
{
    const double horizon = horizonMinutes * 60.0;
    const double crossing = CrossingTime(trace, trace.seconds + horizon);
    std::vector<double> leads, iconGone;
    int within = 0, warned = 0, falseAlarms = 0, runsWithFalseAlarm = 0, earlyBalloons = 0, passes = 0;
    int mostFalseAlarms = 0, fewestBalloons = -1, mostBalloons = 0;
    double expected = -1;
    if (trace.kind == TraceKind::FILL && crossing >= 0)
        expected = std::max(trace.fillStart + 120.0, crossing - horizon);
    for (int offset = 0; offset < OFFSETS; ++offset) {
        const Run run = RunTrace(trace, offset);
        passes = run.passes;
        int falseHere = 0;
        for (double balloon : run.earlyBalloons)
            falseHere += ReachesWithin(trace, balloon, horizon) ? 0 : 1;
        falseAlarms += falseHere;
        runsWithFalseAlarm += falseHere > 0 ? 1 : 0;
        mostFalseAlarms = std::max(mostFalseAlarms, falseHere);
        earlyBalloons += static_cast<int>(run.earlyBalloons.size());
        fewestBalloons = fewestBalloons < 0 ? run.balloons : std::min(fewestBalloons, run.balloons);
        mostBalloons = std::max(mostBalloons, run.balloons);
        if (run.earlyIconGone >= 0)
            iconGone.push_back(run.earlyIconGone - trace.fillStop);
        if (expected >= 0 && run.firstWarning >= 0) {
            ++warned;
            leads.push_back(crossing - run.firstWarning);
            within += run.firstWarning <= expected + 2 * PASS_SECONDS ? 1 : 0;
        }
    }
    static const char* const kinds[] = { "fill", "stop", "never", "hover" };
    std::printf("{\"id\": \"%s\", \"label\": \"%s\", \"drive\": \"%s\", \"kind\": \"%s\"", trace.id.c_str(),
                trace.label.c_str(), trace.drive.c_str(), kinds[static_cast<int>(trace.kind)]);
    std::printf(", \"threshold_mb\": %.0f, \"horizon_min\": %u, \"runs\": %d, \"passes\": %d",
                static_cast<double>(trace.threshold) / MB, horizonMinutes, OFFSETS, passes);
    PrintNumber("crossing_s", crossing);
    if (expected >= 0) {
        const double leftAfterTwoMinutes = crossing - (trace.fillStart + 120.0);
        PrintNumber("left_after_two_minutes_s", leftAfterTwoMinutes);
        PrintNumber("wanted_lead_s", crossing - expected);
        std::printf(", \"warned\": %d, \"within_two_passes\": %d", warned, within);
        if (!leads.empty()) {
            PrintNumber("lead_least_s", *std::min_element(leads.begin(), leads.end()));
            PrintNumber("lead_median_s", Median(leads));
            PrintNumber("lead_most_s", *std::max_element(leads.begin(), leads.end()));
        }
    }
    std::printf(", \"early_balloons\": %d, \"false_alarms\": %d, \"runs_with_false_alarm\": %d"
                ", \"most_false_alarms\": %d, \"balloons_fewest\": %d, \"balloons_most\": %d",
                earlyBalloons, falseAlarms, runsWithFalseAlarm, mostFalseAlarms, fewestBalloons, mostBalloons);
    if (!iconGone.empty()) {
        PrintNumber("early_icon_gone_least_s", *std::min_element(iconGone.begin(), iconGone.end()));
        PrintNumber("early_icon_gone_most_s", *std::max_element(iconGone.begin(), iconGone.end()));
    }
    if (shortest != nullptr) {
        PrintNumber("rate_mb_per_s", trace.rate / MB);
        std::printf(", \"shortest_warning_fill_s\": %d, \"shortest_warning_fill_every_offset_s\": %d",
                    shortest->anyOffset, shortest->everyOffset);
    }
    std::printf("}\n");
}

// ------------------------------------------------------------- the traces

// A steady fill from `start` free bytes at `perSecond`, after FILL_START
// seconds at rest, replayed until ten minutes after the drive reaches its
// threshold.
Trace SteadyFill(const std::string& id, const std::string& label, const std::string& drive, double total,
                 double threshold, double start, double perSecond)
{
    const double reach = FILL_START + (start - threshold) / perSecond;
    return Trace{ id, label, drive, TraceKind::FILL, Bytes(total), Bytes(threshold), reach + 600.0, FILL_START, -1,
                  perSecond, [=](double t) { return t < FILL_START ? start : start - (t - FILL_START) * perSecond; } };
}

// A fill of `seconds` at `perSecond` from `start`, and then rest for two hours.
Trace StoppingFill(const std::string& id, const std::string& label, const std::string& drive, double total,
                   double threshold, double start, double perSecond, double seconds)
{
    return Trace{ id, label, drive, TraceKind::STOP, Bytes(total), Bytes(threshold), FILL_START + seconds + 7200.0,
                  FILL_START, FILL_START + seconds, perSecond, [=](double t) {
                      const double filled = std::min(std::max(t - FILL_START, 0.0), seconds);
                      return start - filled * perSecond;
                  } };
}

// A deterministic value in [0, 1) for each whole slot of a trace: the
// same on every platform and at every run.
double SlotNoise(uint64_t seed, int64_t slot)
{
    uint64_t z = seed + static_cast<uint64_t>(slot) * 0x9E3779B97F4A7C15ull;
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    z ^= z >> 31;
    return static_cast<double>(z >> 11) / 9007199254740992.0;
}

std::vector<Trace> Traces()
{
    std::vector<Trace> traces;
    // Steady fills: three drives, the rates from a trickle to a fast copy.
    // The first rate is below a small drive's jitter allowance (1 MB a
    // pass): the passes cannot tell it from noise.
    const double small = 64 * MB, middle = 500 * GB, large = 4 * TB;
    traces.push_back(SteadyFill("fill-64mb-0.8", "Steady fill, 0.8 MB/min (below the jitter allowance)", "64 MB",
                                small, 8 * MB, 60 * MB, 0.8 * MB / 60));
    traces.push_back(SteadyFill("fill-64mb-1.5", "Steady fill, 1.5 MB/min", "64 MB", small, 8 * MB, 60 * MB,
                                1.5 * MB / 60));
    traces.push_back(SteadyFill("fill-64mb-4", "Steady fill, 4 MB/min", "64 MB", small, 8 * MB, 60 * MB, 4 * MB / 60));
    traces.push_back(
        SteadyFill("fill-64mb-16", "Steady fill, 16 MB/min", "64 MB", small, 8 * MB, 60 * MB, 16 * MB / 60));
    traces.push_back(SteadyFill("fill-500gb-1", "Steady fill, 1 MB/s", "500 GB", middle, 20 * GB, 30 * GB, 1 * MB));
    traces.push_back(
        SteadyFill("fill-500gb-4.4", "Steady fill, 4.4 MB/s (a runaway log)", "500 GB", middle, 20 * GB, 30 * GB,
                   200 * MB / PASS_SECONDS));
    traces.push_back(SteadyFill("fill-500gb-30", "Steady fill, 30 MB/s (a download)", "500 GB", middle, 20 * GB,
                                30 * GB, 30 * MB));
    traces.push_back(
        SteadyFill("fill-4tb-0.5", "Steady fill, 0.5 MB/s", "4 TB", large, 10 * GB, 40 * GB, 0.5 * MB));
    traces.push_back(SteadyFill("fill-4tb-23", "Steady fill, 23 MB/s (a recording)", "4 TB", large, 10 * GB, 40 * GB,
                                1 * GB / PASS_SECONDS));
    traces.push_back(
        SteadyFill("fill-4tb-200", "Steady fill, 200 MB/s (a copy)", "4 TB", large, 10 * GB, 40 * GB, 200 * MB));

    // A download of 30 MB/s that stops short of the threshold.
    traces.push_back(StoppingFill("download-stops-100s", "Download of 30 MB/s that stops after 100 s", "500 GB",
                                  middle, 20 * GB, 30 * GB, 30 * MB, 100));
    traces.push_back(StoppingFill("download-stops-200s", "Download of 30 MB/s that stops after 200 s", "500 GB",
                                  middle, 20 * GB, 30 * GB, 30 * MB, 200));

    // A 20 GB file written at 200 MB/s, deleted a minute after, every ten
    // minutes for two hours.
    traces.push_back(Trace{ "write-delete", "Write 20 GB at 200 MB/s, delete it a minute later, every 10 min",
                            "4 TB", TraceKind::NEVER, Bytes(large), Bytes(10 * GB), 7200.0, -1, -1, 0,
                            [](double t) {
                                const double writeSeconds = 20 * GB / (200 * MB);
                                const double since = std::fmod(t + 600.0 - FILL_START, 600.0);
                                if (t < FILL_START || since >= writeSeconds + 60.0)
                                    return 40 * GB;
                                return 40 * GB - std::min(since, writeSeconds) * 200 * MB;
                            } });
    // Logs growing 20 MB a minute (15 MB a pass: the passes see the fill),
    // rotated every hour back to 25 GB free, for four hours.
    traces.push_back(Trace{ "log-rotation", "Logs growing 20 MB/min, rotated every hour", "500 GB",
                            TraceKind::NEVER, Bytes(middle), Bytes(20 * GB), 4 * 3600.0, -1, -1, 0, [](double t) {
                                return 25 * GB - std::fmod(t, 3600.0) * 20 * MB / 60;
                            } });
    // Free space a few megabytes above the threshold, less up to 5 MB that
    // changes every ten seconds, for four hours.
    traces.push_back(Trace{ "jitter-64mb", "Jitter of up to 5 MB, 1 to 6 MB above the threshold", "64 MB",
                            TraceKind::NEVER, Bytes(small), Bytes(8 * MB), 4 * 3600.0, -1, -1, 0, [](double t) {
                                return 14 * MB - 5 * MB * SlotNoise(64, static_cast<int64_t>(std::floor(t / 10)));
                            } });
    traces.push_back(Trace{ "jitter-4tb", "Jitter of up to 5 MB, 1 to 6 MB above the threshold", "4 TB",
                            TraceKind::NEVER, Bytes(large), Bytes(10 * GB), 4 * 3600.0, -1, -1, 0, [](double t) {
                                return 10 * GB + 6 * MB -
                                       5 * MB * SlotNoise(4096, static_cast<int64_t>(std::floor(t / 10)));
                            } });
    // Across the threshold at every pass for an hour, and, for the measure
    // of it, below it for the whole hour.
    traces.push_back(Trace{ "hover", "Across the threshold at every pass for an hour", "64 MB", TraceKind::HOVER,
                            Bytes(small), Bytes(8 * MB), 3599.0, -1, -1, 0, [](double t) {
                                return static_cast<int64_t>(std::floor(t / PASS_SECONDS)) % 2 == 0 ? 7 * MB : 9 * MB;
                            } });
    traces.push_back(Trace{ "stays-low", "Below the threshold for an hour", "64 MB", TraceKind::HOVER, Bytes(small),
                            Bytes(8 * MB), 3599.0, -1, -1, 0, [](double) { return 7 * MB; } });
    return traces;
}

}  // namespace

int main()
{
    const uint32_t horizon = DEFAULT_FORECAST_MINUTES;
    for (const Trace& trace : Traces()) {
        if (trace.kind != TraceKind::STOP) {
            PrintTrace(trace, horizon, nullptr);
            continue;
        }
        // The shortest download of this rate, from this free space, that
        // the forecast warns of.
        const ShortestFill shortest = FindShortestWarningFill(
            [&](double seconds) {
                return StoppingFill(trace.id, trace.label, trace.drive, static_cast<double>(trace.total),
                                    static_cast<double>(trace.threshold), trace.freeAt(0), trace.rate, seconds);
            },
            240);
        PrintTrace(trace, horizon, &shortest);
    }
    std::fflush(stdout);
    return FaultCount == 0 ? 0 : 1;
}
