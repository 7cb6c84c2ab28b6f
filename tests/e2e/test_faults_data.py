"""Stored data of the wrong shape, through the real programs under Wine:
DriveSettings of odd lengths and types, LastUpdateCheck too short, and
NoLowDiskSpaceChecks of the wrong type.

The rules: the settings are read byte for byte into the table that is there
already (all zero at start, the previous settings on a monitor's reload),
whatever the value's type; a value longer than the table changes nothing.
LastUpdateCheck counts only as 8 bytes of REG_BINARY; anything else counts
as no check yet (read once by a monitor, then kept until a check is due). BrimSet writes nothing unless Apply finds a change."""

import os
import time
import unittest

from brimharness import MiB, build_drive_settings
from brimcases import ConfigTestCase, IDC_CLOSE, IDC_NOLOWSPACECHECKS, MonitorTestCase, POLICY_KEY


SETTINGS_SUBKEY = r"Software\Velloran\BrimSet"
TABLE_SIZE = 234
REG_NONE, REG_SZ, REG_EXPAND_SZ, REG_BINARY, REG_DWORD, REG_DWORD_BIG_ENDIAN, REG_LINK, REG_MULTI_SZ, \
    REG_RESOURCE_LIST, REG_FULL_RESOURCE_DESCRIPTOR, REG_RESOURCE_REQUIREMENTS_LIST, REG_QWORD = range(12)
HOUR = 3600 * 10 ** 7  # in 100 ns


def overlay(table, data):
    """The table after reading `data` into it."""
    if len(data) > TABLE_SIZE:
        return table
    return bytes(data) + table[len(data):]


def record(table, letter):
    """(enabled byte, threshold) of a drive in a table image."""
    offset = (ord(letter.upper()) - ord("A")) * 9
    return table[offset], int.from_bytes(table[offset + 1:offset + 9], "little")


def utf16z(*strings):
    """A string value's stored bytes: REG_SZ for one string, REG_MULTI_SZ
    (with its closing empty string) for several."""
    data = b"".join(s.encode("utf-16-le") + b"\0\0" for s in strings)
    return data + (b"\0\0" if len(strings) > 1 else b"")


def update_time(offset=0):
    """Now (plus offset) as LastUpdateCheck counts time: 100 ns since 1970."""
    return int(time.time() * 10 ** 7) + offset


# Shapes of DriveSettings, each with the bytes stored and its type. The
# images reach C: to F: (records 2 to 5) where it matters.
BASE = build_drive_settings({"d": (1, 8 * MiB), "e": (1, 8 * MiB), "f": (1, 8 * MiB)})
D_OFF = build_drive_settings({"d": (0, 8 * MiB), "e": (1, 8 * MiB), "f": (1, 8 * MiB), "z": (1, 0xFFFFFFFFFFFFFF)})
ALL_OFF = bytes(TABLE_SIZE)
STRING = "A" * 16  # C: gets 0x41 and a huge threshold, D:'s enabled byte is 0
SHAPES = [
    ("base", REG_BINARY, BASE),
    ("0 bytes", REG_BINARY, b""),
    ("1 byte", REG_BINARY, b"\x00"),
    ("9 bytes", REG_BINARY, b"\x01" + b"\xff" * 8),
    ("10 bytes", REG_BINARY, b"\x01" + b"\xff" * 8 + b"\x01"),
    ("233 bytes", REG_BINARY, D_OFF[:233]),
    ("base", REG_BINARY, BASE),
    ("235 bytes", REG_BINARY, ALL_OFF + b"\x00"),
    ("4096 bytes", REG_BINARY, bytes(4096)),
    ("REG_DWORD", REG_DWORD, (0).to_bytes(4, "little")),
    ("REG_SZ", REG_SZ, utf16z(STRING)),
    ("base", REG_BINARY, BASE),
    ("REG_MULTI_SZ", REG_MULTI_SZ, utf16z(STRING, "B")),  # E: enabled, threshold cut to 0
    ("base", REG_BINARY, BASE),
]


class RegistryShapes:
    """Raw registry access through the driver, for any type and length."""

    def write_raw(self, hive, view, key, name, value_type, data):
        self.env.driver_ok("regraw", hive, str(view), key, name, str(value_type), bytes(data).hex() or "-")

    def read_raw(self, hive, view, key, name):
        """(type number, bytes) of a value, or None when it is missing."""
        code, out = self.env.driver("regget", hive, str(view), key, name)
        if code != 0:
            return None
        value_type, _, data = out.strip("\n").partition("\t")
        return int(value_type), bytes.fromhex(data)


class MonitorDataTest(MonitorTestCase, RegistryShapes):
    """One monitor reloads each shape on a settings pulse. F: stays watched
    throughout and its free space flips before each pulse, so its icon
    coming or going shows that the scan after the reload has run."""

    def setUp(self):
        env = self.make_env(drives={"d": 16 * MiB, "e": 16 * MiB, "f": 16 * MiB})
        for letter in "def":
            env.fill_drive(letter, 4 * MiB)
        self.exe = self.install_monitor()
        self.f_low = False

    def start(self):
        self.monitor = self.start_monitor(self.exe)
        self.window = self.wait_monitor_window()

    def icons(self):
        held = set()
        for kind, icon_id, owner in self.env.tray_events():
            if owner != self.window:
                continue
            if kind == "add":
                held.add(icon_id)
            elif kind == "delete":
                held.discard(icon_id)
        return held

    def rescan(self, label):
        """Flips F:, pulses until the monitor's scan shows it, and waits for
        the tick's handler to end (the update check follows the scan)."""
        self.f_low = not self.f_low
        self.env.fill_drive("f", 4 * MiB if self.f_low else 12 * MiB)
        kind = "add" if self.f_low else "delete"
        since = self.env.tray_mark()
        for _ in range(10):
            self.pulse()
            if self.env.wait_for_tray(kind, 5, timeout=4, since=since):
                break
        else:
            self.fail("%s: no rescan after 10 settings pulses" % label)
        self.assertIsNotNone(self.env.ping(self.window, 10000))

    def expected_icons(self, table):
        c_stats = os.statvfs(self.env.prefix / "drive_c")
        free = {"c": c_stats.f_bavail * c_stats.f_frsize}
        free.update({letter: self.env.free_bytes(letter) for letter in "def"})
        icons = set()
        for letter, space in free.items():
            enabled, threshold = record(table, letter)
            if enabled and space < threshold:
                icons.add(ord(letter) - ord("a"))
        return icons

    def stop(self):
        self.pulse("close")
        self.assertEqual(self.wait_exit_code(self.monitor), 0)

    def test_drive_settings_of_every_shape_fill_only_what_they_cover(self):
        env = self.env
        self.start()
        table = bytes(TABLE_SIZE)
        for label, value_type, data in SHAPES:
            self.write_raw("HKLM", 32, SETTINGS_SUBKEY, "DriveSettings", value_type, data)
            self.rescan(label)
            table = overlay(table, data)
            self.assertEqual(self.icons(), self.expected_icons(table), label)
            # The monitor never writes the settings back.
            self.assertEqual(self.read_raw("HKLM", 32, SETTINGS_SUBKEY, "DriveSettings"), (value_type, bytes(data)))
        # The shapes did what they were chosen for: D: went with the 233-byte
        # image and the string types, C: came with the strings, E: with REG_MULTI_SZ.
        deletes = self.icon_ids("delete")
        self.assertGreaterEqual(deletes.count(3), 3, env.tray_events())
        self.assertIn(2, self.icon_ids("add"))
        self.assertIn(4, deletes)
        self.assertEqual(self.icons() - {5}, {3, 4})
        self.stop()

    def test_last_update_check_is_read_at_a_monitors_first_tick_and_then_kept(self):
        # Which stored shapes count as a time is the Windows unit tests'
        # business; here: the running monitor reads the time once.
        env = self.env
        env.set_drive_settings(BASE)
        day_ago = update_time(-25 * HOUR).to_bytes(8, "little", signed=True)
        self.write_raw("HKCU", 32, SETTINGS_SUBKEY, "LastUpdateCheck", REG_BINARY, day_ago[:7])
        self.start()
        self.rescan("a 7-byte time: no check yet")
        self.assertTrue(self.wait_record("VelloranUpdater.exe", 1, timeout=20))
        value_type, stored = self.read_raw("HKCU", 32, SETTINGS_SUBKEY, "LastUpdateCheck")
        self.assertEqual((value_type, len(stored)), (REG_BINARY, 8))

        # A stored time made due behind the running monitor's back is not
        # looked at until the time it keeps is due ...
        self.write_raw("HKCU", 32, SETTINGS_SUBKEY, "LastUpdateCheck", REG_BINARY, day_ago)
        self.rescan("stored time changed after the first read")
        self.rescan("and one tick more")
        time.sleep(2)
        self.assertEqual(len(self.record("VelloranUpdater.exe")), 1)
        self.stop()
        # ... and a monitor started then reads it at its first tick.
        self.f_low = False  # a new monitor has no icon: its first rescan adds F:'s
        self.start()
        self.rescan("first tick of a new monitor")
        self.assertTrue(self.wait_record("VelloranUpdater.exe", 2, timeout=20))
        self.stop()


class ConfigDataTest(ConfigTestCase, RegistryShapes):
    """BrimSet loads each shape into a zero table, shows it, and on Close
    writes nothing: the stored bytes and type stay as they were."""

    def test_drive_settings_of_every_shape_are_shown_and_never_written_back(self):
        env = self.make_env(drives={"d": 16 * MiB, "e": 16 * MiB, "f": 16 * MiB})
        for label, value_type, data in SHAPES[1:11] + SHAPES[12:13]:
            self.write_raw("HKLM", 32, SETTINGS_SUBKEY, "DriveSettings", value_type, data)
            self.open_drive_list()
            table = overlay(bytes(TABLE_SIZE), data)
            for letter in "def":
                enabled, threshold = record(table, letter)
                row = self.rows()[self.row_of(letter)]
                self.assertEqual(row["image"], 2 if enabled else 1, "%s, %s:" % (label, letter))
                if threshold in (0, 8 * MiB):  # 0 shows the 15 % default
                    self.assertEqual(row["cells"][3], "8.00 MB" if threshold else "2.39 MB",
                                     "%s, %s:" % (label, letter))
            self.assertEqual(self.rows()[self.row_of("c")]["image"], 2 if record(table, "c")[0] else 1, label)
            # Close without a change: no question, nothing written.
            self.command(self.dialog, IDC_CLOSE)
            self.assertEqual(self.wait_exit(), 0, label)
            self.assertEqual(self.read_raw("HKLM", 32, SETTINGS_SUBKEY, "DriveSettings"), (value_type, bytes(data)),
                             label)

    def test_policy_value_of_the_wrong_type_is_shown_unset_and_kept_until_apply(self):
        env = self.make_env(drives={"d": 16 * MiB})
        policy_key = POLICY_KEY.split("\\", 1)[1]
        for value_type, data in ((REG_SZ, utf16z("1")), (REG_BINARY, b"\x01\x00\x00\x00"),
                                 (REG_QWORD, (1).to_bytes(8, "little")), (REG_DWORD, b"\x01\x00")):
            self.write_raw("HKLM", 64, policy_key, "NoLowDiskSpaceChecks", value_type, data)
            self.open_drive_list()
            self.assertFalse(self.checked(self.dialog, IDC_NOLOWSPACECHECKS), value_type)
            # Apply without a change writes nothing.
            self.apply()
            self.command(self.dialog, IDC_CLOSE)
            self.assertEqual(self.wait_exit(), 0)
            self.assertEqual(self.read_raw("HKLM", 64, policy_key, "NoLowDiskSpaceChecks"), (value_type, data))
        # A change and Apply replace it with the DWORD the box shows.
        self.open_drive_list()
        self.click(self.dialog, IDC_NOLOWSPACECHECKS)
        self.apply()
        self.command(self.dialog, IDC_CLOSE)
        self.assertEqual(self.wait_exit(), 0)
        self.assertEqual(self.read_raw("HKLM", 64, policy_key, "NoLowDiskSpaceChecks"),
                         (REG_DWORD, (1).to_bytes(4, "little")))


if __name__ == "__main__":
    unittest.main()
