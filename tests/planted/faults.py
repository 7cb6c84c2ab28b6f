"""The faults planted.py plants, one at a time, in a copy of the sources.

Each fault replaces one exact text (it must occur exactly once in its file)
and names the narrowest CTest tests that should fail because of it: a
regular expression for `ctest -R`, run in the native tree (pure logic,
GoogleTest under the sanitizers) or in the win64 tree (Windows unit tests
and end-to-end tests under Wine). A fault the current suite does not catch
stays in the list with expect_missed=True and a comment saying why.

Run as a script, it checks every fault's text against a checkout (the one
it lives in by default) and fails when one is missing or not unique: a
moved line would otherwise disarm its fault silently. The test command runs
it as the native CTest test native.planted_anchors.
"""

import sys
from collections import namedtuple
from pathlib import Path

Fault = namedtuple("Fault", "id file find replace what tree tests expect_missed")


def fault(id, file, find, replace, what, tree, tests, expect_missed=False):
    return Fault(id, file, find, replace, what, tree, tests, expect_missed)


def anchor_problem(f, source):
    """Why fault f cannot be planted in the checkout at `source` (its file
    is missing, or its text does not occur there exactly once), or None."""
    path = Path(source) / f.file
    if not path.is_file():
        return "fault %s: no file %s" % (f.id, f.file)
    count = path.read_text().count(f.find)
    if count != 1:
        return "fault %s: the text to replace occurs %d times in %s (must be exactly once):\n%s" % (
            f.id, count, f.file, f.find)
    return None


FAULTS = [
    # ---------------------------------------------------------------- pure logic
    fault("low-at-threshold", "monitor/ScanLogic.cpp",
          "freeBytes < ThresholdOf(setting)",
          "freeBytes <= ThresholdOf(setting)",
          "a drive exactly at its threshold counts as low (at-or-below instead of strictly below)",
          "native", r"^native\.ScanLogic\."),
    fault("backoff-no-cap", "monitor/ScanLogic.cpp",
          "return doubled < LARGEST_BALLOON_INTERVAL ? static_cast<uint32_t>(doubled) : LARGEST_BALLOON_INTERVAL;",
          "return static_cast<uint32_t>(doubled);",
          "the balloon repeat interval keeps doubling past two hours",
          "native", r"^native\.ScanLogic\."),
    fault("record-copy-unbounded", "common/DriveSettingsRecord.cpp",
          "    if (returned > DRIVE_SETTINGS_SIZE)\n        returned = DRIVE_SETTINGS_SIZE;\n",
          "",
          "a stored value longer than the 234-byte table is copied whole (overruns the table)",
          "native", r"^native\.DriveSettingsRecord\."),
    fault("close-switch-case", "common/CommandLine.cpp",
          "return SwitchLetter(argument, upper) == L'U';",
          "return SwitchLetter(argument, nullptr) == L'U';",
          "the close switch is case-sensitive: /u and -uninstall no longer close the monitors",
          "native", r"^native\.CommandLine\."),
    fault("scan-asks-every-drive", "monitor/ScanLogic.cpp",
          "uint32_t drives = iconMask;",
          "uint32_t drives = ~0u;",
          "a pass asks every drive, watched or not",
          "native", r"^native\.ScanFixture\."),
    fault("verbs-skip-unknown-switch", "config/VerbLogic.cpp",
          "            fail(IDS_VERB_UNKNOWN, argument);",
          "            continue;",
          "BrimSet ignores a switch it does not know, and does the rest of the command line",
          "native", r"^native\.Verbs\."),
    fault("updater-offers-plain-http", "updater/UpdaterLogic.cpp",
          "        if (!IsSecureWebAddress(feed->page))",
          "        if (false)",
          "the updater offers a download page given as a plain http address",
          "native", r"^native\.UpdateCheck\."),
    fault("forecast-beyond-horizon", "monitor/ScanLogic.cpp",
          "        return IsSteadyFill(trend) && forecast.minutesToThreshold <= horizonMinutes;",
          "        return IsSteadyFill(trend);",
          "any steady fill warns early, however far beyond the horizon it reaches the threshold",
          "native", r"^native\.ForecastFixture\."),
    fault("hovering-drive-starts-afresh", "monitor/ScanLogic.cpp",
          "    return state.backOffKept && static_cast<uint32_t>(now - state.goneTick) <= state.balloonInterval;",
          "    return false;",
          "a drive crossing its threshold back and forth gets a fresh balloon at every crossing",
          "native", r"^native\.ForecastFixture\."),
    fault("updater-format", "common/VersionLogic.h",
          'UPDATER_PARAMETER_TEMPLATE[] = L"%s 0 %I64d %d";',
          'UPDATER_PARAMETER_TEMPLATE[] = L"%s %I64d %d";',
          "the updater's command line loses its fixed 0 field",
          "native", r"^native\.VersionLogic\."),

    # ---------------------------------------------------------------- Win32 layer
    fault("settings-pulse-dropped", "common/SignalEvents.cpp",
          "PulseEvent(SettingsChangedEvent);",
          "(void)SettingsChangedEvent;",
          "Apply no longer pulses the settings event: running monitors are not told",
          "win64", r"^win\.common$"),
    fault("reload-waits-for-tick", "monitor/Monitor.cpp",
          "ArmScanTimer(window, RESCAN_DELAY);",
          "ArmScanTimer(window, SCAN_PERIOD);",
          "after a settings reload the monitor rescans only at the next 45 s tick",
          "win64", r"^e2e\.test_config_roundtrip(\.|$)"),
    # Expected missed: the round trip fails only when no icon change comes
    # within 8 s of an Apply, and test_monitor_tray only above 15 s; the
    # one-second reaction is measured by the benchmark (bench/), not tested.
    fault("rescan-delay-5s", "monitor/MonitorLogic.h",
          "RESCAN_DELAY = 1000;",
          "RESCAN_DELAY = 5000;",
          "the rescan after a settings reload comes after 5 s instead of 1 s",
          "win64", r"^e2e\.test_config_roundtrip(\.|$)", expect_missed=True),
    fault("settings-key-not-watched", "monitor/EventThread.cpp",
          "return key && RegNotifyChangeKeyValue(key.Get(), FALSE, filter, event, TRUE) == ERROR_SUCCESS;",
          "return false;",
          "the registry is never asked to report a settings change: a write with no pulse waits for a tick",
          "win64", r"^e2e\.test_monitor_tray\.SettingsWatchTest$"),
    fault("schedule-read-every-tick", "common/VersionLogic.h",
          "return !schedule.known || IsUpdateDue(",
          "return true || IsUpdateDue(",
          "the update schedule is read from the registry at every tick instead of being kept",
          "win64", r"^win\.common$"),
    fault("close-signal-alone-closes", "monitor/Monitor.cpp",
          "    if (!IsNewCloseRequest(CloseRequestAtStart, ReadCloseRequestMark()))",
          "    if (false)",
          "a close signal that any account can send closes the monitor without an administrator's request",
          "win64", r"^e2e\.test_faults_events\.SignalledEventTest$"),
    fault("icon-id-shifted", "monitor/Scan.cpp",
          "data.uID = static_cast<UINT>(driveIndex);",
          "data.uID = static_cast<UINT>(driveIndex + 1);",
          "a drive's tray icon id is no longer its drive index",
          "win64", r"^e2e\.test_monitor_tray(\.|$)"),
    fault("threshold-not-megabytes", "config/ThresholdDialog.cpp",
          "EditedEntry->WorkingThreshold = BytesOfMegabytes(megabytes);",
          "EditedEntry->WorkingThreshold = megabytes;",
          "the threshold typed in megabytes is stored as that many bytes",
          "win64", r"^e2e\.test_config_apply(\.|$)"),
    fault("os-switch-32bit-view", "config/OsLowSpaceSwitchRecord.h",
          "EXPLORER_POLICY_VIEW = KEY_WOW64_64KEY;",
          "EXPLORER_POLICY_VIEW = KEY_WOW64_32KEY;",
          "the system's low-space switch is read and written in the 32-bit registry view",
          "win64", r"^e2e\.test_config_apply(\.|$)"),
    fault("os-warning-record-over-policy", "config/OsLowSpaceSwitch.cpp",
          "        if (!before.SwitchesChecksOff()) {",
          "        if (true) {",
          "BrimSet records a warning already switched off (an administrator's 1) as its own doing",
          "win64", r"^e2e\.test_config_verbs(\.|$)"),
    fault("install-check-unescaped", "installer/InstallCheck.cpp",
          "        if (*text == L'[' || *text == L']' || *text == L'{' || *text == L'}') {",
          "        if (false) {",
          "the installer's error names a bad assignment with its brackets read as a property",
          "win64", r"^e2e\.test_installer\.InstallerTest$"),
    fault("denied-save-silent", "common/DriveSettings.cpp",
          "ShowStringMessage(owner, IDS_SETTINGS_ACCESS_DENIED, MB_OK | MB_ICONINFORMATION);",
          "",
          "a save refused by the registry (access denied) shows no message",
          "win64", r"^e2e\.test_config_denied(\.|$)"),
]


def main(source):
    problems = [p for p in (anchor_problem(f, source) for f in FAULTS) if p]
    for problem in problems:
        print(problem)
    print("planted faults: %d anchors, %d not found exactly once" % (len(FAULTS), len(problems)))
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1] if len(sys.argv) > 1 else Path(__file__).resolve().parents[2]))
