"""The harness itself: prefixes, tmpfs drives, registry, events, the tray
trace, the driver's window commands, recorders and clean-up."""

import os
import subprocess
import sys
import tempfile
import unittest
from pathlib import Path

import brimharness as h
from brimharness import MiB, WineEnv
from brimcases import INSTALL_DIR, PACKED_VERSION


class ParsingTest(unittest.TestCase):
    """The parsers over text as Wine and reg.exe wrote it."""

    TRAY_LOG = "\n".join([
        "0064:trace:systray:add_icon id=0x3, hwnd=000000000004006A",
        "0064:trace:systray:modify_icon id=0x3, hwnd=000000000004006A",
        "0064:trace:systray:show_icon id=0x3, hwnd=000000000004006A",
        "0064:trace:tooltips:TOOLTIPS_AddToolT add text L\"Velloran Brimline: Low disk space on drive D: 1.00 MB\"",
        "0064:trace:tooltips:TOOLTIPS_Show Show tooltip pre 0, 0000000000010084",
        "0064:trace:tooltips:TOOLTIPS_Show Show tooltip 0, L\"a plain tip\", size 80 x 20",
        "0064:trace:tooltips:TOOLTIPS_SetTitleT hwnd = 000000000001008A, title = L\"Brimline - Low Disk Space\", "
        "icon = 0000000000000003",
        "0064:trace:tooltips:TOOLTIPS_Show Show tooltip pre 0, 000000000001008A",
        "0064:trace:tooltips:TOOLTIPS_Show Show tooltip 0, L\"You are running out of disk space on drive D.\\r\\n"
        "It only has 1\\00a0KB \\\"free\\\".\", size 110 x 69",
        "\0\0\0garbage line",
        "0064:trace:systray:hide_icon id=0x3, hwnd=000000000004006A",
    ])

    def test_tray_log(self):
        events = h.parse_tray_log(self.TRAY_LOG)
        self.assertEqual(events, [
            ("add", 3, 0x4006A), ("modify", 3, 0x4006A), ("show", 3, 0x4006A),
            ("balloon", None, {"title": "Brimline - Low Disk Space", "icon": 3, "tooltip": 0x1008A,
                               "text": "You are running out of disk space on drive D.\r\nIt only has 1\u00a0KB \"free\"."}),
            ("delete", 3, 0x4006A)])

    def test_escapes(self):
        self.assertEqual(h.decode_wine_string('L"a\\\\b\\tc"...'), "a\\b\tc")
        self.assertEqual(h.unescape("a\\tb\\\\n\\r\\n"), "a\tb\\n\r\n")

    def test_drive_settings_image(self):
        image = h.build_drive_settings({"a": (1, 2), "Z:": (255, 2 ** 64 - 1)})
        self.assertEqual(len(image), 234)
        self.assertEqual(image[:9], bytes([1, 2, 0, 0, 0, 0, 0, 0, 0]))
        self.assertEqual(image[225:], bytes([255]) + bytes([255] * 8))
        self.assertEqual(h.parse_drive_settings(image)["Z"], (255, 2 ** 64 - 1))
        self.assertEqual(len(h.parse_drive_settings(image[:20])), 2)
        with self.assertRaises(ValueError):
            h.build_drive_settings({"1": (1, 1)})

    def test_registry_values_as_stored(self):
        for kind, data, stored in [("REG_DWORD", -1, b"\xff\xff\xff\xff"), ("REG_QWORD", 1, bytes([1]) + bytes(7)),
                                   ("REG_SZ", "\u00e9", "\u00e9\0".encode("utf-16-le")),
                                   ("REG_MULTI_SZ", ["x", "y"], "x\0y\0\0".encode("utf-16-le")),
                                   ("REG_MULTI_SZ", [], b"\0\0"), ("REG_BINARY", b"\x01", b"\x01")]:
            self.assertEqual(h._reg_bytes(kind, data), stored, kind)
            self.assertEqual(h._reg_value(h._REG_TYPES[kind], stored)[0], kind)
        self.assertEqual(h._split_key(r"hkcu\Software\X"), ("HKCU", r"Software\X"))
        self.assertEqual(h._reg_value(4, b"\x01\x02"), ("REG_DWORD", b"\x01\x02"))  # a DWORD of the wrong size


class DriveTest(unittest.TestCase):
    def setUp(self):
        self.env = WineEnv.for_test(self, display=False, drives={"d": 16 * MiB})

    def freespace(self, root="d"):
        code, out = self.env.driver("freespace", root)
        fields = dict(item.split("=", 1) for item in out.split())
        return code, {k: (v if k == "typename" else int(v)) for k, v in fields.items()}

    def test_tmpfs_drive_is_seen_exactly_and_fill_drive_moves_it(self):
        code, out = self.env.driver("drives")
        self.assertEqual(code, 0, self.env.last_stderr)
        # z: is gone: only the prefix's c: and the tmpfs d: are drives.
        self.assertEqual(out.splitlines(), ["mask\t0xc", "C:\\\t3\tfixed", "D:\\\t3\tfixed"])

        code, space = self.freespace()
        self.assertEqual(code, 0)
        self.assertEqual(space, {"type": 3, "typename": "fixed", "available": 16 * MiB, "total": 16 * MiB,
                                 "free": 16 * MiB})

        for wanted, expected in ((5 * MiB + 123, 5 * MiB), (12 * MiB, 12 * MiB), (0, 0), (3 * MiB, 3 * MiB),
                                 (64 * MiB, 16 * MiB)):
            measured = self.env.fill_drive("d", wanted)
            self.assertEqual(measured, expected, "fill_drive(%d)" % wanted)
            self.assertEqual(self.env.free_bytes("d"), expected)
            code, space = self.freespace()
            self.assertEqual((space["available"], space["free"], space["total"]), (expected, expected, 16 * MiB))

        # Files that programs write count too: fill_drive aims at the free
        # space, not at a filler size.
        (self.env.drive_path("d") / "other.bin").write_bytes(b"x" * (2 * MiB))
        self.assertEqual(self.env.fill_drive("d", 10 * MiB), 10 * MiB)
        with self.assertRaises(ValueError):
            self.env.fill_drive("d", -1)

    def test_drive_type_and_removed_link(self):
        self.env.set_drive_types({"d": "cdrom"})
        code, space = self.freespace()
        self.assertEqual((code, space["type"], space["typename"]), (0, 5, "cdrom"))
        self.assertEqual(self.env.reg_query(r"HKLM\Software\Wine\Drives", "d:", view=64), ("REG_SZ", "cdrom"))

        self.env.set_drive_types({"d": "hd"})
        self.assertEqual(self.freespace()[1]["type"], 3)

        # A removed link: the letter stays in the running wineserver's drive
        # list, but has no root and no free space to report.
        self.env.remove_drive("d")
        code, space = self.freespace()
        self.assertEqual((code, space["type"]), (1, 1))
        self.env.restore_drive("d")
        code, space = self.freespace()
        self.assertEqual((code, space["type"], space["total"]), (0, 3, 16 * MiB))
        self.env.remove_drive("d")
        self.env.restart_wineserver()
        self.assertEqual(self.env.driver("drives")[1].splitlines(), ["mask\t0x4", "C:\\\t3\tfixed"])


class RegistryTest(unittest.TestCase):
    KEY = h.SETTINGS_KEY

    def setUp(self):
        self.env = WineEnv.for_test(self, display=False)

    def test_values_round_trip_in_their_own_view(self):
        env = self.env
        self.assertIsNone(env.drive_settings())
        image = env.set_drive_settings({"c": (1, 123456789), "D": (0x80, 2 ** 64 - 1), "z": (1, 1)})
        self.assertEqual(len(image), 234)
        self.assertEqual(image[18:27], bytes([1]) + (123456789).to_bytes(8, "little"))
        self.assertEqual(env.drive_settings(), image)
        self.assertEqual(h.parse_drive_settings(image)["D"], (0x80, 2 ** 64 - 1))
        # The 32-bit view is Wow6432Node: the 64-bit view has nothing there.
        self.assertIsNone(env.reg_query(self.KEY, "DriveSettings", view=64))
        self.assertEqual(env.reg_query(r"HKLM\Software\Wow6432Node\Velloran\BrimSet", "DriveSettings", view=64),
                         ("REG_BINARY", image))

        env.set_drive_settings(b"")
        self.assertEqual(env.reg_query(self.KEY, "DriveSettings"), ("REG_BINARY", b""))
        env.set_drive_settings(bytes(range(7)))
        self.assertEqual(env.drive_settings(), bytes(range(7)))

        cases = [("REG_DWORD", 0xFFFFFFFF, 0xFFFFFFFF), ("REG_DWORD", -1, 0xFFFFFFFF), ("REG_DWORD", 0, 0),
                 ("REG_QWORD", 0x123456789ABCDEF0, 0x123456789ABCDEF0),
                 ("REG_SZ", "a  b    c", "a  b    c"), ("REG_SZ", "", ""),
                 ("REG_SZ", "Grüße €", "Grüße €"),
                 ("REG_MULTI_SZ", ["x", "y z"], ["x", "y z"]),
                 ("REG_EXPAND_SZ", "%SystemRoot%\\x", "%SystemRoot%\\x")]
        for index, (kind, data, expected) in enumerate(cases):
            name = "Value%d" % index
            env.reg_add(self.KEY, name, kind, data)
            self.assertEqual(env.reg_query(self.KEY, name), (kind, expected), name)

        env.reg_add(r"HKCU\Software\Velloran\BrimSet", "LastUpdateCheck", "REG_BINARY", bytes(8))
        self.assertEqual(env.reg_query(r"HKCU\Software\Velloran\BrimSet", "LastUpdateCheck"),
                         ("REG_BINARY", bytes(8)))

        self.assertTrue(env.reg_delete_value(self.KEY, "DriveSettings"))
        self.assertIsNone(env.drive_settings())
        self.assertIsNone(env.reg_query(self.KEY, "NoSuchValue"))
        self.assertTrue(env.reg_delete_key(r"HKLM\Software\Velloran"))
        self.assertIsNone(env.reg_query(self.KEY, "Value0"))
        self.assertFalse(env.reg_delete_key(r"HKLM\Software\Velloran"))


class EventTest(unittest.TestCase):
    def setUp(self):
        self.env = WineEnv.for_class(self, display=False)

    def start_waiter(self, event, log):
        waiter = self.env.start(h.program("BrimDriver.exe"), "wait", event, "60000", log=log)
        log_path = self.env.logs_dir / log
        self.assertTrue(h.wait_for(lambda: "waiting" in log_path.read_text(), 30, 0.05), "the waiter never waited")
        return waiter, log_path

    def pulse_until_exit(self, event, waiter):
        # A pulse reaches only a thread inside its wait: pulse until it wakes.
        for _ in range(50):
            self.assertEqual(self.env.driver("pulse", event)[0], 0, self.env.last_stderr)
            try:
                return self.env.wait_exit(waiter, 0.3)
            except subprocess.TimeoutExpired:
                pass
        self.fail("the pulse never reached the waiter")

    def test_pulse_in_one_process_wakes_the_waiter_in_another(self):
        close_waiter, close_log = self.start_waiter("close", "close.log")
        settings_waiter, settings_log = self.start_waiter("settings", "settings.log")
        self.assertEqual(self.env.driver("events")[1].splitlines(), ["settings\tglobal", "close\tglobal"])

        self.assertEqual(self.pulse_until_exit("settings", settings_waiter), 0)
        self.assertEqual(settings_log.read_text().splitlines(), ["waiting", "signalled"])
        # The settings pulses did not touch the close event.
        self.assertIsNone(close_waiter.poll())
        self.assertEqual(self.pulse_until_exit("close", close_waiter), 0)
        self.assertEqual(close_log.read_text().splitlines(), ["waiting", "signalled"])

    def test_wait_times_out_and_a_set_event_stays_signalled(self):
        code, out = self.env.driver("wait", "settings", "200")
        self.assertEqual((code, out.splitlines()), (1, ["waiting", "timeout"]))
        self.assertEqual(self.env.driver("set", "settings")[0], 0)
        # The driver's own handle is gone with its command, and with it the
        # event: a named event lives only while somebody holds it.
        holder, holder_log = self.start_waiter("close", "holder.log")
        self.assertEqual(self.env.driver("set", "settings")[0], 0)
        self.assertEqual(self.env.driver("wait", "settings", "200"), (0, "waiting\nsignalled\n"))
        self.assertEqual(self.env.driver("reset", "settings")[0], 0)
        self.assertEqual(self.env.driver("wait", "settings", "200")[0], 1)
        self.assertEqual(self.env.driver("pulse", "bogus")[0], 2)
        self.assertIsNone(holder.poll())


class RecorderTest(unittest.TestCase):
    def setUp(self):
        self.env = WineEnv.for_class(self, display=False)

    def test_recorder_logs_each_start(self):
        updater = INSTALL_DIR + r"\VelloranUpdater.exe"
        log = self.env.make_recorder(updater)
        self.assertEqual(h.read_records(log), [])
        arguments = "BrimWatch.exe 0 %d 1" % PACKED_VERSION
        result = self.env.wine(self.env.to_host(updater), *arguments.split())
        self.assertEqual(result.returncode, 0, result.stderr)
        result = self.env.wine(self.env.to_host(updater), "two words", "/e,D:\\")
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(h.read_records(log), [arguments, "two words /e,D:\\"])

        # A stand-in on the search path, found by name as the shell would.
        tools = self.env.prefix / "drive_c" / "tools"
        log = self.env.make_recorder(tools / "cleanmgr.exe", log_path=tools / "cleanup.log")
        self.env.add_search_dir(tools)
        result = self.env.wine("cmd", "/c", "cleanmgr.exe /dC")
        self.assertEqual(result.returncode, 0, result.stdout + result.stderr)
        self.assertEqual(h.read_records(log), ["/dC"])

    def test_driver_commands_without_windows(self):
        code, out = self.env.driver("bogus")
        self.assertEqual(code, 2)
        self.assertIn("unknown command", self.env.last_stderr)
        self.assertEqual(self.env.driver("find", "NoSuchClass", "*")[0], 1)
        self.assertEqual(self.env.driver("gettext", "0x0", "5")[0], 1)
        self.assertEqual(self.env.driver("post", "0x1", "nonsense", "0", "0")[0], 2)
        self.assertEqual(self.env.driver("msgbox")[0], 1)
        code, out = self.env.driver("version", h.program("BrimDriver.exe"))
        self.assertEqual(code, 1)  # the driver carries no version block
        fields = dict(line.split("\t", 1) for line in
                      self.env.driver_ok("version", r"C:\windows\system32\kernel32.dll").splitlines())
        self.assertEqual((fields["Translation"], fields["FileDescription"], fields["OriginalFilename"]),
                         ("0409-04b0", "Wine kernel DLL", "kernel32.dll"))
        self.assertRegex(fields["FileVersionFixed"], r"^\d+\.\d+\.\d+\.\d+$")


class DesktopTest(unittest.TestCase):
    def setUp(self):
        self.env = WineEnv.for_test(self, display=True)

    def test_tray_icon_balloons_and_screenshot(self):
        env = self.env
        mark = env.tray_mark()
        icon = env.start(h.program("BrimDriver.exe"), "trayicon", "8", log="trayicon.log")
        balloon = env.wait_for_tray("balloon", text="Harness balloon", since=mark, timeout=30)
        self.assertIsNotNone(balloon, env.tray_log()[-3000:])
        shot = env.screenshot("harness/tray.png")
        self.assertGreater(shot.stat().st_size, 1000)
        self.assertEqual(shot.read_bytes()[:8], b"\x89PNG\r\n\x1a\n")
        self.assertEqual(env.wait_exit(icon, 30), 0)
        self.assertIsNotNone(env.wait_for_tray("delete", 7, since=mark, timeout=10))

        events = env.tray_events(since=mark)
        kinds = [(kind, icon_id) for kind, icon_id, _ in events]
        self.assertEqual(kinds[0], ("add", 7))
        self.assertEqual(kinds[-1], ("delete", 7))
        self.assertIn(("modify", 7), kinds)
        balloons = [(e[2]["title"], e[2]["text"], e[2]["icon"]) for e in events if e[0] == "balloon"]
        self.assertEqual(balloons, [("Harness title", "Harness balloon", 1),
                                    ("Harness title", "Harness balloon again", 2)])
        owner = events[0][2]
        self.assertTrue(all(e[2] == owner for e in events if e[0] != "balloon"))

    def test_desktop_after_a_restart_still_traces_the_tray(self):
        # The desktop's explorer must again be the hold's child, with its
        # debug channels and stderr, not that of a driver call racing it.
        env = self.env
        env.restart_wineserver()
        explorers = []
        for pid in filter(str.isdigit, os.listdir("/proc")):
            try:
                command = Path("/proc", pid, "cmdline").read_bytes()
                environ = Path("/proc", pid, "environ").read_bytes().split(b"\0")
            except OSError:
                continue
            if b"explorer.exe" in command and ("WINEPREFIX=%s" % env.prefix).encode() in environ:
                explorers.append([v for v in environ if v.startswith(b"WINEDEBUG=")])
        self.assertEqual(explorers, [[("WINEDEBUG=" + h._TRAY_DEBUG).encode()]])
        mark = env.tray_mark()
        icon = env.start(h.program("BrimDriver.exe"), "trayicon", "1", log="trayicon.log")
        self.assertIsNotNone(env.wait_for_tray("add", 7, since=mark, timeout=30))
        self.assertEqual(env.wait_exit(icon, 30), 0)

    def test_driver_works_another_programs_window(self):
        env = self.env
        demo = env.start(h.program("BrimDriver.exe"), "demo", log="demo.log")
        window = env.find_window("BrimDriverDemo", "BrimDriver demo", timeout=20)
        self.assertIsNotNone(window)
        hwnd = "0x%x" % window
        self.assertIn({"hwnd": window, "class": "BrimDriverDemo", "title": "BrimDriver demo", "visible": True},
                      [{k: w[k] for k in ("hwnd", "class", "title", "visible")} for w in env.windows()])
        controls = {c["id"]: c for c in env.controls(window)}
        self.assertEqual(controls[1003]["text"], "Ask")
        self.assertFalse(controls[1006]["enabled"])
        self.assertEqual(env.driver("enabled", hwnd, "1006"), (0, "0\n"))
        self.assertIsNotNone(env.ping(window))

        self.assertEqual(env.get_text(window, 1002), "initial")
        self.assertEqual(env.driver("settext", hwnd, "1002", "a\tb\\c")[0], 0)
        self.assertEqual(env.get_text(window, 1002), "a\tb\\c")

        self.assertEqual(env.driver("checked", hwnd, "1004"), (0, "0\n"))
        self.assertEqual(env.driver("click", hwnd, "1004"), (0, "clicked\n"))
        self.assertEqual(env.driver("checked", hwnd, "1004"), (0, "1\n"))

        rows = env.listview(window, 1001)
        self.assertEqual([(r["image"], r["selected"], r["cells"]) for r in rows],
                         [(1, False, ["C:", "1 GB"]), (2, False, ["D:", "16.0 MB"]), (1, False, ["E:", ""])])
        self.assertEqual(env.driver_ok("lvcolumns", hwnd, "1001").splitlines(),
                         ["0\t120\tleft\tDrive", "1\t90\tright\tSize"])
        env.driver_ok("lvcheck", hwnd, "1001", "0", "1")
        env.driver_ok("lvselect", hwnd, "1001", "2")
        rows = env.listview(window, 1001)
        self.assertEqual([(r["image"], r["selected"]) for r in rows], [(2, False), (2, False), (1, True)])
        env.driver_ok("lvselect", hwnd, "1001", "-1")
        self.assertFalse(any(r["selected"] for r in env.listview(window, 1001)))
        env.driver_ok("lvdblclick", hwnd, "1001", "-1")
        env.driver_ok("lvdblclick", hwnd, "1001", "1")
        self.assertTrue(env.listview(window, 1001)[1]["selected"])

        # A click that opens a modal message box does not come back at once.
        self.assertIn(env.driver("click", hwnd, "1003")[1], ("clicked\n", "pending\n"))
        box = env.message_box(timeout=20)
        self.assertIsNotNone(box)
        self.assertEqual((box["owner"], box["title"], box["text"]),
                         (window, "BrimDriver demo", "Demo question?\nSecond line"))
        self.assertEqual([b[0] for b in box["buttons"]], [6, 7])
        self.assertIsNone(env.message_box(timeout=0, owner=window + 1))
        self.assertTrue(env.answer_message_box("yes", owner=window))
        events = h.wait_for(lambda: "answer" in env.get_text(window, 1005) and env.get_text(window, 1005), 10)
        self.assertEqual(events.split(";"), ["option 1", "check 0 2", "dblclk -1", "dblclk 1", "answer 6"])

        env.driver_ok("post", hwnd, "WM_CLOSE", "0", "0")
        self.assertEqual(env.wait_exit(demo, 20), 0)


class CleanupTest(unittest.TestCase):
    def test_close_leaves_nothing_behind(self):
        h.require_root(self)
        h.require_display_tools(self)
        env = WineEnv(display=True, drives={"e": 4 * MiB}, name="cleanup")
        try:
            root, prefix, xvfb = env.root, env.prefix, env._xvfb.pid
            env.start(h.program("BrimDriver.exe"), "hold")
            self.assertTrue(self.mounted_under(root))
        finally:
            env.close()
        env.close()
        self.assertFalse(root.exists())
        self.assertFalse(self.mounted_under(root))
        self.assertFalse(Path("/proc/%d" % xvfb).exists() and b"Xvfb" in Path("/proc/%d/cmdline" % xvfb).read_bytes())
        self.assertEqual(self.processes_of(prefix), [])

    def test_environments_of_a_killed_test_process_are_swept(self):
        h.require_root(self)
        h.require_display_tools(self)
        script = ("import os, brimharness as h\n"
                  "e = h.WineEnv(display=True, drives={'f': 4 * h.MiB}, name='killed')\n"
                  "e.start(h.program('BrimDriver.exe'), 'demo')\n"
                  "print(e.root, e.prefix, flush=True)\n"
                  "os._exit(9)\n")
        with tempfile.TemporaryFile() as output:
            code = subprocess.run([sys.executable, "-c", script], cwd=str(Path(__file__).parent), stdout=output,
                                  stderr=subprocess.STDOUT, timeout=300).returncode
            output.seek(0)
            text = output.read().decode()
        self.assertEqual(code, 9, text)
        root, prefix = (Path(p) for p in text.split()[-2:])
        self.assertTrue(self.mounted_under(root))
        self.assertTrue(h.wait_for(lambda: self.processes_of(prefix), 10))
        h.sweep_stale_envs()
        self.assertFalse(root.exists())
        self.assertFalse(self.mounted_under(root))
        self.assertEqual(h.wait_for(lambda: not self.processes_of(prefix), 10), True)

    @staticmethod
    def mounted_under(root):
        return any(str(root) in line for line in Path("/proc/self/mounts").read_text().splitlines())

    @staticmethod
    def processes_of(prefix):
        marker = ("WINEPREFIX=%s" % prefix).encode() + b"\0"
        found = []
        for entry in os.listdir("/proc"):
            if entry.isdigit():
                try:
                    if marker in Path("/proc/%s/environ" % entry).read_bytes():
                        found.append(int(entry))
                except OSError:
                    pass
        return found


if __name__ == "__main__":
    unittest.main()
