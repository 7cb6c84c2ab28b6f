"""BrimWatch's reports to the event log when several users' monitors run:
one of them, the reporter, writes each drive's change, the others none; when
the reporter ends, the next goes on from what the log was told, and a
change only another monitor saw is written once. Wine runs every program as
one user, so the monitors run side by side as in test_faults_events (a
mutex holds the per-user guard's name); the log is Wine's trace of
ReportEventW, one file per monitor."""

import os
import re
import signal
import time
import unittest

from brimharness import MiB, SOURCE_DIR, wait_for
from brimcases import EVENTS, WM_CLOSE
from test_faults_events import INSTANCE_GUARD_NAME, EventFaultTestCase

# A drive's part of the record of what the log was told ("...Low.D"), as
# the monitor's source names it.
RECORD_NAME_TEMPLATE = re.search(r'RECORD_NAME_TEMPLATE\[\] = L"([^"]*)"',
                                 (SOURCE_DIR / "monitor" / "EventReport.cpp").read_text(encoding="utf-8")
                                 ).group(1).replace("\\\\", "\\")
LOW = EVENTS["MSG_DRIVE_LOW"]["full_id"]
RECOVERED = EVENTS["MSG_DRIVE_RECOVERED"]["full_id"]
REGULAR_TICK = 45  # seconds


class ReportRoleTest(EventFaultTestCase):

    def start_monitors(self, *extra_squats):
        """Two monitors of the same drives; returns {log: (process, window)}."""
        self.squat(INSTANCE_GUARD_NAME, *extra_squats)
        exe = self.install_monitor()
        monitors = {}
        for log in ("first.log", "second.log"):
            process = self.start_monitor(exe, log=log)
            monitors[log] = (process, self.wait_monitor_window(exclude=[w for _, w in monitors.values()]))
        return monitors

    def written(self):
        """(log, event id, drive) of every event each monitor wrote so far."""
        return [(log, event["full_id"], event["strings"][0])
                for log in ("first.log", "second.log") for event in self.monitor_events(log)]

    def pulse_until_both_show(self, monitors, kind, icon_id):
        """Pulses until the tray shows that call for the icon from each
        monitor's window, and lets the events of those passes land."""
        since = self.env.tray_mark()
        windows = {w for _, w in monitors.values()}

        def both():
            return windows <= {e[2] for e in self.env.tray_events(since) if e[0] == kind and e[1] == icon_id}
        for _ in range(10):
            self.pulse()
            if wait_for(both, 4):
                break
        self.assertTrue(both(), "both monitors should %s icon %d: %r" % (kind, icon_id, self.env.tray_events(since)))
        time.sleep(2)

    def test_each_change_is_written_once_and_the_next_monitor_goes_on_where_the_reporter_stopped(self):
        env = self.make_env(drives={"d": 16 * MiB, "e": 16 * MiB})
        env.set_drive_settings({"d": (1, 8 * MiB), "e": (1, 8 * MiB)})
        monitors = self.start_monitors()

        env.fill_drive("d", 4 * MiB)
        self.pulse_until_both_show(monitors, "add", 3)
        self.assertEqual([e[1:] for e in self.written()], [(LOW, "D:")])
        reporter = self.written()[0][0]
        (other,) = set(monitors) - {reporter}

        # The reporter ends (its user logs off); D: recovers before the other
        # monitor's next pass, which writes that once, and then E:'s change.
        process, window = monitors[reporter]
        self.post(window, WM_CLOSE, 0, 0)
        self.assertEqual(self.wait_exit_code(process), 0)
        (env.drive_path("d") / "brim-filler.bin").unlink()
        del monitors[reporter]
        self.pulse_until_both_show(monitors, "delete", 3)
        env.fill_drive("e", 4 * MiB)
        self.pulse_until_both_show(monitors, "add", 4)
        self.assertEqual(sorted(self.written()),
                         sorted([(reporter, LOW, "D:"), (other, RECOVERED, "D:"), (other, LOW, "E:")]))

    def test_a_change_only_the_waiting_monitor_saw_is_written_once_after_the_reporter_died(self):
        env = self.make_env(drives={"d": 16 * MiB, "e": 16 * MiB})
        env.set_drive_settings({"d": (1, 8 * MiB), "e": (1, 8 * MiB)})
        monitors = self.start_monitors()
        env.fill_drive("e", 4 * MiB)
        self.pulse_until_both_show(monitors, "add", 4)
        ((reporter, _, _),) = self.written()
        (other,) = set(monitors) - {reporter}

        # The reporter hangs; the other sees D: low while the role is held.
        process = monitors[reporter][0]
        os.kill(process.pid, signal.SIGSTOP)
        env.fill_drive("d", 4 * MiB)
        self.pulse_until_both_show({other: monitors[other]}, "add", 3)
        self.assertEqual(len(self.written()), 1, "a monitor without the role wrote: %r" % self.written())

        # The reporter dies holding the role: the other takes it at its next
        # try (once a scan period) and writes D: at the pass after, once; E:,
        # which the log was told, not again.
        os.kill(process.pid, signal.SIGKILL)
        process.wait(30)
        deadline = time.monotonic() + 2 * REGULAR_TICK + 30
        while len(self.written()) < 2 and time.monotonic() < deadline:
            self.pulse()
            time.sleep(3)
        time.sleep(2)
        self.assertEqual(sorted(self.written()), sorted([(reporter, LOW, "E:"), (other, LOW, "D:")]))

    def test_monitors_whose_record_name_is_held_by_another_object_each_write_every_change(self):
        # Duplicates are better than silence: a name held by an object of
        # another kind, which no monitor can use, leaves each on its own.
        env = self.make_env(drives={"d": 16 * MiB})
        env.set_drive_settings({"d": (1, 8 * MiB)})
        monitors = self.start_monitors(RECORD_NAME_TEMPLATE.replace("%s", "Low").replace("%c", "D"))
        env.fill_drive("d", 4 * MiB)
        self.pulse_until_both_show(monitors, "add", 3)
        self.assertEqual(self.written(), [("first.log", LOW, "D:"), ("second.log", LOW, "D:")])


if __name__ == "__main__":
    unittest.main()
