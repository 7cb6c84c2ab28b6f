"""BrimSet's About box and its links, and the Help button."""

import re
import subprocess
import unittest

from brimharness import MiB, decode_wine_string, read_records, wait_for
from brimcases import (COMPANY, ConfigTestCase, IDC_ABOUT, IDC_CLOSE, IDC_COPYRIGHT, IDC_EMAILLINK,
                       IDC_FILEDESCRIPTION, IDC_FILEVERSION, IDC_HELPPAGE, IDC_UPDATELINK, IDC_WEBLINK, IDM_ABOUT,
                       INSTALL_DIR, PACKED_VERSION, TITLE, VERSION, WM_COMMAND, version_macro)

IDOK, IDCANCEL = 1, 2
STN_CLICKED, STN_DBLCLK = 0, 1
RECORDERS = r"C:\brim-recorders"


def pure_blue_pixels(image):
    out = subprocess.run(["convert", str(image), "-fill", "black", "+opaque", "#0000FF", "-fill", "white",
                          "-opaque", "#0000FF", "-format", "%[fx:round(mean*w*h)]", "info:"],
                         check=True, capture_output=True, text=True, timeout=60)
    return int(out.stdout.strip())


class AboutTest(ConfigTestCase):

    def open_with(self, scheme_key, name):
        """Makes `scheme_key` (under HKCR) open with a recorder; returns its log."""
        log = self.env.make_recorder(RECORDERS + "\\" + name + ".exe")
        command = '"%s\\%s.exe" "%%1"' % (RECORDERS, name)
        self.env.reg_add("HKCR\\" + scheme_key + r"\shell\open\command", None, "REG_SZ", command, view=64)
        return log

    def wait_records(self, log, count):
        records = wait_for(lambda: len(read_records(log)) >= count and read_records(log), 30, 0.2)
        self.assertEqual(len(records or []), count, "records: %r" % (records,))
        return records

    def open_about(self, source, lparam=None):
        if lparam is None:
            self.command(source, IDC_ABOUT)
        else:
            self.env.driver_ok("post", "0x%x" % source, str(WM_COMMAND), str(IDM_ABOUT), str(lparam))
        about = self.env.find_window("#32770", "About", timeout=30)
        self.assertIsNotNone(about, "the About box did not open")
        return about

    def test_about_box_links_and_help(self):
        env = self.make_env(drives={"d": 16 * MiB})
        updater = env.make_recorder(INSTALL_DIR + r"\VelloranUpdater.exe")
        mail = self.open_with("mailto", "mail")
        web = self.open_with("https", "web")
        env.reg_add(r"HKCR\.html", None, "REG_SZ", "htmlfile", view=64)
        help_page = self.open_with("htmlfile", "help")
        copyright_text = dict(line.split("\t", 1) for line in
                              env.driver_ok("version", INSTALL_DIR + r"\BrimSet.exe").splitlines())["LegalCopyright"]

        # Every program start of BrimSet itself is traced.
        self.open_drive_list(debug="-all,trace+exec")
        before = pure_blue_pixels(self.screenshot("config-drive-list-before-about.png", self.dialog))

        # From the drive list's button: owned by the drive list.
        about = self.open_about(self.dialog)
        self.assertEqual(self.owner(about), self.dialog)
        self.assertEqual(env.get_text(about, IDC_FILEDESCRIPTION), "Brimline Configuration")
        self.assertEqual(env.get_text(about, IDC_FILEVERSION), VERSION)
        self.assertEqual(env.get_text(about, IDC_COPYRIGHT), copyright_text)
        self.assertIn(COMPANY, copyright_text)
        shot = self.screenshot("config-about.png", about)
        # The three links are drawn in pure blue; nothing else on screen is.
        self.assertEqual(before, 0)
        self.assertGreater(pure_blue_pixels(shot), 50)

        # The update link starts the updater beside the program, once per
        # click: a double click's second click is ignored.
        self.command(about, IDC_UPDATELINK, STN_CLICKED)
        self.assertEqual(self.wait_records(updater, 1), ["BrimSet.exe 0 %d 0" % PACKED_VERSION])
        self.command(about, IDC_UPDATELINK, STN_DBLCLK)
        self.settle(about, 2.0)
        self.assertEqual(len(read_records(updater)), 1)

        # The mail link carries the program and its version as the subject.
        self.command(about, IDC_EMAILLINK, STN_CLICKED)
        self.assertEqual(self.wait_records(mail, 1),
                         ["mailto:%s?subject=BrimSet V%s" % (version_macro("BRIM_SUPPORT_EMAIL"), VERSION)])
        self.command(about, IDC_WEBLINK, STN_CLICKED)
        self.assertEqual(self.wait_records(web, 1), [version_macro("BRIM_WEB_SITE_URL")])
        self.command(about, IDC_WEBLINK, STN_DBLCLK)
        self.command(about, IDC_EMAILLINK, STN_DBLCLK)
        self.settle(about, 2.0)
        self.assertEqual((len(read_records(mail)), len(read_records(web))), (1, 1))

        self.click(about, IDOK)
        self.assertEqual(env.driver("waitgone", "0x%x" % about, "10000")[0], 0)

        # From the frame's own command (no window in lParam): owned by the
        # hidden frame. Opened again, it reads everything afresh.
        frame = env.find_window("VELLORAN_BRIMSET", TITLE, timeout=5)
        about = self.open_about(frame, lparam=0)
        self.assertEqual(self.owner(about), frame)
        self.assertEqual(env.get_text(about, IDC_FILEVERSION), VERSION)
        self.command(about, IDCANCEL)
        self.assertEqual(env.driver("waitgone", "0x%x" % about, "10000")[0], 0)

        # Help opens the page beside the program.
        self.command(self.dialog, IDC_HELPPAGE)
        self.assertEqual(self.wait_records(help_page, 1), [INSTALL_DIR + r"\docs\Brimline.html"])

        # The elevated program started nothing itself: the updater, the page
        # and the links went to the desktop's shell, which runs as the user.
        started = re.findall(r"SHELL_execute .*? file=(L\".*?\") parm=", (env.logs_dir / "brimset.log").read_text(
            errors="replace"))
        self.assertEqual([decode_wine_string(f) for f in started], [])

        self.command(self.dialog, IDC_CLOSE)
        self.assertEqual(self.wait_exit(), 0)


if __name__ == "__main__":
    unittest.main()
