"""BrimWatch under Wine: icons for low drives, settings pulses, the regular
tick, the taskbar coming back, start-up rules and the ways it ends.
"""

import re
import time
import unittest

from brimharness import SETTINGS_KEY, MiB, build_bits, decode_wine_string, program, unescape, wait_for
from brimcases import (BALLOON_TITLE, COMPANY, IDM_RUN_CLEANUP, IDM_TRAY_EXIT, MONITOR_TITLE, MUTE_QUESTION,
                       MonitorTestCase, NIIF_ERROR, NIIF_INFO, PACKED_VERSION, PRODUCT,
                       SETTINGS_EVENT_NAMES, TOOLS_DIR, VERSION, VK_DOWN, VK_RETURN, VK_UP, WM_COMMAND, WM_LBUTTONDOWN,
                       balloon_text, hwnd_text, tip_text)


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

        # E: falls, above the 15 % mark (2.4 MiB of 16 MiB): an information
        # balloon. (The warning icon is the early balloon's: test_monitor_forecast.)
        env.fill_drive("e", 4 * MiB)
        self.pulse_and_wait("add", 4)
        self.assertEqual(self.wait_balloon(balloon_text("E", "4.00 MB"))["icon"], NIIF_INFO)
        # D: recovers when its filler file is deleted: the icon goes at once.
        (env.drive_path("d") / "brim-filler.bin").unlink()
        self.pulse_and_wait("delete", 3)
        # ... and falls again within its balloon interval: the icon comes
        # back without a new balloon.
        since = env.tray_mark()
        env.fill_drive("d", 2 * MiB)
        self.pulse_and_wait("add", 3)
        time.sleep(2)
        self.assertEqual([b for b in self.balloons(since) if "drive D" in b["text"]], [])
        # E: no longer watched; D: threshold 0, which is never reached.
        env.set_drive_settings({"d": (1, 0), "e": (0, 8 * MiB), "f": (1, 8 * MiB), "g": (1, 8 * MiB)})
        since = env.tray_mark()
        self.pulse()
        self.assertTrue(wait_for(lambda: {3, 4} <= set(self.icon_ids("delete", since)), 20, 0.05),
                        "both icons should go: %r" % env.tray_events(since))
        env.set_drive_settings({"d": (2, 8 * MiB)})  # any non-zero byte means watched
        self.pulse_and_wait("add", 3)

        self.assertEqual(sorted(set(self.icon_ids("add"))), [3, 4])
        self.assertEqual(len(self.record("VelloranUpdater.exe")), 1, "the updater runs at most once a day")
        # Every tray call of the monitor used the layout that ends with guidItem
        # (NOTIFYICONDATAW_V3_SIZE: 968 bytes in a 64-bit program, 952 in a 32-bit one).
        calls = [line for line in (env.logs_dir / "monitor.log").read_text(errors="replace").splitlines()
                 if "Shell_NotifyIconW" in line]
        self.assertTrue(calls)
        v3_size = {64: 968, 32: 952}[build_bits()]
        self.assertTrue(all("cbSize=%d" % v3_size in line for line in calls), calls)


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


class SettingsWatchTest(MonitorTestCase):
    """The monitor follows the stored settings by itself: a value written
    with no pulse at all, as a policy push writes it, is taken up at once,
    not at the next regular tick."""

    WITHOUT_A_TICK = 10  # seconds, well inside the 45-second tick

    def write_and_wait(self, kind, mapping, what):
        since = self.env.tray_mark()
        self.env.set_drive_settings(mapping)
        self.assertIsNotNone(self.env.wait_for_tray(kind, 3, timeout=self.WITHOUT_A_TICK, since=since),
                             "%s: no %s of D:'s icon without a pulse" % (what, kind))

    def test_a_key_made_later_a_changed_value_and_a_key_made_again_are_followed(self):
        env = self.make_env(drives={"d": 16 * MiB})
        env.fill_drive("d", 4 * MiB)
        self.assertIsNone(env.reg_query(SETTINGS_KEY, "DriveSettings"))
        self.start_monitor(self.install_monitor())
        self.wait_monitor_window()
        started = time.monotonic()
        time.sleep(2)  # the worker thread has the registry watch the key's parent
        self.write_and_wait("add", {"d": (1, 8 * MiB)}, "key made after the start")
        self.write_and_wait("delete", {"d": (0, 8 * MiB)}, "value changed")
        self.assertTrue(self.env.reg_delete_key(SETTINGS_KEY))
        self.write_and_wait("add", {"d": (1, 8 * MiB)}, "key deleted and made again")
        self.assertLess(time.monotonic() - started, 40, "every change should be taken up before the first tick")

    def test_a_flood_of_writes_holds_off_no_scan_and_leaves_the_monitor_idle(self):
        env = self.make_env(drives={"d": 16 * MiB})
        env.set_drive_settings({"d": (1, 8 * MiB)})
        monitor = self.start_monitor(self.install_monitor())
        self.wait_monitor_window()
        time.sleep(2)
        # Twenty seconds of writes, as fast as the driver makes them, each a
        # change (Wine reports no write of the value that is there); D:
        # falls low three seconds in, and its icon comes while they last.
        since = env.tray_mark()
        end = time.monotonic() + 20
        filled = writes = 0
        while time.monotonic() < end:
            env.set_drive_settings({"d": (1, (8 + writes % 2) * MiB)})
            writes += 1
            if not filled and time.monotonic() > end - 17:
                filled = env.fill_drive("d", 4 * MiB)
        self.assertGreater(writes, 200)
        self.assertTrue(env.tray_has("add", 3, since), "D:'s icon should come while the writes last")
        # Once they stop the monitor waits again, using next to no CPU.
        before = self.cpu_seconds(monitor)
        time.sleep(5)
        self.assertLess(self.cpu_seconds(monitor) - before, 0.3)


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
        # The tray's icon sharp from 100 % to 200 % (16 to 32 pixels), in a
        # process that knows its scale.
        self.assertTrue({"16x16", "32x32"} <= set(icons["107"]), icons)
        self.assertTrue({"16x16", "20x20", "24x24", "32x32"} <= set(icons["108"]), icons)
        manifest = unescape([f for f in lines if f[0] == "manifest"][0][1])
        self.assertIn('level="asInvoker"', manifest)
        self.assertRegex(manifest, r"<dpiAware[^>]*>true</dpiAware>")

        version = dict(line.split("\t", 1) for line in env.driver_ok("version", exe).splitlines())
        self.assertEqual(version["FileVersionFixed"], VERSION)
        self.assertEqual(version["ProductVersionFixed"], VERSION)
        self.assertEqual((version["FileOS"], version["FileType"], version["FileFlags"]), ("0x4", "0x1", "0x0"))
        self.assertEqual(version["Translation"], "0809-04b0")
        self.assertEqual({k: version[k] for k in ("CompanyName", "FileDescription", "FileVersion", "InternalName",
                                                  "OriginalFilename", "ProductName", "ProductVersion")},
                         {"CompanyName": COMPANY, "FileDescription": "Brimline Monitor", "FileVersion": VERSION,
                          "InternalName": "BrimWatch", "OriginalFilename": "BrimWatch.exe",
                          "ProductName": PRODUCT, "ProductVersion": VERSION})
        self.assertIn(COMPANY, version["LegalCopyright"])

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
