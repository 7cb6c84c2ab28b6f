"""The whole road of a settings change: one Apply in BrimSet makes a running
BrimWatch show or remove a drive's icon about one second later."""

import time
import unittest

from brimharness import MiB, require_programs, wait_for
from brimcases import ConfigTestCase, INSTALL_DIR, MONITOR_CLASS


ICON_OF_D = 3  # the monitor's icon id is the drive index


class RoundTripTest(ConfigTestCase):

    def test_apply_reaches_a_running_monitor(self):
        require_programs(self, "BrimWatch.exe")
        env = self.make_env(drives={"d": 16 * MiB})
        env.install_program("BrimWatch.exe", INSTALL_DIR)
        env.make_recorder(INSTALL_DIR + r"\VelloranUpdater.exe")
        env.set_drive_settings({"d": (1, 1 * MiB)})

        monitor = env.start(INSTALL_DIR + r"\BrimWatch.exe", log="monitor.log", debug="-all,trace+systray")
        self.assertTrue(wait_for(lambda: any(w["class"] == MONITOR_CLASS for w in env.windows()), 60, 0.25),
                        "the monitor did not start")
        time.sleep(2)  # into its event wait
        self.assertFalse(env.tray_has("add", ICON_OF_D))

        self.open_drive_list()
        self.modify("d", "20")  # above the 16 MB free
        shown = self.apply_until_tray([("add", ICON_OF_D)])
        self.modify("d", "1")
        removed = self.apply_until_tray([("delete", ICON_OF_D)])
        print("\nApply to icon shown: %.2f s, removed: %.2f s" % (shown, removed))

        self.command(self.dialog, 2)
        self.assertEqual(self.wait_exit(), 0)
        self.assertIsNone(monitor.poll(), "the monitor ended")


if __name__ == "__main__":
    unittest.main()
