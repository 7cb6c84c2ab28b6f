"""BrimSet's Help button opens the help page in the user's interface language."""

import shutil
import unittest

from brimharness import BUILD_DIR, MiB, read_records, wait_for
from brimcases import BRIMSET_EXE, ConfigTestCase, IDC_CLOSE, IDC_HELPPAGE, INSTALL_DIR, TITLE

HELP_RECORDER = r"C:\brim-recorders\help.exe"


class HelpLanguageTest(ConfigTestCase):

    def open_help_as(self, locale, page_log, count):
        """Starts BrimSet with Wine's user-interface language taken from
        `locale`, presses Help, and returns the page the shell was asked to
        open."""
        self.proc = self.env.start(BRIMSET_EXE, log="brimset-%s.log" % locale, env={"LC_ALL": locale})
        self.dialog = self.env.find_window("#32770", TITLE, timeout=60)
        self.assertIsNotNone(self.dialog, "the drive list did not appear with LC_ALL=%s" % locale)
        self.settle(self.dialog)
        self.command(self.dialog, IDC_HELPPAGE)
        records = wait_for(lambda: len(read_records(page_log)) >= count and read_records(page_log), 30, 0.2)
        self.assertEqual(len(records or []), count, "records: %r" % (records,))
        self.command(self.dialog, IDC_CLOSE)
        self.assertEqual(self.wait_exit(), 0)
        return records[-1]

    def test_help_page_follows_the_language_and_falls_back_to_english(self):
        env = self.make_env(drives={"d": 16 * MiB})
        # The German page beside the English one, and no Japanese page.
        shutil.copy2(BUILD_DIR / "config" / "docs" / "Brimline.de.html", self.install_dir / "docs" / "Brimline.de.html")
        page_log = env.make_recorder(HELP_RECORDER)
        env.reg_add(r"HKCR\.html", None, "REG_SZ", "htmlfile", view=64)
        env.reg_add(r"HKCR\htmlfile\shell\open\command", None, "REG_SZ", '"%s" "%%1"' % HELP_RECORDER, view=64)

        docs = INSTALL_DIR + "\\docs\\"
        self.assertEqual(self.open_help_as("de_DE.UTF-8", page_log, 1), docs + "Brimline.de.html")
        self.assertEqual(self.open_help_as("fi_FI.UTF-8", page_log, 2), docs + "Brimline.html")
        # A language with a page of its own that is not installed.
        self.assertEqual(self.open_help_as("ja_JP.UTF-8", page_log, 3), docs + "Brimline.html")


if __name__ == "__main__":
    unittest.main()
