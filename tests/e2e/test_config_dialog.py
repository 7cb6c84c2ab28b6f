"""BrimSet's drive list as it opens: which drives, which cells, which columns.

Also home of ConfigTestCase, the helpers the other test_config_* files share.
"""

import re
import shutil
import time
import unittest

from brimharness import (BUILD_DIR, MiB, WineEnv, build_drive_settings, read_records, require_programs,
                         wait_for)

INSTALL_DIR = r"C:\Program Files\Velloran\Brimline"
BRIMSET = INSTALL_DIR + r"\BrimSet.exe"
TITLE = "Velloran Brimline"
THRESHOLD_TITLE = "Modify Notification Threshold"

# Dialog controls.
IDC_DRIVELIST = 1001
IDC_APPLY = 1002
IDC_HELPPAGE = 1003
IDC_ABOUT = 1004
IDC_NOLOWSPACECHECKS = 1009
IDC_MODIFY = 1
IDC_CLOSE = 2
IDC_DRIVENAME, IDC_CAPACITY, IDC_FREESPACE, IDC_ALARMAT, IDC_SETTOFIFTEEN = 1005, 1006, 1007, 1008, 1010

POLICY_KEY = r"HKLM\Software\Microsoft\Windows\CurrentVersion\Policies\Explorer"
SETTINGS_KEY = r"HKLM\Software\Velloran\BrimSet"

VERY_LOW = "Free some disk space. Very low!"
REDUCE = "Reduce setting or free some disk space"
NEAR = "Near to alarm threshold."
DEFRAGMENT = "Free some disk space. There may be insufficient space to defragment the drive properly."
QUESTION = "You've made changes, are you sure you want to exit"
SETTINGS_DENIED = ("You don't have the required permissions to change the threshold settings.\n\n"
                   "However, any settings previously saved by your administrator will be applied.")
POLICY_DENIED = ("You don't have the required permissions to change the operating system's low-disk space "
                 "mechanism.\n\nHowever, any settings previously saved by your administrator will be applied.")


def fifteen_percent(capacity):
    return capacity * 15 // 100


class ConfigTestCase(unittest.TestCase):
    """Starts BrimSet in a fresh prefix and drives its dialogs from outside."""

    proc = None
    dialog = None

    def make_env(self, drives=None, display=True):
        require_programs(self, "BrimSet.exe", "BrimDriver.exe")
        self.env = WineEnv.for_test(self, display=display, drives=drives)
        exe = self.env.install_program("BrimSet.exe", INSTALL_DIR)
        docs = exe.parent / "docs"
        docs.mkdir(exist_ok=True)
        shutil.copy2(BUILD_DIR / "config" / "docs" / "Brimline.html", docs / "Brimline.html")
        self.install_dir = exe.parent
        return self.env

    # -- the program ------------------------------------------------------

    def start_brimset(self, *args, log="brimset.log", debug="-all"):
        self.proc = self.env.start(BRIMSET, *args, log=log, debug=debug)
        return self.proc

    def open_drive_list(self):
        self.start_brimset()
        self.dialog = self.env.find_window("#32770", TITLE, timeout=60)
        self.assertIsNotNone(self.dialog, "the drive list dialog did not appear")
        self.settle(self.dialog)
        return self.dialog

    def settle(self, hwnd, seconds=1.0):
        """Waits until the window's thread has handled what is queued, and
        a little longer for the desktop to paint it."""
        self.env.driver("ping", "0x%x" % hwnd, "10000")
        time.sleep(seconds)

    def screenshot(self, name, hwnd):
        self.settle(hwnd)
        return self.env.screenshot(name)

    def wait_exit(self, timeout=60):
        return self.env.wait_exit(self.proc, timeout)

    def brimset_windows(self):
        """Top-level windows of the running BrimSet process."""
        everything = self.env.windows()
        pids = {w["pid"] for w in everything if w["hwnd"] == self.dialog}
        return [w for w in everything if w["pid"] in pids]

    # -- the drive list ---------------------------------------------------

    def rows(self):
        return self.env.listview(self.dialog, IDC_DRIVELIST)

    def row_letters(self):
        letters = []
        for row in self.rows():
            match = re.search(r"\(([A-Z]):\)", row["cells"][0])
            letters.append(match.group(1) if match else None)
        return letters

    def row_of(self, letter):
        return self.row_letters().index(letter.upper())

    def cells(self, letter):
        return self.rows()[self.row_of(letter)]["cells"]

    def command(self, hwnd, control_id, notify=0):
        """Posts WM_COMMAND as the control would: returns at once, also when
        the command opens a modal window."""
        self.env.driver_ok("command", "0x%x" % hwnd, str(control_id), str(notify))

    def click(self, hwnd, control_id):
        self.env.driver_ok("click", "0x%x" % hwnd, str(control_id))

    def set_check(self, letter, checked):
        self.env.driver_ok("lvcheck", "0x%x" % self.dialog, str(IDC_DRIVELIST), str(self.row_of(letter)),
                           "1" if checked else "0")

    def select(self, letter):
        self.env.driver_ok("lvselect", "0x%x" % self.dialog, str(IDC_DRIVELIST), str(self.row_of(letter)))

    def checked(self, hwnd, control_id):
        return self.env.driver_ok("checked", "0x%x" % hwnd, str(control_id)).strip() == "1"

    def enabled(self, hwnd, control_id):
        return self.env.driver_ok("enabled", "0x%x" % hwnd, str(control_id)).strip() == "1"

    def owner(self, hwnd):
        return int(self.env.driver_ok("owner", "0x%x" % hwnd).strip(), 16)

    def apply(self):
        """Presses Apply; it returns once the Apply has run (no message box)."""
        self.click(self.dialog, IDC_APPLY)

    # -- the threshold dialog ---------------------------------------------

    def open_threshold(self, letter):
        self.select(letter)
        self.command(self.dialog, IDC_MODIFY)
        box = self.env.find_window("#32770", THRESHOLD_TITLE, timeout=30)
        self.assertIsNotNone(box, "the threshold dialog did not open")
        return box

    def close_threshold(self, box, button):
        self.click(box, button)
        self.assertTrue(self.env.driver("waitgone", "0x%x" % box, "10000")[0] == 0, "the threshold dialog stayed")

    def modify(self, letter, text):
        """Modify with `text` typed in the megabyte field and OK."""
        box = self.open_threshold(letter)
        self.env.driver_ok("settext", "0x%x" % box, str(IDC_ALARMAT), text)
        self.close_threshold(box, IDC_MODIFY)

    # -- message boxes ----------------------------------------------------

    def expect_message(self, text, answer="ok", timeout=20.0):
        box = self.env.message_box(timeout)
        self.assertIsNotNone(box, "no message box appeared (expected %r)" % text)
        self.assertEqual(box["text"], text)
        self.assertEqual(box["title"], TITLE)
        self.assertEqual(box["owner"], self.dialog)
        self.assertTrue(self.env.answer_message_box(answer, owner=self.dialog), "the message box stayed")
        return box

    def expect_no_message(self, timeout=3.0):
        box = self.env.message_box(timeout)
        self.assertIsNone(box, "unexpected message box: %r" % (box,))

    # -- the settings-changed event ---------------------------------------

    def start_waiter(self, event="settings", log="waiter.log"):
        """A driver waiting on a named event; returns (proc, log path) once it
        is inside its wait."""
        path = self.env.logs_dir / log
        proc = self.env.start(BUILD_DIR / "tests" / "driver" / "BrimDriver.exe", "wait", event, "60000", log=log)
        self.assertTrue(wait_for(lambda: path.exists() and "waiting" in path.read_text(errors="replace"), 60, 0.1),
                        "the event waiter did not start")
        time.sleep(0.5)  # from printing "waiting" into the wait itself
        return proc, path

    def assert_signalled(self, waiter, timeout=30):
        proc, path = waiter
        code = self.env.wait_exit(proc, timeout)
        self.assertEqual(code, 0, "the event was not pulsed: " + path.read_text(errors="replace"))
        self.assertIn("signalled", path.read_text(errors="replace"))

    # -- registry ---------------------------------------------------------

    def policy_value(self, view=64):
        return self.env.reg_query(POLICY_KEY, "NoLowDiskSpaceChecks", view=view)

    def drive_capacity(self, letter):
        out = self.env.driver_ok("freespace", letter.upper() + ":")
        return int(re.search(r"total=(\d+)", out).group(1))


class DriveListTest(ConfigTestCase):

    def test_lists_fixed_drives_with_sizes_thresholds_and_recommendations(self):
        env = self.make_env(drives={"d": 16 * MiB, "e": 32 * MiB, "f": 16 * MiB, "g": 16 * MiB, "h": 16 * MiB,
                                    "i": 16 * MiB})
        env.set_drive_type("f", "cdrom")
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

        self.assertFalse(self.checked(self.dialog, IDC_NOLOWSPACECHECKS))
        self.assertTrue(self.enabled(self.dialog, IDC_NOLOWSPACECHECKS))

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
