"""BrimWatch's reports to the event log: one event, with the drive, its
free space and threshold and the user, each time a drive crosses a line,
and none for a balloon that is no crossing. Wine's ReportEventW is a stub
that traces what it is given."""

import unittest

from brimharness import MiB, wait_for
from brimcases import EVENTS, MonitorTestCase, balloon_text, event_text, hwnd_text

GRACE = 20  # seconds for a settings pulse and its rescan


class EventLogTest(MonitorTestCase):

    def wait_events(self, count):
        self.assertTrue(wait_for(lambda: len(self.monitor_events()) >= count, GRACE, 0.25),
                        "events: %r" % self.monitor_events())
        return self.monitor_events()

    def assert_event(self, event, name, free, free_text, threshold, threshold_text):
        strings = ["D:", free_text, str(free), threshold_text, str(threshold)]
        self.assertEqual((event["full_id"], event["type"], event["strings"]),
                         (EVENTS[name]["full_id"], EVENTS[name]["type"], strings))
        self.assertNotEqual(int(event["sid"], 16), 0, "the event carries no user")
        # The text an event viewer makes of it.
        self.assertIn("Drive D:", event_text(name, *strings))

    def test_each_crossing_is_reported_once(self):
        env = self.make_env(drives={"d": 16 * MiB})
        env.set_drive_settings({"d": (1, 8 * MiB)})
        env.fill_drive("d", 512 * 1024)
        monitor = self.start_monitor(self.install_monitor())
        window = self.wait_monitor_window()
        self.pulse_until("add", 3, since=0)
        events = self.wait_events(1)
        self.assert_event(events[0], "MSG_DRIVE_VERY_LOW", 512 * 1024, "512 KB", 8 * MiB, "8.00 MB")

        # Low, no longer very low; recovered; low again.
        env.fill_drive("d", 4 * MiB)
        self.pulse()
        self.assert_event(self.wait_events(2)[1], "MSG_DRIVE_LOW", 4 * MiB, "4.00 MB", 8 * MiB, "8.00 MB")
        env.fill_drive("d", 12 * MiB)
        self.pulse_and_wait("delete", 3)
        self.assert_event(self.wait_events(3)[2], "MSG_DRIVE_RECOVERED", 12 * MiB, "12.0 MB", 8 * MiB, "8.00 MB")
        env.fill_drive("d", 4 * MiB)
        self.pulse_and_wait("add", 3)
        self.assertEqual(self.wait_events(4)[3]["full_id"], EVENTS["MSG_DRIVE_LOW"]["full_id"])

        # A new balloon that is no crossing: the taskbar comes back and the
        # icon is added again with its first balloon. No event.
        since = env.tray_mark()
        env.driver_ok("tray-forget", hwnd_text(window), "3")
        env.driver_ok("taskbar-created")
        self.pulse_and_wait("add", 3)
        self.wait_balloon(balloon_text("D", "4.00 MB"), since)
        self.pulse()
        self.env.driver("ping", hwnd_text(window), "10000")
        self.assertEqual(len(self.monitor_events()), 4, self.monitor_events()[4:])
        self.pulse("close")
        self.assertEqual(self.wait_exit_code(monitor), 0)


if __name__ == "__main__":
    unittest.main()
