"""BrimWatch's reports to the event log: one event of the right id and
type, with the drive, its free space and threshold and the user, each time
a drive crosses a line (test_monitor_repeat: none for a repeat balloon).
Wine's ReportEventW is a stub that traces what it is given."""

import unittest

from brimharness import MiB, wait_for
from brimcases import EVENTS, MonitorTestCase


class EventLogTest(MonitorTestCase):

    def assert_event(self, count, name, free, free_text):
        self.assertTrue(wait_for(lambda: len(self.monitor_events()) >= count, 20, 0.25), self.monitor_events())
        event = self.monitor_events()[count - 1]
        self.assertEqual((event["full_id"], event["type"], event["strings"]),
                         (EVENTS[name]["full_id"], EVENTS[name]["type"],
                          ["D:", free_text, str(free), "8.00 MB", str(8 * MiB)]))
        self.assertNotEqual(int(event["sid"], 16), 0, "the event carries no user")

    def test_each_crossing_is_reported_once(self):
        env = self.make_env(drives={"d": 16 * MiB})
        env.set_drive_settings({"d": (1, 8 * MiB)})
        env.fill_drive("d", 512 * 1024)
        monitor = self.start_monitor(self.install_monitor())
        self.wait_monitor_window()
        self.pulse_until("add", 3, since=0)
        self.assert_event(1, "MSG_DRIVE_VERY_LOW", 512 * 1024, "512 KB")
        env.fill_drive("d", 4 * MiB)
        self.pulse()
        self.assert_event(2, "MSG_DRIVE_LOW", 4 * MiB, "4.00 MB")
        env.fill_drive("d", 12 * MiB)
        self.pulse_and_wait("delete", 3)
        self.assert_event(3, "MSG_DRIVE_RECOVERED", 12 * MiB, "12.0 MB")
        self.pulse("close")
        self.assertEqual(self.wait_exit_code(monitor), 0)
        self.assertEqual(len(self.monitor_events()), 3, self.monitor_events()[3:])


if __name__ == "__main__":
    unittest.main()
