"""BrimWatch under Wine: icons for low drives, settings pulses, the regular
tick, the taskbar coming back, start-up rules and the ways it ends.

Also home of MonitorTestCase, the helpers test_monitor_repeat.py shares.
"""

import os
import re
import statistics
import time
import unittest

from brimharness import (ARTIFACTS_DIR, MiB, WineEnv, build_bits, decode_wine_string, driver_of_bits, program,
                         read_records, require_programs, unescape, wait_for)

INSTALL_DIR = r"C:\Brimline"
RECORDS_DIR = r"C:\brim-records"
TOOLS_DIR = r"C:\brim-tools"  # stand-ins for tools found on the search path
MONITOR_CLASS = "Velloran_BRIMWATCH_wndClass"
MONITOR_TITLE = "Brimline Monitor"
SETTINGS_KEY = r"HKLM\Software\Velloran\BrimSet"
WINE_DRIVES_KEY = r"HKLM\Software\Wine\Drives"

# Window messages and keys, as the shell and a keyboard send them.
WM_NULL = 0x0000
WM_CLOSE = 0x0010
WM_COMMAND = 0x0111
WM_MOUSEMOVE = 0x0200
WM_LBUTTONDOWN = 0x0201
WM_RBUTTONDOWN = 0x0204
WM_TRAYICON = 0x0401
NIN_BALLOONUSERCLICK = 0x0405
VK_RETURN, VK_ESCAPE, VK_UP, VK_DOWN = 0x0D, 0x1B, 0x26, 0x28

IDM_CONFIGURE, IDM_RUN_CLEANUP, IDM_TRAY_EXIT, IDM_RUN_EXPLORER = 129, 32775, 32777, 32780

BALLOON_TITLE = "Brimline - Low Disk Space"
MUTE_QUESTION = "Do you want to stop seeing this reminder for now?"
NIIF_INFO, NIIF_WARNING, NIIF_ERROR = 1, 2, 3
PACKED_VERSION = 562967133356032  # 2.4.1.0

SETTINGS_EVENT_NAMES = ("Global\\CA56EB1D-CE28-487d-8572-E071B8507203", "CA56EB1D-CE28-487d-8572-E071B8507203")


def balloon_text(letter, size):
    return "You are running out of disk space on drive %s.\r\nIt only has %s free." % (letter, size)


def tip_text(letter, size):
    return "Velloran Brimline: Low disk space on drive %s: %s" % (letter, size)


def hwnd_text(hwnd):
    return "0x%x" % hwnd


class MonitorTestCase(unittest.TestCase):
    """Runs BrimWatch from a folder of its own in a fresh prefix, with
    recording stand-ins for the programs it starts, and watches the tray."""

    def make_env(self, drives=None, drive_types=None, search_path_tools=(), display=True):
        require_programs(self, "BrimWatch.exe", "BrimDriver.exe")
        self.env = WineEnv.for_test(self, drives=drives, display=display)
        if drive_types:
            for letter, kind in drive_types.items():
                self.env.reg_add(WINE_DRIVES_KEY, letter + ":", "REG_SZ", kind, view=64)
            self.env.restart_wineserver()
        self.records = self.env.to_host(RECORDS_DIR)
        self.records.mkdir(parents=True, exist_ok=True)
        # Tools found on the search path: a folder of stand-ins in front of it.
        for tool in search_path_tools:
            self.make_tool_on_search_path(tool)
        if search_path_tools:
            self.env.add_search_dir(TOOLS_DIR)
        return self.env

    def tools_dir(self):
        return self.env.to_host(TOOLS_DIR)

    def make_tool_on_search_path(self, name):
        return self.env.make_recorder(self.tools_dir() / name, self.records / (name + ".log"))

    def install_monitor(self, folder=INSTALL_DIR, as_name="BrimWatch.exe"):
        """Copies the monitor into `folder` with stand-ins beside it for the
        updater, the configuration program and Explorer (the folder of the
        running program is searched first). Returns its Windows path."""
        self.env.install_program("BrimWatch.exe", folder, as_name=as_name)
        for name in ("VelloranUpdater.exe", "BrimSet.exe", "explorer.exe"):
            self.env.make_recorder(folder + "\\" + name, self.records / (name + ".log"))
        return folder + "\\" + as_name

    def record(self, name):
        return read_records(self.records / (name + ".log"))

    def wait_record(self, name, count=1, timeout=30):
        return wait_for(lambda: len(self.record(name)) >= count and self.record(name), timeout)

    # -- the monitor ------------------------------------------------------

    def start_monitor(self, exe, *args, log="monitor.log"):
        """Starts the monitor with its own tray calls traced into `log`."""
        return self.env.start(exe, *args, log=log, debug="-all,trace+systray")

    def monitor_windows(self):
        return [w for w in self.env.windows() if w["class"] == MONITOR_CLASS]

    def wait_monitor_window(self, exclude=(), timeout=60):
        """The hidden window of a running monitor (not one of `exclude`)."""
        def found():
            windows = [w for w in self.monitor_windows() if w["hwnd"] not in exclude]
            return windows[0] if windows else None
        window = wait_for(found, timeout, 0.25)
        self.assertIsNotNone(window, "no monitor window appeared")
        self.assertEqual(window["title"], MONITOR_TITLE)
        self.assertFalse(window["visible"], "the monitor's window must stay hidden")
        return window["hwnd"]

    def pulse(self, event="settings"):
        self.env.driver_ok("pulse", event)

    def pulse_until(self, kind, icon_id, since, attempts=10):
        """Pulses the settings event until the tray shows the event; a
        pulse that comes before the worker thread waits is lost."""
        for _ in range(attempts):
            self.pulse()
            event = self.env.wait_for_tray(kind, icon_id, timeout=4, since=since)
            if event:
                return event
        self.fail("no %s of icon %d after %d settings pulses" % (kind, icon_id, attempts))

    def timed_pulse(self, kind, icon_id, timeout=20):
        """One settings pulse; returns the seconds from the pulse (the end
        of the driver call) until the tray shows the event."""
        since = self.env.tray_mark()
        self.pulse()
        pulsed = time.monotonic()
        event = wait_for(lambda: self.tray_has(kind, icon_id, since), timeout, 0.05)
        seen = time.monotonic()
        self.assertTrue(event, "no %s of icon %d after a settings pulse" % (kind, icon_id))
        return seen - pulsed

    def tray_has(self, kind, icon_id, since=0):
        return any(e[0] == kind and e[1] == icon_id for e in self.env.tray_events(since))

    def icon_ids(self, kind, since=0):
        return [e[1] for e in self.env.tray_events(since) if e[0] == kind]

    def balloons(self, since=0):
        return [e[2] for e in self.env.tray_events(since) if e[0] == "balloon"]

    def wait_balloon(self, text, since=0, timeout=60):
        found = wait_for(lambda: [b for b in self.balloons(since) if b["text"] == text], timeout, 0.25)
        self.assertTrue(found, "no balloon %r; balloons: %r" % (text, self.balloons(since)))
        return found[0]

    def tray_tips(self):
        # The tips are tools of the desktop explorer's tooltips: a 64-bit
        # process, whose structures only a 64-bit driver reads.
        driver = driver_of_bits(64)
        if driver is None:
            self.fail("reading the tray's tips needs a 64-bit BrimDriver.exe (BRIM_OTHER_BUILD_DIR)")
        out = self.env.wine(driver, "tray-tips", check=True).stdout
        return [unescape(line.split("\t", 4)[4]) for line in out.splitlines() if line.count("\t") >= 4]

    def wait_exit_code(self, proc, timeout=30):
        return self.env.wait_exit(proc, timeout)

    # -- the tray menu ----------------------------------------------------

    def post(self, hwnd, message, wparam, lparam):
        self.env.driver_ok("post", hwnd_text(hwnd), str(message), str(wparam), str(lparam))

    def choose_from_menu(self, window, icon_id, *keys, button=WM_RBUTTONDOWN):
        """Clicks the icon as the shell reports it and works the popup with
        the keyboard."""
        self.post(window, WM_TRAYICON, icon_id, button)
        menu = self.env.find_window("#32768", "*", timeout=10)
        self.assertIsNotNone(menu, "the icon's menu did not open")
        self.env.driver_ok("key", hwnd_text(menu), *[str(k) for k in keys])
        closed = wait_for(lambda: self.env.find_window("#32768", "*", timeout=0) is None, 10, 0.25)
        self.assertTrue(closed, "the menu stayed open")
        # The command is posted after the menu closes: let the window handle it
        # (after Exit the window is gone and the ping simply fails).
        self.env.driver("ping", hwnd_text(window), "10000")

    def cpu_seconds(self, proc):
        with open("/proc/%d/stat" % proc.pid) as stat:
            fields = stat.read().rsplit(")", 1)[1].split()
        return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


class TrayTest(MonitorTestCase):

    def test_icons_follow_free_space_thresholds_and_drive_kinds(self):
        env = self.make_env(drives={l: 16 * MiB for l in "defgh"}, drive_types={"f": "cdrom", "g": "network"})
        # D: watched and very low; E: watched but not low; F: and G: watched
        # and low but not fixed; H: low but not watched.
        env.set_drive_settings({"d": (1, 8 * MiB), "e": (1, 8 * MiB), "f": (1, 8 * MiB), "g": (1, 8 * MiB),
                                "h": (0, 8 * MiB)})
        self.assertEqual(env.fill_drive("d", 512 * 1024), 512 * 1024)
        env.fill_drive("e", 12 * MiB)
        for letter in "fgh":
            env.fill_drive(letter, 1 * MiB)
        exe = self.install_monitor()
        monitor = self.start_monitor(exe)
        window = self.wait_monitor_window()

        self.pulse_until("add", 3, since=0)
        balloon = self.wait_balloon(balloon_text("D", "512 KB"))
        self.assertEqual(balloon["title"], BALLOON_TITLE)
        self.assertEqual(balloon["icon"], NIIF_ERROR)
        env.screenshot("monitor-balloon.png")
        self.assertIn(tip_text("D", "512 KB"), self.tray_tips())
        self.assertEqual(self.icon_ids("add"), [3], "only D: may get an icon")
        for event in env.tray_events():
            if event[0] in ("add", "modify", "delete"):
                self.assertEqual(event[2], window, "the icons belong to the monitor's hidden window")

        # The first tick also started the updater, once, with this program's
        # file name, version and the schedule as origin.
        self.assertEqual(self.wait_record("VelloranUpdater.exe"), ["BrimWatch.exe 0 %d 1" % PACKED_VERSION])

        timings = []
        # E: falls to the 15 % mark (2.4 MiB of 16 MiB): a warning balloon.
        env.fill_drive("e", 2 * MiB)
        timings.append(self.timed_pulse("add", 4))
        self.assertEqual(self.wait_balloon(balloon_text("E", "2.00 MB"))["icon"], NIIF_WARNING)
        # D: recovers when its filler file is deleted.
        (env.drive_path("d") / "brim-filler.bin").unlink()
        timings.append(self.timed_pulse("delete", 3))
        # ... falls again, above the 15 % mark: an information balloon.
        env.fill_drive("d", 4 * MiB)
        timings.append(self.timed_pulse("add", 3))
        self.assertEqual(self.wait_balloon(balloon_text("D", "4.00 MB"), since=0)["icon"], NIIF_INFO)
        # E: no longer watched; D: threshold 0, which is never reached.
        env.set_drive_settings({"d": (1, 0), "e": (0, 8 * MiB), "f": (1, 8 * MiB), "g": (1, 8 * MiB)})
        since = env.tray_mark()
        self.pulse()
        self.assertTrue(wait_for(lambda: {3, 4} <= set(self.icon_ids("delete", since)), 20, 0.05),
                        "both icons should go: %r" % env.tray_events(since))
        env.set_drive_settings({"d": (2, 8 * MiB)})  # any non-zero byte means watched
        timings.append(self.timed_pulse("add", 3))

        self.assertEqual(sorted(set(self.icon_ids("add"))), [3, 4])
        self.assertEqual(len(self.record("VelloranUpdater.exe")), 1, "the updater runs at most once a day")
        # Every tray call of the monitor used the layout that ends with guidItem
        # (NOTIFYICONDATAW_V3_SIZE: 968 bytes in a 64-bit program, 952 in a 32-bit one).
        calls = [line for line in (env.logs_dir / "monitor.log").read_text(errors="replace").splitlines()
                 if "Shell_NotifyIconW" in line]
        self.assertTrue(calls)
        v3_size = {64: 968, 32: 952}[build_bits()]
        self.assertTrue(all("cbSize=%d" % v3_size in line for line in calls), calls)

        report = "settings pulse to tray change, seconds: %s; median %.2f\n" % (
            ", ".join("%.2f" % t for t in timings), statistics.median(timings))
        ARTIFACTS_DIR.mkdir(parents=True, exist_ok=True)
        (ARTIFACTS_DIR / "monitor-pulse-timings.txt").write_text(report)
        print("\n" + report)
        self.assertTrue(all(t < 15 for t in timings), report)  # a rescan, not the 45 s period

        self.post(window, WM_COMMAND, IDM_TRAY_EXIT, 0)
        self.assertEqual(self.wait_exit_code(monitor), 0)

    def test_regular_tick_reloads_settings_and_restores_icons_after_taskbar_restart(self):
        env = self.make_env(drives={"d": 16 * MiB, "e": 16 * MiB})
        env.set_drive_settings({"d": (1, 8 * MiB), "e": (0, 8 * MiB)})
        env.fill_drive("d", 4 * MiB)
        env.fill_drive("e", 4 * MiB)
        # The tools folder is on the monitor's search path, but holds no
        # clean-up tool yet when the monitor starts.
        env.add_search_dir(TOOLS_DIR)
        monitor = self.start_monitor(self.install_monitor())
        window = self.wait_monitor_window()
        self.pulse_until("add", 3, since=0)

        # A tool installed later is not noticed: "Run Disk Cleanup" stays grey
        # and choosing it does nothing, though the tool could now be started.
        self.make_tool_on_search_path("cleanmgr.exe")
        self.choose_from_menu(window, 3, VK_DOWN, VK_RETURN)
        time.sleep(3)
        self.assertEqual(self.record("cleanmgr.exe"), [])
        self.post(window, WM_COMMAND, IDM_RUN_CLEANUP, 2)
        self.assertEqual(self.wait_record("cleanmgr.exe"), ["/dC"])

        # E: becomes watched with no pulse at all (as when a pulse is lost),
        # and the taskbar goes away with D:'s icon and comes back.
        since = env.tray_mark()
        env.set_drive_settings({"d": (1, 8 * MiB), "e": (1, 8 * MiB)})
        env.driver_ok("tray-forget", hwnd_text(window), "3")
        env.driver_ok("taskbar-created")
        self.assertTrue(wait_for(lambda: {3, 4} <= set(self.icon_ids("add", since)), 75, 0.5),
                        "the next regular tick should add both icons: %r" % env.tray_events(since))
        self.wait_balloon(balloon_text("E", "4.00 MB"), since)
        self.wait_balloon(balloon_text("D", "4.00 MB"), since)

        since = env.tray_mark()
        self.pulse("close")
        self.assertEqual(self.wait_exit_code(monitor), 0)
        self.assertEqual(sorted(self.icon_ids("delete", since)), [3, 4])


class LifecycleTest(MonitorTestCase):

    def test_resources_and_version_block(self):
        env = self.make_env(display=False)
        exe = self.install_monitor()
        kinds = ["string:%d" % i for i in (103, 108, 110, 121, 123)] + \
            ["menu:133", "menu:109", "accel:109", "icon:107", "icon:108", "manifest:1"]
        lines = [line.split("\t") for line in env.driver_ok("resources", exe, *kinds).splitlines()]
        strings = {int(f[1]): unescape(f[2]) for f in lines if f[0] == "string"}
        self.assertEqual(strings, {
            103: MONITOR_TITLE, 108: balloon_text("%c", "%s"), 110: tip_text("%c", "%s"),
            121: MUTE_QUESTION, 123: BALLOON_TITLE})
        menus = [tuple(f[1:]) for f in lines if f[0] == "menu"]
        self.assertEqual(menus, [
            ("133", "0", "popup", "Dummy"), ("133", "0.0", "32775", "Run Disk Cleanup"),
            ("133", "0.1", "32780", "Run Explorer"), ("133", "0.2", "129", "Configure..."),
            ("133", "0.3", "separator"), ("133", "0.4", "32777", "Exit"),
            ("109", "0", "popup", "&File"), ("109", "0.0", "105", "E&xit"),
            ("109", "1", "popup", "&Help"), ("109", "1.0", "104", "&About ...")])
        # Alt ('?' and '/' as characters, not virtual keys) gives command 104.
        accelerators = [tuple(f[2:]) for f in lines if f[0] == "accel"]
        self.assertEqual(sorted(accelerators), [("0x10", "/", "104"), ("0x10", "?", "104")])
        icons = {f[1]: f[2].split(",") for f in lines if f[0] == "icon"}
        for icon_id in ("107", "108"):
            self.assertTrue({"16x16", "32x32"} <= set(icons[icon_id]), icons)
        manifest = unescape([f for f in lines if f[0] == "manifest"][0][1])
        self.assertIn('level="asInvoker"', manifest)

        version = dict(line.split("\t", 1) for line in env.driver_ok("version", exe).splitlines())
        self.assertEqual(version["FileVersionFixed"], "2.4.1.0")
        self.assertEqual(version["ProductVersionFixed"], "2.4.1.0")
        self.assertEqual((version["FileOS"], version["FileType"], version["FileFlags"]), ("0x4", "0x1", "0x0"))
        self.assertEqual(version["Translation"], "0809-04b0")
        self.assertEqual({k: version[k] for k in ("CompanyName", "FileDescription", "FileVersion", "InternalName",
                                                  "OriginalFilename", "ProductName", "ProductVersion")},
                         {"CompanyName": "Velloran", "FileDescription": "Brimline Monitor", "FileVersion": "2.4.1.0",
                          "InternalName": "BrimWatch", "OriginalFilename": "BrimWatch.exe",
                          "ProductName": "Brimline", "ProductVersion": "2.4.1.0"})
        self.assertIn("Velloran", version["LegalCopyright"])

    def test_single_instance_close_event_menu_exit_and_restart_switch(self):
        env = self.make_env(drives={"d": 16 * MiB})
        env.set_drive_settings({"d": (1, 8 * MiB)})
        env.fill_drive("d", 4 * MiB)
        exe = self.install_monitor()

        # The close event: icons removed, exit code 0.
        first = self.start_monitor(exe)
        window = self.wait_monitor_window()
        self.pulse_until("add", 3, since=0)
        second = self.start_monitor(exe, log="second.log")
        self.assertEqual(self.wait_exit_code(second), 0, "a second monitor of the same user ends at once")
        self.assertEqual([w["hwnd"] for w in self.monitor_windows()], [window])
        since = env.tray_mark()
        self.pulse("close")
        self.assertEqual(self.wait_exit_code(first), 0)
        self.assertEqual(self.icon_ids("delete", since), [3])
        self.assertEqual(self.monitor_windows(), [])

        # Exit from the icon's menu, its last item.
        monitor = self.start_monitor(exe, "/N", log="exit.log")
        window = self.wait_monitor_window()
        self.pulse_until("add", 3, since=env.tray_mark())
        since = env.tray_mark()
        self.choose_from_menu(window, 3, VK_UP, VK_RETURN, button=WM_LBUTTONDOWN)
        self.assertEqual(self.wait_exit_code(monitor), 0)
        self.assertEqual(self.icon_ids("delete", since), [3])

        # The restart switch: this copy ends and a fresh one runs in its place.
        for switch in ("/r", "-Restart"):
            log = "restart%s.log" % switch[1]
            restarting = env.start(exe, "R", switch, log=log, debug="-all,trace+exec")
            self.assertEqual(self.wait_exit_code(restarting), 0)
            starts = re.findall(r'SHELL_execute .*file=(L".*") parm=(L".*") dir=',
                                (env.logs_dir / log).read_text(errors="replace"))
            self.assertEqual([(decode_wine_string(f), decode_wine_string(p)) for f, p in starts],
                             [(exe, "/N")], "the copy starts itself, by its full path, with /N")
            window = self.wait_monitor_window()
            self.pulse_until("add", 3, since=env.tray_mark())
            since = env.tray_mark()
            self.pulse("close")
            self.assertTrue(wait_for(lambda: not self.monitor_windows(), 30), "the restarted copy should close")
            self.assertEqual(self.icon_ids("delete", since), [3])

    def test_worker_thread_without_the_settings_event_neither_spins_nor_blocks_exit(self):
        env = self.make_env(drives={"d": 16 * MiB})
        # Both names of the settings event are taken by mutexes: the monitor
        # cannot create it and runs with that handle null.
        squatter = env.start(program("BrimDriver.exe"), "squat", "600", *SETTINGS_EVENT_NAMES, log="squat.log")
        self.assertTrue(wait_for(lambda: "held" in (env.logs_dir / "squat.log").read_text(errors="replace"), 30))
        monitor = self.start_monitor(self.install_monitor())
        self.wait_monitor_window()
        start = self.cpu_seconds(monitor)
        time.sleep(6)
        used = self.cpu_seconds(monitor) - start
        self.assertLess(used, 1.5, "the monitor used %.2f s of CPU while idle" % used)
        self.pulse("close")
        self.assertEqual(self.wait_exit_code(monitor), 0)
        squatter.terminate()


if __name__ == "__main__":
    unittest.main()
