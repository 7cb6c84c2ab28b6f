"""BrimWatch under Wine when its named events are misused: an event set and
left signalled instead of pulsed, and a storm of settings pulses while two
monitors run side by side."""

import time
import unittest

from brimharness import MiB, program, wait_for
from brimcases import MONITOR_INSTALL_DIR, USER_SETTINGS_KEY, MonitorTestCase


INSTANCE_GUARD_NAME = "{FB3C04D9-4A91-4728-AA0D-F157A2AF632F}"
REGULAR_TICK = 45  # seconds


class EventFaultTestCase(MonitorTestCase):

    def icons_by_window(self, since=0):
        """{hwnd: set of icon ids} the tray holds now, from the add and delete
        calls seen since `since` (for windows that had none before)."""
        icons = {}
        for kind, icon_id, extra in self.env.tray_events(since):
            if kind == "add":
                icons.setdefault(extra, set()).add(icon_id)
            elif kind == "delete":
                icons.setdefault(extra, set()).discard(icon_id)
        return icons

    def squat(self, *names):
        """Holds the names with mutexes, so that no event of that name can be made."""
        squatter = self.env.start(program("BrimDriver.exe"), "squat", "600", *names, log="squat.log")
        self.addCleanup(squatter.terminate)
        self.assertTrue(wait_for(lambda: "held" in (self.env.logs_dir / "squat.log").read_text(errors="replace"), 30))


class SignalledEventTest(EventFaultTestCase):

    def test_settings_event_left_signalled_neither_spins_nor_stops_the_scans(self):
        env = self.make_env(drives={"d": 16 * MiB})
        env.set_drive_settings({"d": (1, 8 * MiB)})
        env.fill_drive("d", 12 * MiB)
        monitor = self.start_monitor(self.install_monitor())
        window = self.wait_monitor_window()

        # Set, not pulsed: the one wake-up reloads and rescans a second later.
        env.fill_drive("d", 4 * MiB)
        since = env.tray_mark()
        env.driver_ok("set", "settings")
        self.assertIsNotNone(env.wait_for_tray("add", 3, timeout=15, since=since),
                             "the wake-up by the set event should rescan")

        # While it stays signalled the monitor idles and answers at once.
        start = self.cpu_seconds(monitor)
        time.sleep(10)
        used = self.cpu_seconds(monitor) - start
        self.assertLess(used, 1.0, "the monitor used %.2f s of CPU in 10 s with the event set" % used)
        self.assertIsNotNone(env.ping(window, 1000), "the monitor's window should answer within 1 s")

        # The regular tick still comes (a stream of reloads would keep
        # pushing the scan timer back): D: recovers, its icon goes.
        (env.drive_path("d") / "brim-filler.bin").unlink()
        since = env.tray_mark()
        self.assertIsNotNone(env.wait_for_tray("delete", 3, timeout=REGULAR_TICK + 20, since=since),
                             "the regular tick should remove the icon while the event stays set")

        # Cleared again: pulses work as ever.
        env.driver_ok("reset", "settings")
        env.fill_drive("d", 4 * MiB)
        self.pulse_until("add", 3, since=env.tray_mark())

        # Close signals that any account can send, a stream of pulses or the
        # event left signalled, close nothing; an administrator's close
        # request does, once, cleanly, with the event still set.
        since = env.tray_mark()
        env.driver_ok("pulse", "close-signal", "10", "100")
        env.driver_ok("set", "close")
        try:
            time.sleep(3)
            self.assertIsNone(monitor.poll(), "a close signal alone ended the monitor")
            self.assertIsNotNone(env.ping(window, 1000))
            env.driver_ok("pulse", "close")
            self.assertEqual(self.wait_exit_code(monitor), 0)
        finally:
            env.driver_ok("reset", "close")
        self.assertEqual(self.icon_ids("delete", since), [3])


class ScanTimerTest(EventFaultTestCase):

    def test_regular_ticks_come_without_guard_or_updater_and_nothing_waits_for_an_answer(self):
        # No instance guard, no updater beside the monitor, no pulse: only
        # the regular tick scans.
        env = self.make_env(drives={"d": 16 * MiB, "e": 16 * MiB})
        env.set_drive_settings({"d": (1, 8 * MiB), "e": (1, 8 * MiB)})
        env.fill_drive("d", 4 * MiB)
        self.squat(INSTANCE_GUARD_NAME)
        exe = self.install_monitor()
        env.to_host(MONITOR_INSTALL_DIR + r"\VelloranUpdater.exe").unlink()
        self.start_monitor(exe)
        self.wait_monitor_window()

        # The first tick, armed without the guard, scans and checks for the
        # updater; E: falls low after it and gets its icon at the next one.
        self.assertIsNotNone(env.wait_for_tray("add", 3, timeout=REGULAR_TICK + 20), "no first regular tick")
        # The tick scans first, then stores the time of its update check.
        self.assertTrue(wait_for(lambda: env.reg_query(USER_SETTINGS_KEY, "LastUpdateCheck"), 10),
                        "the first tick stored no update-check time")
        since = env.tray_mark()
        env.fill_drive("e", 4 * MiB)
        self.assertIsNotNone(env.wait_for_tray("add", 4, timeout=REGULAR_TICK + 20, since=since), "no next tick")
        self.assertEqual([w for w in env.windows() if w["class"] == "#32770"], [],
                         "the missing updater must not be reported in a box")


class PulseStormTest(EventFaultTestCase):

    def test_two_monitors_stay_responsive_through_a_storm_and_end_right(self):
        # Wine runs every program as one user in one session, where the
        # per-user guard lets one monitor run. A mutex under the guard's name
        # makes the guard's creation fail, and a monitor without a guard runs
        # all the same, its regular tick included. Two
        # monitors then share the named events as the monitors of two users
        # share the machine-wide ones.
        env = self.make_env(drives={"d": 16 * MiB, "e": 16 * MiB})
        env.set_drive_settings({"d": (1, 8 * MiB), "e": (1, 8 * MiB)})
        env.fill_drive("d", 4 * MiB)
        env.fill_drive("e", 12 * MiB)
        self.squat(INSTANCE_GUARD_NAME)
        exe = self.install_monitor()
        first = self.start_monitor(exe, log="first.log")
        first_window = self.wait_monitor_window()
        second = self.start_monitor(exe, log="second.log")
        second_window = self.wait_monitor_window(exclude=[first_window])
        windows = (first_window, second_window)

        def both_show(icon_id):
            icons = self.icons_by_window()
            return all(icons.get(w) == {icon_id} for w in windows)

        for _ in range(10):
            self.pulse()
            if wait_for(lambda: both_show(3), 4):
                break
        self.assertTrue(both_show(3), "both monitors should show D:'s icon: %r" % self.icons_by_window())

        # 1000 pulses, 9 ms apart; meanwhile D: recovers and E: falls low.
        storm = env.start(program("BrimDriver.exe"), "pulse", "settings", "1000", "9", log="storm.log")
        started = time.monotonic()
        (env.drive_path("d") / "brim-filler.bin").unlink()
        env.fill_drive("e", 4 * MiB)
        answers = []
        while storm.poll() is None:
            for window in windows:
                answers.append((window, env.ping(window, 1000)))
        storm_seconds = time.monotonic() - started
        self.assertEqual(storm.returncode, 0)
        self.assertIn("pulsed", (env.logs_dir / "storm.log").read_text(errors="replace"))
        print("\n1000 pulses took %.1f s (with the driver's start); %d pings, slowest %s ms"
              % (storm_seconds, len(answers), max((a for _, a in answers if a is not None), default=None)))
        self.assertGreaterEqual(len(answers), 4, "the storm ended before the monitors could be asked")
        self.assertTrue(all(a is not None for _, a in answers),
                        "every ping during the storm should be answered within 1 s: %r" % answers)

        # The storm's last reload rescans: E: has the icons, D: has none.
        self.assertTrue(wait_for(lambda: both_show(4), 20),
                        "both monitors should end with E:'s icon only: %r" % self.icons_by_window())
        for window in windows:
            self.assertIsNotNone(env.ping(window, 1000))

        # One close pulse ends both, cleanly.
        since = env.tray_mark()
        self.pulse("close")
        self.assertEqual(self.wait_exit_code(first), 0)
        self.assertEqual(self.wait_exit_code(second), 0)
        self.assertEqual(sorted(self.icon_ids("delete", since)), [4, 4])
        self.assertEqual(self.monitor_windows(), [])

    def test_pulses_every_half_second_leave_the_rescan_alone(self):
        env = self.make_env(drives={"d": 16 * MiB})
        env.set_drive_settings({"d": (1, 8 * MiB)})
        self.start_monitor(self.install_monitor())
        self.wait_monitor_window()
        # D: falls low as 24 pulses 500 ms apart begin: its icon comes while they last.
        storm = env.start(program("BrimDriver.exe"), "pulse", "settings", "24", "500", log="storm.log")
        self.addCleanup(storm.terminate)
        env.fill_drive("d", 4 * MiB)
        self.assertTrue(wait_for(lambda: env.tray_has("add", 3) or storm.poll() is not None, 30, 0.1))
        self.assertIsNone(storm.poll(), "D:'s icon should come while the pulses last")


if __name__ == "__main__":
    unittest.main()
