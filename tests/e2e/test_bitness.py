"""The 32-bit and the 64-bit build on one machine: a value saved by the
BrimSet of one bitness is read by the BrimWatch of the other, and the named
events reach across too.

Needs both builds: this build (BRIM_BUILD_DIR) and the other bitness's tree
in BRIM_OTHER_BUILD_DIR (tests/e2e/CMakeLists.txt passes the sibling win32 or
win64 folder). Without it the test skips, and with CI=true it fails.
"""

import contextlib
import subprocess
import time
import unittest

from brimharness import (BUILD_DIR, OTHER_BUILD_DIR, MiB, WineEnv, build_bits, build_drive_settings, in_ci,
                         parse_drive_settings, pe_bits, program, wait_for)
from brimcases import (ConfigTestCase, IDC_CLOSE, INSTALL_DIRS, MONITOR_CLASS, SETTINGS_KEY, SETTINGS_SUBKEY, TITLE,
                       fifteen_percent)

ICON_OF_D, ICON_OF_E = 3, 4  # the monitor's icon id is the drive index


class CrossBitnessTest(ConfigTestCase):

    def setUp(self):
        other = OTHER_BUILD_DIR
        trees = [BUILD_DIR] + ([other] if other else [])
        missing = [str(program(name, tree)) for tree in trees
                   for name in ("BrimWatch.exe", "BrimSet.exe", "BrimDriver.exe") if not program(name, tree).is_file()]
        if not other or missing:
            reason = "needs the build of the other bitness in BRIM_OTHER_BUILD_DIR (%s); missing: %s" % (
                other or "not set", ", ".join(missing) or "-")
            if in_ci():
                self.fail(reason + " (CI=true: this test must run)")
            self.skipTest(reason)
        self.trees = {build_bits(): BUILD_DIR}
        self.trees[pe_bits(program("BrimWatch.exe", other))] = other
        self.assertEqual(sorted(self.trees), [32, 64], "both builds have the same bitness: %s, %s"
                         % (BUILD_DIR, other))

    # -- the programs of one bitness ------------------------------------

    def install_both(self):
        for bits, tree in self.trees.items():
            folder = self.env.to_host(INSTALL_DIRS[bits])
            folder.mkdir(parents=True, exist_ok=True)
            for name in ("BrimWatch.exe", "BrimSet.exe"):
                target = folder / name
                target.write_bytes(program(name, tree).read_bytes())
                self.assertEqual(pe_bits(target), bits)
            self.env.make_recorder(INSTALL_DIRS[bits] + r"\VelloranUpdater.exe")

    def use_driver(self, bits):
        """Drives windows with the driver of that bitness: list-view items are
        read through structures laid out for the target process."""
        self.env.driver_exe = program("BrimDriver.exe", self.trees[bits])

    def start_monitor(self, bits):
        before = {w["hwnd"] for w in self.env.windows() if w["class"] == MONITOR_CLASS}
        monitor = self.env.start(INSTALL_DIRS[bits] + r"\BrimWatch.exe", log="monitor%d.log" % bits,
                                 debug="-all,trace+systray")
        self.assertTrue(wait_for(lambda: [w for w in self.env.windows()
                                          if w["class"] == MONITOR_CLASS and w["hwnd"] not in before], 60, 0.25),
                        "the %d-bit monitor did not start" % bits)
        time.sleep(2)  # into its event wait
        return monitor

    def open_brimset(self, bits):
        self.use_driver(bits)
        self.proc = self.env.start(INSTALL_DIRS[bits] + r"\BrimSet.exe", log="brimset%d.log" % bits)
        self.dialog = self.env.find_window("#32770", TITLE, timeout=60)
        self.assertIsNotNone(self.dialog, "the %d-bit drive list dialog did not appear" % bits)
        self.settle(self.dialog)

    def close_brimset(self):
        self.command(self.dialog, IDC_CLOSE)
        self.assertEqual(self.wait_exit(), 0)

    def close_monitors(self, bits, monitor, attempts=3):
        """BrimSet /U of that bitness makes the running monitor exit. The
        switch pulses once: a pulse that finds the monitor's thread outside
        its wait is lost, so it is repeated."""
        for number in range(attempts):
            switch = self.env.start(INSTALL_DIRS[bits] + r"\BrimSet.exe", "/U", log="close%d.log" % bits)
            self.assertEqual(self.env.wait_exit(switch, 60), 0)
            with contextlib.suppress(subprocess.TimeoutExpired):
                self.assertEqual(self.env.wait_exit(monitor, 15), 0)
                return
        self.fail("the monitor did not exit on the close event of %d-bit BrimSet /U" % bits)

    # -- the tray -------------------------------------------------------

    def pulse_until_tray(self, changes, since, attempts=5):
        for _ in range(attempts):
            self.env.driver_ok("pulse", "settings")
            if wait_for(lambda: all(self.env.tray_has(kind, icon, since) for kind, icon in changes), 8, 0.05):
                return True
        return False

    def test_a_value_saved_by_either_build_is_read_by_the_other(self):
        self.env = env = WineEnv.for_test(self, drives={"d": 16 * MiB, "e": 16 * MiB})
        env.fill_drive("d", 4 * MiB)
        env.fill_drive("e", 4 * MiB)
        self.install_both()
        self.use_driver(64)
        capacity_c = self.drive_capacity("c")
        default_of = {"c": fifteen_percent(capacity_c), "e": fifteen_percent(16 * MiB)}

        # 32-bit BrimSet saves; the running 64-bit BrimWatch reloads and warns for D:.
        monitor = self.start_monitor(64)
        self.assertEqual(env.tray_events(), [], "nothing is watched yet")
        self.open_brimset(32)
        self.set_check("d", True)
        self.modify("d", "8")
        self.apply_until_tray([("add", ICON_OF_D)])
        saved = build_drive_settings({"c": (0, default_of["c"]), "d": (1, 8 * MiB), "e": (0, default_of["e"])})
        self.assertEqual(env.drive_settings(), saved)
        # One stored value, in the 32-bit view: Wow6432Node as 64-bit programs see it.
        wow64_key = "HKLM\\" + SETTINGS_SUBKEY.replace("Software\\", "Software\\Wow6432Node\\", 1)
        self.assertEqual(env.reg_query(wow64_key, "DriveSettings", view=64),
                         env.reg_query(SETTINGS_KEY, "DriveSettings", view=32))
        self.assertIsNone(env.reg_query(SETTINGS_KEY, "DriveSettings", view=64))
        self.close_brimset()
        self.assertFalse(env.tray_has("add", ICON_OF_E))
        # One monitor per user, whichever bitness started first.
        second = self.env.start(INSTALL_DIRS[32] + r"\BrimWatch.exe", log="second32.log")
        self.assertEqual(self.env.wait_exit(second, 60), 0, "a second monitor of the same user ends at once")
        self.assertIsNone(monitor.poll(), "the first monitor ended")
        self.use_driver(64)
        self.close_monitors(32, monitor)

        # A 32-bit BrimWatch loads that value at start: its first scan (made
        # sooner than the regular tick by a settings pulse) warns for D:.
        since = env.tray_mark()
        monitor = self.start_monitor(32)
        self.assertTrue(self.pulse_until_tray([("add", ICON_OF_D)], since), "the 32-bit monitor did not warn for D:")

        # 64-bit BrimSet lists what the 32-bit one saved, saves its edits, and
        # the running 32-bit BrimWatch follows: D: goes, E: comes.
        self.open_brimset(64)
        self.assertEqual(self.cells("d")[3], "8.00 MB")
        self.assertEqual(self.rows()[self.row_of("d")]["image"], 2, "D: is listed as watched")
        self.assertEqual(self.rows()[self.row_of("e")]["image"], 1, "E: is listed as not watched")
        self.set_check("d", False)
        self.set_check("e", True)
        self.modify("e", "6")
        self.apply_until_tray([("delete", ICON_OF_D), ("add", ICON_OF_E)])
        resaved = build_drive_settings({"c": (0, default_of["c"]), "d": (0, 8 * MiB), "e": (1, 6 * MiB)})
        self.assertEqual(env.drive_settings(), resaved)
        self.assertEqual(parse_drive_settings(env.drive_settings())["E"], (1, 6 * MiB))
        self.close_brimset()
        self.use_driver(32)
        self.close_monitors(64, monitor)

        # Each monitor ran as its own bitness: the tray calls carried the
        # NOTIFYICONDATAW layout of a 64-bit and of a 32-bit program.
        for bits, size in ((64, 968), (32, 952)):
            calls = [line for line in (env.logs_dir / ("monitor%d.log" % bits)).read_text(errors="replace")
                     .splitlines() if "Shell_NotifyIconW" in line]
            self.assertTrue(calls and all("cbSize=%d" % size in line for line in calls), calls)


if __name__ == "__main__":
    unittest.main()
