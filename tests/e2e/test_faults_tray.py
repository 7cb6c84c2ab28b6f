"""BrimWatch under Wine when the world around it changes: a watched drive
that disappears while it has an icon, and a notification area that is not
there yet when the monitor starts."""

import os
import re
import signal
import time
import unittest

from brimharness import MiB, program, wait_for
from brimcases import MonitorTestCase, WM_MOUSEMOVE, WM_TRAYICON, hwnd_text


EXPLORER_KEY = r"HKCU\Software\Wine\Explorer"
DEBUG_KEY = r"HKCU\Software\Wine\Debug"
NIM_ADD, NIM_DELETE = 0, 2


class DriveGoneTest(MonitorTestCase):

    def rescans(self, count=3):
        """A few settings pulses, each followed by its rescan."""
        for _ in range(count):
            self.pulse()
            time.sleep(1.8)

    def test_drive_that_disappears_keeps_its_icon_and_is_handled_when_it_returns(self):
        env = self.make_env(drives={"d": 16 * MiB, "e": 16 * MiB, "f": 16 * MiB})
        env.set_drive_settings({"d": (1, 8 * MiB), "e": (1, 8 * MiB), "f": (1, 8 * MiB)})
        env.fill_drive("d", 4 * MiB)
        env.fill_drive("e", 4 * MiB)
        env.fill_drive("f", 12 * MiB)
        monitor = self.start_monitor(self.install_monitor())
        window = self.wait_monitor_window()
        self.pulse_until("add", 3, since=0)
        self.assertIsNotNone(env.wait_for_tray("add", 4, timeout=10))

        # D: goes while low, and recovers where the monitor cannot see it.
        env.remove_drive("d")
        (env.drive_path("d") / "brim-filler.bin").unlink()
        drives = env.driver_ok("drives")
        self.assertNotIn("D:\\\t3", drives, "D: should no longer be a fixed drive: " + drives)
        since = env.tray_mark()
        self.rescans()
        # The mouse over the icon of a drive that is gone leaves its tip alone.
        self.post(window, WM_TRAYICON, 3, WM_MOUSEMOVE)
        self.assertIsNotNone(env.ping(window))
        self.assertEqual([e for e in env.tray_events(since) if e[0] in ("add", "delete")], [],
                         "the icons of D: (gone) and E: (low) stay; F: is not low")
        self.assertTrue(any("drive D:" in tip for tip in self.tray_tips()), self.tray_tips())

        # The drives after it are still told apart: E: recovers, its icon goes.
        (env.drive_path("e") / "brim-filler.bin").unlink()
        since = env.tray_mark()
        self.pulse_until("delete", 4, since=since)
        self.assertEqual(self.icon_ids("delete", since), [4])

        # D: comes back, no longer low: handled again at the next scan.
        env.restore_drive("d")
        since = env.tray_mark()
        self.pulse_until("delete", 3, since=since)
        env.fill_drive("d", 2 * MiB)
        self.pulse_until("add", 3, since=env.tray_mark())

        since = env.tray_mark()
        self.pulse("close")
        self.assertEqual(self.wait_exit_code(monitor), 0)
        self.assertEqual(self.icon_ids("delete", since), [3])


class NoNotificationAreaTest(MonitorTestCase):
    """Under Wine the first program with a window brings up the desktop and
    its notification area, so a monitor cannot start before them. What it
    meets at a log-on that is slow to bring the shell up is met here: the
    desktop's explorer ends while the monitor runs (without a virtual
    desktop, so that the desktop outlives it), and no notification area is
    left. A stand-in then plays the notification area that comes later."""

    def explorer_pids(self):
        prefix = ("WINEPREFIX=%s" % self.env.prefix).encode()
        pids = []
        for entry in os.listdir("/proc"):
            if not entry.isdigit():
                continue
            try:
                with open("/proc/%s/environ" % entry, "rb") as f:
                    environment = f.read().split(b"\0")
                with open("/proc/%s/cmdline" % entry, "rb") as f:
                    command = f.read().lower()
            except OSError:
                continue
            if prefix in environment and b"explorer.exe" in command:
                pids.append(int(entry))
        return pids

    def tray_calls(self):
        """The monitor's calls as its relay trace shows them, in order:
        ("notify", NIM code, result) and ("beep",)."""
        calls = []
        pending = None
        for line in (self.env.logs_dir / "monitor.log").read_text(errors="replace").splitlines():
            call = re.search(r":Call shell32\.Shell_NotifyIconW\(([0-9a-f]+),", line)
            if call:
                pending = int(call.group(1), 16)
            result = re.search(r":Ret  shell32\.Shell_NotifyIconW\(\) retval=([0-9a-f]+)", line)
            if result and pending is not None:
                calls.append(("notify", pending, int(result.group(1), 16)))
                pending = None
            if re.search(r":Call user32\.MessageBeep\(", line):
                calls.append(("beep",))
        return calls

    def test_monitor_beeps_and_retries_each_tick_until_a_notification_area_comes(self):
        env = self.make_env(drives={"d": 16 * MiB})
        env.reg_delete_value(EXPLORER_KEY, "Desktop", view=64)
        env.restart_wineserver()
        env.reg_add(DEBUG_KEY, "RelayInclude", "REG_SZ", "user32.MessageBeep;shell32.Shell_NotifyIconW", view=64)
        env.set_drive_settings({"d": (1, 8 * MiB)})
        env.fill_drive("d", 12 * MiB)
        monitor = env.start(self.install_monitor(), log="monitor.log", debug="-all,+relay")
        window = self.wait_monitor_window()

        explorers = self.explorer_pids()
        self.assertTrue(explorers, "no explorer found for this prefix")
        for pid in explorers:
            os.kill(pid, signal.SIGKILL)
        self.assertTrue(wait_for(lambda: not self.explorer_pids(), 10))
        # The wineserver drops a killed process's windows a moment after it ends.
        self.assertTrue(wait_for(lambda: env.find_window("Shell_TrayWnd", "*", timeout=0) is None, 10),
                        "a notification area is still there")

        # D: falls low: every scan tries the add, fails, beeps.
        env.fill_drive("d", 4 * MiB)
        failed_add = [("notify", NIM_ADD, 0), ("beep",)]

        def failed_adds():
            calls = self.tray_calls()
            return sum(1 for i in range(len(calls) - 1) if calls[i:i + 2] == failed_add)
        for _ in range(15):
            self.pulse()
            if wait_for(lambda: failed_adds() >= 3, 2.5):
                break
        self.assertGreaterEqual(failed_adds(), 3, self.tray_calls())
        self.assertTrue(all(c in failed_add for c in self.tray_calls()),
                        "only failed adds, each with its beep: %r" % self.tray_calls())
        self.assertIsNotNone(env.ping(window), "the monitor should keep answering")
        self.assertIsNone(monitor.poll())

        # A notification area comes: the next scan's add reaches it.
        tray = env.start(program("BrimDriver.exe"), "tray-standin", "300", log="standin.log")
        self.addCleanup(tray.terminate)
        standin = env.logs_dir / "standin.log"
        self.assertTrue(wait_for(lambda: "ready" in standin.read_text(errors="replace"), 30))
        added = "icon\t%d\t%s\t3" % (NIM_ADD, hwnd_text(window))
        for _ in range(10):
            self.pulse()
            if wait_for(lambda: added in standin.read_text(errors="replace"), 3):
                break
        self.assertIn(added, standin.read_text(errors="replace"))
        # The stand-in logs the add before the monitor's trace shows it return.
        wait_for(lambda: self.tray_calls()[-1] == ("notify", NIM_ADD, 1), 5)
        self.assertEqual(self.tray_calls()[-1], ("notify", NIM_ADD, 1))
        # ... and stays: later scans find the icon there and call nothing.
        calls = len(self.tray_calls())
        self.pulse()
        time.sleep(2.5)
        self.assertEqual(len(self.tray_calls()), calls)

        self.pulse("close")
        self.assertEqual(self.wait_exit_code(monitor), 0)
        self.assertIn("icon\t%d\t%s\t3" % (NIM_DELETE, hwnd_text(window)), standin.read_text(errors="replace"))


if __name__ == "__main__":
    unittest.main()
