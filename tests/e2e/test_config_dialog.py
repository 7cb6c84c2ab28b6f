"""BrimSet's drive list as it opens: which drives, which cells, which columns.
"""

import unittest

from brimharness import MiB
from brimcases import (ConfigTestCase, DEFRAGMENT, IDC_CLOSE, IDC_DRIVELIST, IDC_OSLOWSPACESWITCH, NEAR, REDUCE,
                       TITLE, VERY_LOW)


class DriveListTest(ConfigTestCase):

    def test_lists_fixed_drives_with_sizes_thresholds_and_recommendations(self):
        env = self.make_env(drives={"d": 16 * MiB, "e": 32 * MiB, "f": 16 * MiB, "g": 16 * MiB, "h": 16 * MiB,
                                    "i": 16 * MiB})
        env.set_drive_types({"f": "cdrom"})
        env.fill_drive("h", 1536 * 1024)   # below 15 % of 16 MB free
        env.fill_drive("i", 512 * 1024)    # below 1 MB free
        stored = env.set_drive_settings({
            "e": (1, 31 * MiB),            # 1 MB under the free space
            "f": (1, 777),                 # not a fixed drive: kept as it is
            "g": (0, 20 * MiB),            # above the free space, plenty free
            "h": (0, 2 * MiB),             # above the free space, little free
            "i": (0, 1),
            "q": (1, 123456789),           # no such drive: kept as it is
        })

        self.open_drive_list()
        self.screenshot("config-drive-list.png", self.dialog)

        # Only the dialog shows; the frame stays hidden.
        visible = [w for w in self.brimset_windows() if w["visible"]]
        self.assertEqual([(w["class"], w["title"]) for w in visible], [("#32770", TITLE)])
        frames = [w for w in self.brimset_windows() if w["class"] == "VELLORAN_BRIMSET"]
        self.assertEqual(len(frames), 1)
        self.assertEqual(frames[0]["title"], TITLE)

        # The fixed drives in letter order: no cdrom f:, no z:.
        self.assertEqual(self.row_letters(), ["C", "D", "E", "G", "H", "I"])
        rows = self.rows()
        self.assertTrue(rows[0]["selected"])
        self.assertEqual([r["image"] for r in rows], [1, 1, 2, 1, 1, 1])

        # A drive without threshold shows 15 % of its capacity.
        self.assertEqual(self.cells("d")[1:], ["16.0 MB", "16.0 MB", "2.39 MB", ""])
        self.assertEqual(self.cells("e")[1:], ["32.0 MB", "32.0 MB", "31.0 MB", NEAR])
        self.assertEqual(self.cells("g")[1:], ["16.0 MB", "16.0 MB", "20.0 MB", REDUCE])
        self.assertEqual(self.cells("h")[1:4], ["16.0 MB", "1.50 MB", "2.00 MB"])
        self.assertEqual(self.cells("h")[4], DEFRAGMENT)
        self.assertEqual(self.cells("i")[2], "512 KB")
        self.assertEqual(self.cells("i")[4], VERY_LOW)

        self.assertFalse(self.checked(self.dialog, IDC_OSLOWSPACESWITCH))
        self.assertTrue(self.enabled(self.dialog, IDC_OSLOWSPACESWITCH))

        # Opening writes nothing, and without changes Close asks nothing.
        self.assertEqual(env.drive_settings(), stored)
        self.command(self.dialog, IDC_CLOSE)
        self.assertEqual(self.wait_exit(), 0)
        self.assertEqual(env.drive_settings(), stored)

    def test_columns_are_factors_of_the_letter_width_and_fill_the_list(self):
        env = self.make_env(drives={"d": 16 * MiB})
        self.open_drive_list()

        columns = [line.split("\t") for line in
                   env.driver_ok("lvcolumns", "0x%x" % self.dialog, str(IDC_DRIVELIST)).splitlines()]
        self.assertEqual([(c[2], c[3]) for c in columns],
                         [("left", "Drive"), ("right", "Capacity"), ("right", "Free Space"), ("right", "Alarm at"),
                          ("left", "Recommendation")])
        measured = dict(line.split("\t") for line in
                        env.driver_ok("charwidth", "0x%x" % self.dialog, str(IDC_DRIVELIST)).splitlines())
        average = int(measured["average"])
        self.assertGreater(average, 0)
        widths = [int(c[1]) for c in columns]
        self.assertEqual(widths[:4], [15 * average, 9 * average, 10 * average, 9 * average])
        # The last column reaches the list's right edge.
        self.assertEqual(sum(widths), int(measured["client"]))

        self.command(self.dialog, IDC_CLOSE)
        self.assertEqual(self.wait_exit(), 0)


if __name__ == "__main__":
    unittest.main()
