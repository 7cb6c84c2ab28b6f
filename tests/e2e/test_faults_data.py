"""Stored data of the wrong shape, read by the real programs under Wine:
DriveSettings of odd lengths and types, LastUpdateCheck too short, and
NoLowDiskSpaceChecks of the wrong type.

How a stored value fills the settings table (byte for byte over what is
there, whatever its type; a value longer than the table changes nothing)
is proven natively (tests/native/common_settings_test.cpp) and against the
real registry (tests/win/registry_test.cpp). Here each program reads every
shape without failing, shows what it read (a monitor's icons, BrimSet's
list) and never writes it back; a monitor keeps LastUpdateCheck once read;
BrimSet writes nothing unless Apply finds a change."""

import time
import unittest

from brimharness import SETTINGS_KEY, MiB, build_drive_settings
from brimcases import ConfigTestCase, IDC_CLOSE, IDC_OSLOWSPACESWITCH, MonitorTestCase, EXPLORER_POLICY_KEY, USER_SETTINGS_KEY


HOUR = 3600 * 10 ** 7  # in 100 ns
ICON_OF_F = 5  # the monitor's icon id is the drive index

# D: to F: are 16 MiB drives with 4 MiB free (the monitor's test moves F:),
# so each is low when watched at 8 MB; C: is low only under a threshold as
# huge as a string's bytes make it.
BASE = build_drive_settings({"d": (1, 8 * MiB), "e": (1, 8 * MiB), "f": (1, 8 * MiB)})
D_OFF = build_drive_settings({"d": (0, 8 * MiB), "e": (1, 8 * MiB), "f": (1, 8 * MiB), "z": (1, 0xFFFFFFFFFFFFFF)})
STRING = "A" * 16  # as UTF-16 bytes: C:'s enabled byte 0x41 and a huge threshold, D:'s enabled byte 0
SHAPES = {
    "base": ("REG_BINARY", BASE),
    "0 bytes": ("REG_BINARY", b""),
    "1 byte": ("REG_BINARY", b"\x00"),
    "9 bytes": ("REG_BINARY", b"\x01" + b"\xff" * 8),  # A: only
    "10 bytes": ("REG_BINARY", b"\x01" + b"\xff" * 8 + b"\x01"),  # and B:'s enabled byte
    "233 bytes": ("REG_BINARY", D_OFF[:233]),  # D: off; Z:'s record one byte short
    "235 bytes": ("REG_BINARY", bytes(235)),
    "4096 bytes": ("REG_BINARY", bytes(4096)),
    "REG_DWORD": ("REG_DWORD", 0),
    "REG_SZ": ("REG_SZ", STRING),
    "REG_MULTI_SZ": ("REG_MULTI_SZ", [STRING, "B"]),  # E:'s enabled byte 0 as well
}

# The shapes one running monitor reads in turn, each over what the one
# before left, and the drives of C: to E: it then warns for.
MONITOR_READS = [("base", "DE"), ("0 bytes", "DE"), ("1 byte", "DE"), ("9 bytes", "DE"), ("10 bytes", "DE"),
                 ("233 bytes", "E"), ("base", "DE"), ("235 bytes", "DE"), ("4096 bytes", "DE"),
                 ("REG_DWORD", "DE"), ("REG_SZ", "CE"), ("base", "DE"), ("REG_MULTI_SZ", "C"), ("base", "DE")]

# What BrimSet shows of each shape, read into an empty table: the drives of
# C: to F: it ticks, and the alarms of D:, E: and F: (None where a string's
# bytes make a threshold of no interest). No threshold shows 15 % of 16 MiB.
EIGHT, DEFAULT = "8.00 MB", "2.39 MB"
BRIMSET_READS = [("0 bytes", "", (DEFAULT,) * 3), ("1 byte", "", (DEFAULT,) * 3), ("9 bytes", "", (DEFAULT,) * 3),
                 ("10 bytes", "", (DEFAULT,) * 3), ("233 bytes", "EF", (EIGHT,) * 3), ("base", "DEF", (EIGHT,) * 3),
                 ("235 bytes", "", (DEFAULT,) * 3), ("4096 bytes", "", (DEFAULT,) * 3),
                 ("REG_DWORD", "", (DEFAULT,) * 3), ("REG_SZ", "C", (None, DEFAULT, DEFAULT)),
                 ("REG_MULTI_SZ", "C", (None, DEFAULT, DEFAULT))]


def update_time(offset=0):
    """Now (plus offset) as LastUpdateCheck counts time: 100 ns since 1970."""
    return int(time.time() * 10 ** 7) + offset


def icon_of(letter):
    return ord(letter.lower()) - ord("a")


class MonitorDataTest(MonitorTestCase):
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

    def rescan(self):
        """Flips F:, pulses until the monitor's scan shows it, and waits for
        the tick's handler to end (the update check follows the scan)."""
        self.f_low = not self.f_low
        self.env.fill_drive("f", 4 * MiB if self.f_low else 12 * MiB)
        self.pulse_until("add" if self.f_low else "delete", ICON_OF_F, self.env.tray_mark())
        self.assertIsNotNone(self.env.ping(self.window, 10000))

    def stop(self):
        self.pulse("close")
        self.assertEqual(self.wait_exit_code(self.monitor), 0)

    def test_drive_settings_of_every_shape_fill_only_what_they_cover(self):
        env = self.env
        self.start()
        for label, warned in MONITOR_READS:
            value_type, value = SHAPES[label]
            env.reg_add(SETTINGS_KEY, "DriveSettings", value_type, value)
            self.rescan()
            self.assertEqual(self.icons(), {icon_of(letter) for letter in warned + ("F" if self.f_low else "")}, label)
            # The monitor never writes the settings back.
            self.assertEqual(env.reg_query(SETTINGS_KEY, "DriveSettings"), (value_type, value), label)
        self.stop()

    def test_last_update_check_is_read_at_a_monitors_first_tick_and_then_kept(self):
        # Which stored shapes count as a time is the Windows unit tests'
        # business; here: the running monitor reads the time once.
        env = self.env
        env.set_drive_settings(BASE)
        day_ago = update_time(-25 * HOUR).to_bytes(8, "little", signed=True)
        env.reg_add(USER_SETTINGS_KEY, "LastUpdateCheck", "REG_BINARY", day_ago[:7])
        self.start()
        self.rescan()  # a 7-byte time is no check yet
        self.assertTrue(self.wait_record("VelloranUpdater.exe", 1, timeout=20))
        value_type, stored = env.reg_query(USER_SETTINGS_KEY, "LastUpdateCheck")
        self.assertEqual((value_type, len(stored)), ("REG_BINARY", 8))

        # A stored time made due behind the running monitor's back is not
        # looked at until the time it keeps is due ...
        env.reg_add(USER_SETTINGS_KEY, "LastUpdateCheck", "REG_BINARY", day_ago)
        self.rescan()
        self.rescan()
        time.sleep(2)
        self.assertEqual(len(self.record("VelloranUpdater.exe")), 1)
        self.stop()
        # ... and a monitor started then reads it at its first tick.
        self.f_low = False  # a new monitor has no icon: its first rescan adds F:'s
        self.start()
        self.rescan()
        self.assertTrue(self.wait_record("VelloranUpdater.exe", 2, timeout=20))
        self.stop()


class ConfigDataTest(ConfigTestCase):
    """BrimSet loads each shape into an empty table, shows it, and on Close
    writes nothing: the stored bytes and type stay as they were."""

    def test_drive_settings_of_every_shape_are_shown_and_never_written_back(self):
        env = self.make_env(drives={"d": 16 * MiB, "e": 16 * MiB, "f": 16 * MiB})
        for label, ticked, alarms in BRIMSET_READS:
            value_type, value = SHAPES[label]
            env.reg_add(SETTINGS_KEY, "DriveSettings", value_type, value)
            self.open_drive_list()
            rows = {letter: self.rows()[self.row_of(letter)] for letter in "CDEF"}
            self.assertEqual({letter for letter, row in rows.items() if row["image"] == 2}, set(ticked), label)
            for letter, alarm in zip("DEF", alarms):
                if alarm is not None:
                    self.assertEqual(rows[letter]["cells"][3], alarm, "%s, %s:" % (label, letter))
            # Close without a change: no question, nothing written.
            self.command(self.dialog, IDC_CLOSE)
            self.assertEqual(self.wait_exit(), 0, label)
            self.assertEqual(env.reg_query(SETTINGS_KEY, "DriveSettings"), (value_type, value), label)

    def test_policy_value_of_the_wrong_type_is_shown_unset_and_kept_until_apply(self):
        env = self.make_env(drives={"d": 16 * MiB})
        for value_type, value in (("REG_SZ", "1"), ("REG_BINARY", b"\x01\x00\x00\x00"), ("REG_QWORD", 1),
                                  ("REG_DWORD", b"\x01\x00")):
            env.reg_add(EXPLORER_POLICY_KEY, "NoLowDiskSpaceChecks", value_type, value, view=64)
            self.open_drive_list()
            self.assertFalse(self.checked(self.dialog, IDC_OSLOWSPACESWITCH), value_type)
            # Apply without a change writes nothing.
            self.apply()
            self.command(self.dialog, IDC_CLOSE)
            self.assertEqual(self.wait_exit(), 0)
            self.assertEqual(self.policy_value(), (value_type, value))
        # A change and Apply replace it with the DWORD the box shows.
        self.open_drive_list()
        self.click(self.dialog, IDC_OSLOWSPACESWITCH)
        self.apply()
        self.command(self.dialog, IDC_CLOSE)
        self.assertEqual(self.wait_exit(), 0)
        self.assertEqual(self.policy_value(), ("REG_DWORD", 1))


if __name__ == "__main__":
    unittest.main()
