"""BrimWatch's repeat balloons, the mute question, the icon's menu and tip.

One monitor runs for a little over five minutes, the first repeat interval:
the menu commands and the tip are checked while it waits.
"""

import time
import unittest

from brimharness import MiB, wait_for
from brimcases import (EVENTS, MONITOR_TITLE, MUTE_QUESTION, MonitorTestCase, NIN_BALLOONUSERCLICK, PACKED_VERSION,
                       VK_DOWN, VK_ESCAPE, VK_RETURN, WM_LBUTTONDOWN, WM_MOUSEMOVE, WM_TRAYICON, balloon_text,
                       tip_text)


FIRST_REPEAT = 300  # seconds after the icon was added
SCAN_PERIOD = 45
IDYES, IDNO = 6, 7
FOLDER = r"C:\Apps\Low Space"
RENAMED = "WatchCopy.exe"


class RepeatTest(MonitorTestCase):

    def test_muted_drive_gets_no_repeat_balloon_and_the_menu_starts_the_tools(self):
        env = self.make_env(drives={"d": 16 * MiB, "e": 16 * MiB}, search_path_tools=("cleanmgr.exe",))
        # C: (the prefix's own disk) is below any threshold this large.
        env.set_drive_settings({"c": (1, 1 << 62), "d": (1, 8 * MiB), "e": (1, 8 * MiB)})
        env.fill_drive("d", 4 * MiB)
        env.fill_drive("e", 4 * MiB)
        # A renamed copy in a folder of its own.
        monitor = self.start_monitor(self.install_monitor(FOLDER, RENAMED))
        window = self.wait_monitor_window()
        self.pulse_until("add", 4, since=0)
        added = time.monotonic()
        self.assertEqual(sorted(self.icon_ids("add")), [2, 3, 4])
        self.wait_balloon(balloon_text("D", "4.00 MB"))
        self.wait_balloon(balloon_text("E", "4.00 MB"))
        self.assertTrue(wait_for(lambda: [b for b in self.balloons() if "drive C." in b["text"]], 60))
        self.assertEqual(self.wait_record("VelloranUpdater.exe"), ["%s 0 %d 1" % (RENAMED, PACKED_VERSION)])

        # A click on D:'s balloon asks; Yes mutes D:. No on E:'s changes nothing.
        self.post(window, WM_TRAYICON, 3, NIN_BALLOONUSERCLICK)
        box = env.message_box(timeout=20)
        self.assertIsNotNone(box, "the mute question did not appear")
        self.assertEqual((box["title"], box["text"], box["owner"]), (MONITOR_TITLE, MUTE_QUESTION, window))
        self.assertEqual(sorted(b[0] for b in box["buttons"]), [IDYES, IDNO])
        self.assertTrue(env.answer_message_box("yes"))
        self.post(window, WM_TRAYICON, 4, NIN_BALLOONUSERCLICK)
        self.assertIsNotNone(env.message_box(timeout=20))
        self.assertTrue(env.answer_message_box("no"))
        # The event log heard of each drive's fall and of D:'s mute, once.
        self.assertTrue(wait_for(lambda: len(self.monitor_events()) >= 4, 20), self.monitor_events())
        events = [(e["full_id"], e["strings"][0]) for e in self.monitor_events()]
        low, muted = EVENTS["MSG_DRIVE_LOW"]["full_id"], EVENTS["MSG_DRIVE_MUTED"]["full_id"]
        self.assertEqual(sorted(events), sorted([(low, "C:"), (low, "D:"), (low, "E:"), (muted, "D:")]))

        # The menu: clean-up on C: (drive index 2), Explorer on D:, the
        # configuration program beside the monitor; a dismissed menu does nothing.
        self.choose_from_menu(window, 2, VK_DOWN, VK_RETURN)
        self.assertEqual(self.wait_record("cleanmgr.exe"), ["/dC"])
        self.choose_from_menu(window, 3, VK_DOWN, VK_DOWN, VK_RETURN, button=WM_LBUTTONDOWN)
        self.assertEqual(self.wait_record("explorer.exe"), ["/e,D:\\"])
        self.choose_from_menu(window, 4, VK_DOWN, VK_DOWN, VK_DOWN, VK_RETURN)
        self.assertEqual(self.wait_record("BrimSet.exe"), [""])
        self.choose_from_menu(window, 4, VK_ESCAPE)
        time.sleep(3)
        self.assertEqual([len(self.record(n)) for n in ("cleanmgr.exe", "explorer.exe", "BrimSet.exe")], [1, 1, 1])

        # The tip shows the free space of the moment, muted or not.
        env.fill_drive("d", 3 * MiB)
        self.post(window, WM_TRAYICON, 3, WM_MOUSEMOVE)
        self.assertTrue(wait_for(lambda: tip_text("D", "3.00 MB") in self.tray_tips(), 20),
                        "tips: %r" % self.tray_tips())

        # The first repeat: due 300 s after the add, shown at the first
        # tick after that. C: and E: repeat; the muted D: does not.
        mark = env.tray_mark()
        deadline = added + FIRST_REPEAT + 2 * SCAN_PERIOD + 30
        repeated = wait_for(lambda: [b for b in self.balloons(mark) if b["text"] == balloon_text("E", "4.00 MB")],
                            max(0, deadline - time.monotonic()), 1.0)
        self.assertTrue(repeated, "E: got no repeat balloon: %r" % env.tray_events(mark))
        self.assertGreaterEqual(time.monotonic() - added, FIRST_REPEAT - 5, "a repeat came too early")
        texts = [b["text"] for b in self.balloons(mark)]
        self.assertTrue(any("drive C." in t for t in texts), texts)
        self.assertFalse(any("drive D." in t for t in texts), "the muted drive repeated: %r" % texts)
        # A repeat balloon is no crossing: no event.
        self.assertEqual(len(self.monitor_events()), 4, self.monitor_events()[4:])
        self.assertEqual(sorted(set(self.icon_ids("modify", mark))), [2, 4])
        self.assertEqual(self.icon_ids("add", mark), [])

        mark = env.tray_mark()
        self.pulse("close")
        self.assertEqual(self.wait_exit_code(monitor), 0)
        self.assertEqual(sorted(self.icon_ids("delete", mark)), [2, 3, 4])
        self.assertEqual(len(self.record("VelloranUpdater.exe")), 1)


if __name__ == "__main__":
    unittest.main()
