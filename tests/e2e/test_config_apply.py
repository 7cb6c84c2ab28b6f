"""BrimSet's edits: ticking drives, thresholds in megabytes, Apply, Close."""

import unittest

from brimharness import MiB, build_drive_settings, parse_drive_settings
from brimcases import (ConfigTestCase, DEFRAGMENT, IDC_ALARMAT, IDC_CAPACITY, IDC_CLOSE, IDC_DRIVELIST,
                       IDC_DRIVENAME, IDC_FREESPACE, IDC_MODIFY, IDC_OSLOWSPACESWITCH, IDC_SETTOFIFTEEN, EXPLORER_POLICY_KEY,
                       QUESTION, REDUCE, SETTINGS_KEY, THRESHOLD_TITLE, fifteen_percent)


CANCEL = 2


class ApplyTest(ConfigTestCase):

    def test_apply_writes_the_whole_table_the_policy_value_and_pulses(self):
        env = self.make_env(drives={"d": 16 * MiB, "e": 16 * MiB})
        env.set_drive_settings({"e": (1, 3 * MiB), "q": (1, 123456789), "a": (2, 42)})
        self.open_drive_list()
        capacity_c = self.drive_capacity("c")

        self.set_check("d", True)
        self.set_check("e", False)
        self.modify("d", "5")
        self.assertEqual(self.cells("d")[3], "5.00 MB")
        self.click(self.dialog, IDC_OSLOWSPACESWITCH)
        self.assertTrue(self.checked(self.dialog, IDC_OSLOWSPACESWITCH))

        waiter = self.start_waiter()
        self.apply()
        self.assert_signalled(waiter)

        # All 26 records: the edits, the 15 % default that C: got when it
        # was listed, and the records of drives not listed, as loaded.
        expected = build_drive_settings({
            "a": (2, 42), "c": (0, fifteen_percent(capacity_c)), "d": (1, 5 * MiB), "e": (0, 3 * MiB),
            "q": (1, 123456789)})
        self.assertEqual(env.drive_settings(), expected)
        self.assertEqual(len(expected), 234)
        self.assertEqual(self.policy_value(), ("REG_DWORD", 1))

        # Apply without changes writes nothing, and still pulses.
        env.set_drive_settings({"d": (1, 1)})
        env.reg_add(EXPLORER_POLICY_KEY, "NoLowDiskSpaceChecks", "REG_DWORD", 7, view=64)
        waiter = self.start_waiter(log="waiter2.log")
        self.apply()
        self.assert_signalled(waiter)
        self.assertEqual(env.drive_settings(), build_drive_settings({"d": (1, 1)}))
        self.assertEqual(self.policy_value(), ("REG_DWORD", 7))

        # Unticking the switch writes 0; the value is never deleted.
        self.click(self.dialog, IDC_OSLOWSPACESWITCH)
        self.apply()
        self.assertEqual(self.policy_value(), ("REG_DWORD", 0))
        self.assertEqual(env.drive_settings(), expected)

        self.command(self.dialog, IDC_CLOSE)
        self.assertEqual(self.wait_exit(), 0)

    def test_policy_value_lives_in_the_native_registry_view(self):
        env = self.make_env(drives={"d": 16 * MiB})
        # Wine shares this key between the two views, as current Windows
        # does; earlier 64-bit Windows kept a separate 32-bit copy. Split it
        # so that a write in the wrong view would show.
        self.assertIn(env.driver_ok("unlinkkey", r"Software\Wow6432Node\Microsoft\Windows\CurrentVersion\Policies")
                       .strip(), ("unlinked", "absent"))
        env.reg_add(EXPLORER_POLICY_KEY, "NoLowDiskSpaceChecks", "REG_DWORD", 1, view=32)
        self.assertIsNone(self.policy_value(64))

        # Only the 32-bit copy says 1: the check box follows the native view.
        self.open_drive_list()
        self.assertFalse(self.checked(self.dialog, IDC_OSLOWSPACESWITCH))
        self.click(self.dialog, IDC_OSLOWSPACESWITCH)
        self.apply()
        self.assertEqual(self.policy_value(64), ("REG_DWORD", 1))
        self.assertEqual(self.policy_value(32), ("REG_DWORD", 1))
        # The drive settings stay in the 32-bit view.
        self.assertIsNotNone(env.reg_query(SETTINGS_KEY, "DriveSettings", view=32))
        self.assertIsNone(env.reg_query(SETTINGS_KEY, "DriveSettings", view=64))
        self.command(self.dialog, IDC_CLOSE)
        self.assertEqual(self.wait_exit(), 0)

        # No native value, 32-bit 1: opens unchecked; two clicks (back to
        # unchecked) still count as a change and write the native view only.
        env.reg_delete_value(EXPLORER_POLICY_KEY, "NoLowDiskSpaceChecks", view=64)
        self.open_drive_list()
        self.assertFalse(self.checked(self.dialog, IDC_OSLOWSPACESWITCH))
        self.click(self.dialog, IDC_OSLOWSPACESWITCH)
        self.click(self.dialog, IDC_OSLOWSPACESWITCH)
        self.apply()
        self.assertEqual(self.policy_value(64), ("REG_DWORD", 0))
        self.assertEqual(self.policy_value(32), ("REG_DWORD", 1))
        self.command(self.dialog, IDC_CLOSE)
        self.assertEqual(self.wait_exit(), 0)

        # Native 1: opens checked.
        env.reg_add(EXPLORER_POLICY_KEY, "NoLowDiskSpaceChecks", "REG_DWORD", 1, view=64)
        env.reg_add(EXPLORER_POLICY_KEY, "NoLowDiskSpaceChecks", "REG_DWORD", 0, view=32)
        self.open_drive_list()
        self.assertTrue(self.checked(self.dialog, IDC_OSLOWSPACESWITCH))
        self.command(self.dialog, IDC_CLOSE)
        self.assertEqual(self.wait_exit(), 0)


class ThresholdTest(ConfigTestCase):

    def test_threshold_dialog_in_megabytes(self):
        env = self.make_env(drives={"d": 16 * MiB})
        env.fill_drive("d", 12 * MiB)
        env.set_drive_settings({"d": (1, 5000000)})
        self.open_drive_list()
        self.assertEqual(self.cells("d")[3], "4.76 MB")

        box = self.open_threshold("d")
        self.assertEqual(self.owner(box), self.dialog)
        self.screenshot("config-threshold.png", box)
        self.assertEqual(env.get_text(box, IDC_DRIVENAME), self.cells("d")[0])
        self.assertEqual(env.get_text(box, IDC_CAPACITY), "16.0 MB")
        self.assertEqual(env.get_text(box, IDC_FREESPACE), "12.0 MB")
        self.assertEqual(env.get_text(box, IDC_ALARMAT), "4")  # 5,000,000 bytes

        # Set to 15% shows 2 MB at once; Cancel undoes it: the row, the
        # settings and the dialog opened again all keep the old value.
        self.click(box, IDC_SETTOFIFTEEN)
        self.assertEqual(env.get_text(box, IDC_ALARMAT), "2")
        self.close_threshold(box, CANCEL)
        self.assertEqual(self.cells("d")[3], "4.76 MB")
        box = self.open_threshold("d")
        self.assertEqual(env.get_text(box, IDC_ALARMAT), "4")
        self.close_threshold(box, CANCEL)

        # An empty field, or a number beyond 32 bits, is 0 bytes, which the
        # row turns into 15 % of the capacity, to the byte.
        for text in ("", "4294967296"):
            self.modify("d", text)
            self.assertEqual(self.cells("d")[3], "2.39 MB", text)
        self.command(self.dialog, IDC_MODIFY)
        box = env.find_window("#32770", THRESHOLD_TITLE, timeout=30)
        self.assertEqual(env.get_text(box, IDC_ALARMAT), "2")  # 2,516,582 bytes
        self.close_threshold(box, CANCEL)
        self.apply()
        self.assertEqual(parse_drive_settings(env.drive_settings())["D"], (1, fifteen_percent(16 * MiB)))

        # The largest number: megabytes times 1,048,576 in 64 bits.
        self.modify("d", "4294967295")
        self.assertEqual(self.cells("d")[4], REDUCE)
        self.apply()
        self.assertEqual(parse_drive_settings(env.drive_settings())["D"], (1, 4294967295 * MiB))

        # Set to 15% and OK stores whole megabytes, not the exact 15 %.
        box = self.open_threshold("d")
        self.click(box, IDC_SETTOFIFTEEN)
        self.close_threshold(box, IDC_MODIFY)
        self.assertEqual(self.cells("d")[3], "2.00 MB")
        self.apply()
        self.assertEqual(parse_drive_settings(env.drive_settings())["D"], (1, 2 * MiB))

        # OK without a change still counts as a change.
        box = self.open_threshold("d")
        self.close_threshold(box, IDC_MODIFY)
        self.command(self.dialog, IDC_CLOSE)
        self.expect_message(QUESTION, answer="yes")
        self.assertEqual(self.wait_exit(), 0)


    def test_drive_that_cannot_be_measured_keeps_its_last_sizes(self):
        env = self.make_env(drives={"d": 16 * MiB})
        env.fill_drive("d", 1 * MiB)
        env.set_drive_settings({"d": (1, 2 * MiB)})
        self.open_drive_list()
        before = self.cells("d")
        self.assertEqual(before[1:], ["16.0 MB", "1.00 MB", "2.00 MB", DEFRAGMENT])

        # The drive goes away while the dialog is open: a threshold of 0
        # still becomes 15 % of the capacity last measured, and the sizes
        # and the advice stay as they were.
        env.remove_drive("d")
        self.modify("d", "0")
        self.assertEqual(self.cells("d"), before[:3] + ["2.39 MB", before[4]])
        self.modify("d", "7")
        self.assertEqual(self.cells("d"), before[:3] + ["7.00 MB", before[4]])
        self.apply()
        self.assertEqual(parse_drive_settings(env.drive_settings())["D"], (1, 7 * MiB))
        env.restore_drive("d")
        self.command(self.dialog, IDC_CLOSE)
        self.assertEqual(self.wait_exit(), 0)


class CloseTest(ConfigTestCase):

    def test_close_asks_before_discarding_changes(self):
        env = self.make_env(drives={"d": 16 * MiB})
        self.open_drive_list()
        self.set_check("d", True)

        # No: the dialog stays, with the edit.
        self.command(self.dialog, IDC_CLOSE)
        box = self.expect_message(QUESTION, answer="no")
        self.assertEqual([b[0] for b in box["buttons"]], [6, 7])  # Yes, No
        self.assertIsNotNone(env.find_window("#32770", "Velloran Brimline", timeout=5))
        self.assertEqual(self.rows()[self.row_of("d")]["image"], 2)

        # A double click on a row opens the threshold dialog; with no row
        # selected it does nothing.
        env.driver_ok("lvdblclick", "0x%x" % self.dialog, str(IDC_DRIVELIST), str(self.row_of("d")))
        box = env.find_window("#32770", THRESHOLD_TITLE, timeout=30)
        self.assertIsNotNone(box)
        self.close_threshold(box, CANCEL)
        env.driver_ok("lvselect", "0x%x" % self.dialog, str(IDC_DRIVELIST), "-1")
        env.driver_ok("lvdblclick", "0x%x" % self.dialog, str(IDC_DRIVELIST), "-1")
        self.settle(self.dialog)
        self.assertIsNone(env.find_window("#32770", THRESHOLD_TITLE, timeout=2))

        # Yes: the program ends with 0 and writes nothing.
        self.command(self.dialog, IDC_CLOSE)
        self.expect_message(QUESTION, answer="yes")
        self.assertEqual(self.wait_exit(), 0)
        self.assertIsNone(env.drive_settings())
        self.assertIsNone(self.policy_value())


if __name__ == "__main__":
    unittest.main()
