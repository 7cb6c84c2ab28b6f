// The walk over a drive-root list and drive mask of any shape, and one scan
// pass over whatever the system reports: any set of fixed drives (the drive
// mask), any stored settings image, any prior tray state, and any mix of
// query results, sizes and tray call outcomes.
//
// Input: drive mask, icon mask, mute mask and tick count (4 bytes each),
// the settings image (234 bytes), per drive the last balloon tick and
// interval (8 bytes), the root list (a length byte and UTF-16 code units),
// per drive the kept back-off and the forecast's state (a flags byte, the
// tick its icon went, a run of falling samples drawn from a capacity, a
// start and a step, and a kept rate), the forecast horizon (2 bytes), then,
// for each drive the pass asks about, an outcome byte and the free and
// total byte counts.
#include <cstring>
#include <cwchar>
#include <memory>

#include "../fakes/FakeTray.h"
#include "FuzzInput.h"
#include "ScanLogic.h"

namespace {

// What the input said of a drive when the pass queried it.
struct Outcome {
    bool queried = false;
    bool queryOk = false;
    bool addOk = false;
    DriveSpace space = {};
};

// Error below 1 MiB, warning at or below 15 % of the total, else information.
BalloonKind ExpectedKind(const DriveSpace& space)
{
    if (space.freeBytes < 1048576)
        return BALLOON_KIND_ERROR;
    const unsigned __int128 mark = static_cast<uint64_t>(space.totalBytes * 15);  // 64-bit product, as stored
    return static_cast<unsigned __int128>(space.freeBytes) * 100 <= mark ? BALLOON_KIND_WARNING : BALLOON_KIND_INFO;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzInput in(data, size);
    const uint32_t driveMask = in.Integer<uint32_t>();
    uint32_t iconMask = in.Integer<uint32_t>();
    uint32_t muteMask = in.Integer<uint32_t>();
    const uint32_t now = in.Integer<uint32_t>();
    uint8_t image[DRIVE_SETTINGS_SIZE] = {};
    std::vector<uint8_t> imageBytes = in.Bytes(DRIVE_SETTINGS_SIZE);
    if (!imageBytes.empty())
        std::memcpy(image, imageBytes.data(), imageBytes.size());
    DriveSettingsImage settings;
    ApplyStoredSettings(settings, image, DRIVE_SETTINGS_SIZE, true);
    DriveTrayStateArray table = {};
    for (int d = 0; d < DRIVE_COUNT; ++d) {
        table[d].lastBalloonTick = in.Integer<uint32_t>();
        table[d].balloonInterval = in.Integer<uint32_t>();
    }

    // The root list as the scan holds it: what the system wrote (anything),
    // then at least two NULs, in a block of exactly that size.
    std::wstring list = in.WideString(in.Byte());
    const size_t length = list.size() + 2;
    std::unique_ptr<wchar_t[]> roots(new wchar_t[length]());
    if (!list.empty())
        std::wmemcpy(roots.get(), list.data(), list.size());

    // The strings the list holds, up to the first empty one.
    std::vector<const wchar_t*> strings;
    for (const wchar_t* p = roots.get(); *p != L'\0'; p += std::wcslen(p) + 1)
        strings.push_back(p);

    // The walk visits, in list order, each string that names a drive of the
    // mask by its own letter, each drive once, in rising order.
    std::vector<int> visited;
    size_t at = 0;
    WalkDriveRoots(roots.get(), driveMask, [&](int index, const wchar_t* root) {
        FUZZ_CHECK(index >= 0 && index < DRIVE_COUNT && (driveMask & (1u << index)) != 0);
        FUZZ_CHECK(index == DriveIndexOfRoot(root));
        FUZZ_CHECK(visited.empty() || index > visited.back());
        while (at < strings.size() && strings[at] != root)
            ++at;
        FUZZ_CHECK(at < strings.size());
        visited.push_back(index);
    });
    // ... and passes over only strings it may pass over.
    int last = -1;
    size_t taken = 0;
    for (const wchar_t* s : strings) {
        const int index = DriveIndexOfRoot(s);
        const bool takes = index > last && (driveMask & (1u << index)) != 0;
        FUZZ_CHECK(takes == (taken < visited.size() && visited[taken] == index));
        if (takes) {
            last = index;
            ++taken;
        }
    }
    FUZZ_CHECK(taken == visited.size());

    // The state the forecast and the kept back-off left: any of it.
    DriveTrendArray trends = {};
    for (int d = 0; d < DRIVE_COUNT; ++d) {
        const uint8_t flags = in.Byte();
        table[d].goneTick = in.Integer<uint32_t>();
        table[d].backOffKept = (flags & 1) != 0;
        table[d].early = (flags & 2) != 0;
        table[d].goneWasLow = (flags & 0x20) != 0;
        DriveTrend& trend = trends[d];
        trend.count = static_cast<uint8_t>(((flags >> 2) & 7) * 2 % (FILL_HISTORY + 1));
        trend.stillSteps = static_cast<uint8_t>((flags >> 6) % (STILL_STEPS_TO_STOP + 1));
        trend.totalBytes = in.Integer<uint64_t>();
        const uint64_t start = in.Integer<uint64_t>();
        const uint64_t step = in.Integer<uint32_t>();
        for (uint8_t k = 0; k < trend.count; ++k)
            trend.samples[k] = { now - 45000u * static_cast<uint32_t>(trend.count - k), start - step * k };
        trend.bytesPerMinute = in.Integer<uint32_t>();
    }
    const uint32_t horizon = in.Integer<uint16_t>();

    // The pass. The drive mask says which drives are fixed; each outcome is
    // drawn when the pass asks a drive's free space, and the tray calls that
    // follow are let succeed as it says.
    const uint32_t iconBefore = iconMask;
    const uint32_t muteBefore = muteMask;
    DriveTrayStateArray tableBefore;
    std::memcpy(tableBefore, table, sizeof table);
    FakeTray tray;
    tray.now = now;
    std::memcpy(tray.trends, trends, sizeof trends);
    tray.forecastMinutes = horizon;
    tray.shellIcons = iconMask;
    const uint32_t candidates = DrivesToScan(settings, iconMask, tray.levels);
    for (int d = 0; d < DRIVE_COUNT; ++d) {
        if ((driveMask & (1u << d)) == 0)
            tray.notFixed.insert(std::wstring{ static_cast<wchar_t>(L'A' + d), L':', L'\\' });
    }
    Outcome outcomes[DRIVE_COUNT];
    tray.query = [&](const wchar_t* root, DriveSpace* space) {
        const int index = DriveIndexOfRoot(root);
        FUZZ_CHECK(index >= 0 && index < DRIVE_COUNT && std::wcscmp(root + 2, L"\\") == 0);
        FUZZ_CHECK((candidates & (1u << index)) != 0);
        const uint8_t flags = in.Byte();
        Outcome& o = outcomes[index];
        FUZZ_CHECK(!o.queried);
        o.queried = true;
        o.queryOk = (flags & 1) != 0;
        o.addOk = (flags & 2) != 0;
        tray.addSucceeds = o.addOk;
        tray.repeatSucceeds = (flags & 4) != 0;
        tray.deleteSucceeds = (flags & 8) != 0;
        o.space.freeBytes = in.Integer<uint64_t>();
        o.space.totalBytes = in.Integer<uint64_t>();
        if ((flags & 16) != 0)
            o.space.freeBytes >>= 24;  // small counts as well, near the 1 MiB mark
        if (o.queryOk)
            *space = o.space;
        return o.queryOk;
    };
    tray.StartPass();
    ScanWatchedDrives(settings, iconMask, muteMask, table, tray.levels, tray.trends, tray);
    // Every drive the pass looks at was asked once, and no other.
    for (int d = 0; d < DRIVE_COUNT; ++d)
        FUZZ_CHECK(outcomes[d].queried == ((candidates & (1u << d)) != 0));
    FUZZ_CHECK(tray.pass.beeps == tray.pass.failedCalls);
    FUZZ_CHECK(tray.faults.empty());

    for (int d = 0; d < DRIVE_COUNT; ++d) {
        const uint32_t bit = 1u << d;
        const Outcome& o = outcomes[d];
        const int adds = tray.pass.adds[d], repeats = tray.pass.repeats[d], deletes = tray.pass.deletes[d];
        const bool hadIcon = (iconBefore & bit) != 0;
        const bool wasMuted = (muteBefore & bit) != 0;
        const bool sameState = std::memcmp(&table[d], &tableBefore[d], sizeof table[d]) == 0;
        if (!o.queried || !o.queryOk || (driveMask & bit) == 0) {
            // Not measured this pass, or not fixed: icon, mute and back-off stay as they were.
            FUZZ_CHECK((iconMask & bit) == (iconBefore & bit) && (muteMask & bit) == (muteBefore & bit));
            FUZZ_CHECK(sameState && adds + repeats + deletes == 0);
            continue;
        }
        const uint8_t* record = image + d * DRIVE_SETTING_SIZE;
        uint64_t threshold = 0;
        for (int b = 0; b < 8; ++b)
            threshold |= static_cast<uint64_t>(record[1 + b]) << (8 * b);
        const bool watched = record[0] != 0;
        const bool low = watched && o.space.freeBytes < threshold;
        const DriveTrayState& before = tableBefore[d];
        const bool hasIcon = (iconMask & bit) != 0;
        const bool early = hasIcon && table[d].early;
        // A low drive's back-off is kept only from a low icon.
        const bool kept =
            before.backOffKept && before.goneWasLow && now - before.goneTick <= before.balloonInterval;
        const bool due = now - before.lastBalloonTick >= before.balloonInterval;

        // An early icon only on a watched drive that is not low (or one
        // whose turn into a low icon the shell refused, tried again at the
        // next pass); the horizon asked at most once a pass.
        const bool conversionRefused = low && hadIcon && before.early && repeats == 1 && !tray.Ballooned(d);
        FUZZ_CHECK(!early || (watched && !low) || conversionRefused);
        FUZZ_CHECK(tray.pass.horizonAsked <= 1);
        FUZZ_CHECK(adds + repeats + deletes <= 1);
        if (tray.Ballooned(d))
            FUZZ_CHECK(tray.pass.kinds[d] ==
                       ((tray.pass.earlyShown & bit) != 0 ? BALLOON_KIND_WARNING : ExpectedKind(o.space)));
        if (!low) {
            if (early || adds != 0)
                continue;  // filling fast: the forecast's own tests follow it
            // Neither low nor filling fast: the icon goes (even if the shell
            // refused), and its back-off is kept from now.
            FUZZ_CHECK(!hasIcon && deletes == (hadIcon ? 1 : 0) && (muteMask & bit) == (muteBefore & bit));
            if (hadIcon)
                FUZZ_CHECK(table[d].goneTick == now && table[d].backOffKept && !table[d].early &&
                           table[d].goneWasLow == !before.early && table[d].lastBalloonTick == before.lastBalloonTick);
            else
                FUZZ_CHECK(sameState);
            continue;
        }
        FUZZ_CHECK(!early || conversionRefused);
        if (!hadIcon) {
            FUZZ_CHECK(adds == 1);
            const bool quiet = kept && (!due || wasMuted);
            if (!o.addOk) {
                FUZZ_CHECK(!hasIcon && (muteMask & bit) == (muteBefore & bit));
            } else if (quiet) {
                // Back within its back-off: the icon without a balloon.
                FUZZ_CHECK(hasIcon && !tray.Ballooned(d) && (muteMask & bit) == (muteBefore & bit));
                FUZZ_CHECK(table[d].lastBalloonTick == before.lastBalloonTick);
            } else if (kept) {
                // Back after its interval: the balloon keeps to the back-off.
                const uint64_t doubled = 2ull * before.balloonInterval;
                FUZZ_CHECK(hasIcon && (muteMask & bit) == (muteBefore & bit) && table[d].lastBalloonTick == now);
                FUZZ_CHECK(table[d].balloonInterval == (doubled < 7200000 ? doubled : 7200000));
            } else {
                FUZZ_CHECK(hasIcon && (muteMask & bit) == 0);
                FUZZ_CHECK(table[d].lastBalloonTick == now && table[d].balloonInterval == 300000);
            }
            continue;
        }
        FUZZ_CHECK(hasIcon);
        if (before.early) {
            // An early icon turns into a low one with the low balloon at once.
            FUZZ_CHECK(repeats == 1);
            if (tray.Ballooned(d))
                FUZZ_CHECK(table[d].balloonInterval == 300000 && (muteMask & bit) == 0 && !table[d].early);
            continue;
        }
        // Low with an icon: a repeat only when due and not muted.
        FUZZ_CHECK((muteMask & bit) == (muteBefore & bit));
        FUZZ_CHECK(repeats == (due && !wasMuted ? 1 : 0));
        if (repeats == 1 && tray.Ballooned(d)) {
            const uint64_t doubled = 2ull * before.balloonInterval;
            FUZZ_CHECK(table[d].lastBalloonTick == now);
            FUZZ_CHECK(table[d].balloonInterval == (doubled < 7200000 ? doubled : 7200000));
        } else {
            FUZZ_CHECK(sameState);
        }
    }
    // Bits above the last drive are never touched.
    FUZZ_CHECK((iconMask & ~0x3FFFFFFu) == (iconBefore & ~0x3FFFFFFu));
    FUZZ_CHECK((muteMask & ~0x3FFFFFFu) == (muteBefore & ~0x3FFFFFFu));
    return 0;
}
