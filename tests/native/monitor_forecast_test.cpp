// The forecast and the kept back-off over free-space traces: one watched
// drive D:, one pass every 45 seconds, as the monitor's timer runs them.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "../fakes/FakeTray.h"
#include "ScanLogic.h"

namespace {

constexpr uint64_t MB = 1048576;
constexpr uint64_t GB = 1024 * MB;
constexpr uint64_t TB = 1024 * GB;
constexpr uint32_t PASS = 45000;  // ms
constexpr int D = 3;

// What a trace brought, pass by pass.
struct TraceResult {
    std::vector<std::string> calls;   // every tray call, prefixed by its pass number
    std::vector<std::string> events;  // every event, likewise
    int firstEarly = -1;              // pass of the first forecast balloon
    int firstLow = -1;                // pass at which the drive was first low
    int balloons = 0;
    int horizonAsked = 0;
};

struct ForecastFixture : ::testing::Test, MonitorPassState {
    // Runs `passes` passes over a drive of `total` bytes with threshold
    // `threshold`, whose free space at pass n is free(n).
    TraceResult Run(uint64_t total, uint64_t threshold, int passes, const std::function<uint64_t(int)>& free)
    {
        settings[D].Enabled = 1;
        settings[D].Threshold = threshold;
        TraceResult result;
        for (int n = 0; n < passes; ++n) {
            tray.now = 1000 + static_cast<uint32_t>(n) * PASS;
            tray.drives[L"D:\\"] = DriveSpace{ free(n), total };
            RunPass();
            EXPECT_TRUE(tray.faults.empty()) << tray.faults.front();
            for (const std::string& call : tray.calls)
                result.calls.push_back(std::to_string(n) + ": " + call);
            for (const std::string& event : tray.events)
                result.events.push_back(std::to_string(n) + ": " + event);
            if (result.firstEarly < 0 && (tray.pass.earlyShown & DriveBit(D)) != 0)
                result.firstEarly = n;
            if (result.firstLow < 0 && free(n) < threshold)
                result.firstLow = n;
            result.balloons += tray.Ballooned(D) ? 1 : 0;
            result.horizonAsked += tray.pass.horizonAsked;
        }
        return result;
    }
};

// A steady fill warns within two passes of two minutes' fill, well before
// the threshold, on a 64 MB drive and on a 4 TB one alike; the low balloon
// follows at the crossing with the time until full, and the log hears of
// the forecast once.
TEST_F(ForecastFixture, ASteadyFillWarnsBeforeTheThreshold)
{
    const struct {
        uint64_t total, start, threshold, perPass;
    } fills[] = {
        { 64 * MB, 60 * MB, 8 * MB, 2 * MB },        // a small drive, 2.7 MB/min
        { 4 * TB, 40 * GB, 10 * GB, 1 * GB },        // a large one, a recording at 23 MB/s
        { 500 * GB, 30 * GB, 20 * GB, 200 * MB },    // a runaway log, 4.4 MB/s
    };
    for (const auto& f : fills) {
        SCOPED_TRACE(std::to_string(f.total));
        table[D] = DriveTrayState();
        tray = FakeTray();
        iconMask = muteMask = 0;
        const TraceResult r = Run(f.total, f.threshold, 80, [&](int n) {
            const uint64_t used = f.perPass * static_cast<uint64_t>(n);
            return used < f.start ? f.start - used : 0;
        });
        ASSERT_GE(r.firstEarly, 3) << "two minutes and three falling passes first";
        ASSERT_LE(r.firstEarly, 5) << "within two passes of the two minutes";
        ASSERT_LT(r.firstEarly, r.firstLow);
        int forecasts = 0;
        for (const std::string& event : r.events)
            forecasts += event.find(": 1005 ") != std::string::npos ? 1 : 0;
        EXPECT_EQ(forecasts, 1) << ::testing::PrintToString(r.events);
        const std::string crossing = std::to_string(r.firstLow) + ": balloon 3 kind ";
        bool lowBalloon = false;
        for (const std::string& call : r.calls)
            lowBalloon |= call.rfind(crossing, 0) == 0 && call.find(" full ") != std::string::npos;
        EXPECT_TRUE(lowBalloon) << "the low balloon at the crossing, with the time until full: "
                                << ::testing::PrintToString(r.calls);
    }
}

TEST_F(ForecastFixture, TheEstimateIsTheRateToTheThresholdAndToFull)
{
    // 2 MB a pass of 45 s (2.67 MB a minute) from 60 MB: at the third
    // pass 54 MB free, 46 MB above the threshold: 17.25 minutes to it and
    // 20.25 to full, rounded up.
    const TraceResult r = Run(64 * MB, 8 * MB, 4, [](int n) { return 60 * MB - 2 * MB * static_cast<uint64_t>(n); });
    ASSERT_EQ(r.firstEarly, 3);
    EXPECT_EQ(r.calls.back(), "3: early 3 in 18 full 21");
}

// Nothing else warns: a burst that stops, a file written and deleted, a
// fill that reaches the threshold only beyond the horizon, jitter of a few
// megabytes, a drive whose size changes, and any fill with forecasts off.
TEST_F(ForecastFixture, NoFalseAlarms)
{
    const struct {
        const char* what;
        uint64_t total, threshold;
        std::function<uint64_t(int)> free;
        uint32_t horizon;
    } traces[] = {
        { "burst that stops", 64 * MB, 8 * MB, [](int n) { return n < 4 ? 60 * MB : 30 * MB; }, 60 },
        { "download that stops within two minutes", 500 * GB, 20 * GB,
          [](int n) { return 100 * GB - 2 * GB * static_cast<uint64_t>(n < 2 ? n : 2); }, 60 },
        { "a 100-second download that four passes straddle", 500 * GB, 20 * GB,
          [](int n) {
              const int64_t seconds = std::min<int64_t>(std::max<int64_t>(n * 45 - 40, 0), 100);
              return 50 * GB - 30 * MB * static_cast<uint64_t>(seconds);
          },
          60 },
        { "write then delete", 4 * TB, 10 * GB, [](int n) { return n % 3 == 1 ? 12 * GB : 60 * GB; }, 60 },
        { "slow fill beyond the horizon", 500 * GB, 20 * GB,
          [](int n) { return 30 * GB - 50 * MB * static_cast<uint64_t>(n); }, 60 },
        { "jitter of a few megabytes", 4 * TB, 10 * GB,
          [](int n) { return 10 * GB + 20 * MB - (static_cast<uint64_t>(n * 7919) % 6) * MB; }, 60 },
        { "log rotation", 64 * MB, 8 * MB,
          [](int n) { return 40 * MB - 2 * MB * static_cast<uint64_t>(n % 3); }, 60 },
        { "forecasts switched off", 64 * MB, 8 * MB,
          [](int n) { return 60 * MB - 2 * MB * static_cast<uint64_t>(n); }, 0 },
    };
    for (const auto& t : traces) {
        SCOPED_TRACE(t.what);
        table[D] = DriveTrayState();
        tray = FakeTray();
        tray.forecastMinutes = t.horizon;
        iconMask = muteMask = 0;
        const TraceResult r = Run(t.total, t.threshold, 24, t.free);
        EXPECT_EQ(r.firstEarly, -1) << ::testing::PrintToString(r.calls);
    }
    // A capacity that changes every pass (a growing virtual disk).
    table[D] = DriveTrayState();
    tray = FakeTray();
    for (int n = 0; n < 24; ++n) {
        tray.now = 1000 + static_cast<uint32_t>(n) * PASS;
        settings[D].Enabled = 1;
        settings[D].Threshold = 8 * MB;
        tray.drives[L"D:\\"] = DriveSpace{ 60 * MB - 2 * MB * static_cast<uint64_t>(n), 64 * MB + MB * n };
        RunPass();
        EXPECT_EQ(tray.pass.earlyShown, 0u) << n;
    }
}

// The early icon goes, as a recovered one does, once the fill has stopped
// for two passes; the horizon is asked only while a fill is seen.
TEST_F(ForecastFixture, TheEarlyIconGoesWhenTheFillStops)
{
    const TraceResult r = Run(64 * MB, 8 * MB, 14, [](int n) {
        return 60 * MB - 2 * MB * static_cast<uint64_t>(n < 6 ? n : 6);
    });
    ASSERT_EQ(r.firstEarly, 3);
    EXPECT_EQ(r.calls.back(), "8: delete 3");
    EXPECT_EQ(r.horizonAsked, 6) << "passes 3 to 8: a steady fill, then the early icon";
    EXPECT_EQ(iconMask, 0u);
}

// A fill that pauses long enough for its early icon to go, then resumes and
// crosses the threshold within the early icon's interval: the crossing still
// warns at once, balloon and event, as a first crossing does.
TEST_F(ForecastFixture, ACrossingAfterAnEarlyIconWarnsAtOnce)
{
    const uint64_t frees[] = { 30, 26, 22, 18, 18, 18, 14, 10, 7 };
    const TraceResult r = Run(64 * MB, 8 * MB, 9, [&](int n) { return frees[n] * MB; });
    ASSERT_EQ(r.firstEarly, 3);
    EXPECT_NE(std::find(r.calls.begin(), r.calls.end(), "5: delete 3"), r.calls.end()) << "the fill stopped";
    EXPECT_EQ(r.calls.back().rfind("8: add 3 kind ", 0), 0u) << ::testing::PrintToString(r.calls);
    EXPECT_EQ(r.events.back().rfind("8: 1001 ", 0), 0u) << ::testing::PrintToString(r.events);
}

// A drive hovering at its threshold, across it at every pass for an hour,
// gets the balloons one that stays low would get (at 0, 5, 15 and 35
// minutes) and no more low events than balloons; its icon is there at every
// low pass and gone at every other.
TEST_F(ForecastFixture, AHoveringDriveKeepsItsBackOff)
{
    const TraceResult r = Run(64 * MB, 8 * MB, 80, [](int n) { return n % 2 == 0 ? 7 * MB : 9 * MB; });
    std::vector<int> balloonPasses;
    int lowEvents = 0;
    for (const std::string& call : r.calls) {
        if (call.find("add 3 kind") != std::string::npos || call.find("balloon 3 kind") != std::string::npos)
            balloonPasses.push_back(std::stoi(call));
    }
    for (const std::string& event : r.events)
        lowEvents += event.find(": 1001 ") != std::string::npos ? 1 : 0;
    // Passes of 45 s, low at every other one: the first balloon, then the
    // first low pass once its interval (5, 10, 20 minutes) has passed.
    EXPECT_EQ(balloonPasses, (std::vector<int>{ 0, 8, 22, 50 }));
    EXPECT_LE(lowEvents, 4);
    EXPECT_EQ(r.balloons, 4);
    EXPECT_EQ(iconMask, 0u) << "the last pass was above the threshold";
}

// The seed's road stays: low, a balloon and an event at once; recovered,
// the icon and an event at once; low again much later, afresh.
TEST_F(ForecastFixture, ASimpleDipIsWarnedAndClearedAtOnce)
{
    const TraceResult r = Run(64 * MB, 8 * MB, 30, [](int n) { return n == 2 || n == 25 ? 7 * MB : 20 * MB; });
    EXPECT_EQ(r.calls, (std::vector<std::string>{ "2: add 3 kind 2", "3: delete 3", "25: add 3 kind 2",
                                                 "26: delete 3" }));
    EXPECT_EQ(r.events.size(), 4u) << ::testing::PrintToString(r.events);
}

TEST(ForecastPolicy, TheHorizonAsStored)
{
    EXPECT_EQ(ForecastHorizonFromPolicy(false, 0), DEFAULT_FORECAST_MINUTES);
    EXPECT_EQ(ForecastHorizonFromPolicy(true, 0), 0u);
    EXPECT_EQ(ForecastHorizonFromPolicy(true, 90), 90u);
    EXPECT_EQ(ForecastHorizonFromPolicy(true, 0xFFFFFFFF), LONGEST_FORECAST_MINUTES);
}

}  // namespace
