"""VelloranUpdater against an update feed served on 127.0.0.1 and named by
the administrator's policy: what each origin shows for a later version, the
same version and each kind of failure, the policy that switches checks off,
one updater at a time, and the About box's link starting the real updater.
"""

import socket
import subprocess
import sys
import unittest

from brimharness import WineEnv, read_records, require_programs, wait_for
from brimcases import (ConfigTestCase, IDC_ABOUT, IDC_CLOSE, IDC_MESSAGE, IDC_UPDATELINK, INSTALL_DIR,
                       PACKED_VERSION, UPDATE_POLICY_KEY, UPDATE_TITLE, VERSION, VERSION_NUMBERS, updater_text)

UPDATER_EXE = INSTALL_DIR + r"\VelloranUpdater.exe"
INSTALLED = VERSION
LATER = "%d.0.0.0" % (VERSION_NUMBERS[0] + 1)
PAGE = "https://www.velloran.example/brimline/download"
RECORDERS = r"C:\brim-recorders"
IDOK, IDCANCEL = 1, 2
SCHEDULE, USER = "1", "0"


def free_port():
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


class FeedServer:
    """python3 -m http.server over a folder of feed files, on a free
    loopback port; its log lists the requests that reached it."""

    def __init__(self, env):
        self.folder = env.root / "feeds"
        self.folder.mkdir()
        self.port = free_port()
        self._log = env.logs_dir / "feed-server.log"
        with open(self._log, "ab") as log:
            self._proc = subprocess.Popen([sys.executable, "-u", "-m", "http.server", str(self.port), "--bind",
                                           "127.0.0.1", "--directory", str(self.folder)],
                                          stdin=subprocess.DEVNULL, stdout=log, stderr=log)
        if not wait_for(lambda: "Serving HTTP" in self._log.read_text(), 30, 0.1):
            raise RuntimeError("the feed server did not start; see %s" % self._log)

    def url(self, name):
        return "http://127.0.0.1:%d/%s" % (self.port, name)

    def put(self, name, text):
        (self.folder / name).write_bytes(text.encode("utf-8"))
        return self.url(name)

    def requests(self):
        """The paths requested so far, in order."""
        return [line.split('"')[1].split()[1] for line in self._log.read_text().splitlines() if '"GET ' in line]

    def stop(self):
        if self._proc.poll() is None:
            self._proc.terminate()
            self._proc.wait(10)


def feed(version, page=PAGE):
    return "Version=%s\r\nPage=%s\r\n" % (version, page)


class UpdaterTestCase(unittest.TestCase):
    """A prefix with the updater installed, a feed server, and the policy
    that points the updater at it."""

    def make_env(self):
        require_programs(self, "VelloranUpdater.exe", "BrimDriver.exe")
        self.env = WineEnv.for_test(self)
        self.env.install_program("VelloranUpdater.exe", INSTALL_DIR)
        self.start_server()
        return self.env

    def start_server(self):
        self.server = FeedServer(self.env)
        self.addCleanup(self.server.stop)
        self.later = self.server.put("later.txt", feed(LATER))
        self.same = self.server.put("same.txt", feed(INSTALLED))
        self.malformed = self.server.put("malformed.txt", "<html>Moved</html>\n")

    def point_feed_at(self, url):
        self.env.reg_add(UPDATE_POLICY_KEY, "UpdateFeedUrl", "REG_SZ", url, view=64)

    def start_updater(self, origin, caller="BrimWatch.exe", version=PACKED_VERSION, args=None):
        """Starts the updater as the launcher does (or with `args`)."""
        args = [caller, "0", str(version), origin] if args is None else args
        return self.env.start(UPDATER_EXE, *args, log="updater.log")

    def wait_message(self, proc=None):
        """The updater's window once its check has ended, and its message."""
        window = self.env.find_window("#32770", UPDATE_TITLE, timeout=30)
        self.assertIsNotNone(window, "no updater window (exit %s)" % (proc and proc.poll()))
        checking = updater_text("IDS_CHECKING")
        message = wait_for(lambda: (self.env.get_text(window, IDC_MESSAGE) or checking) != checking
                           and self.env.get_text(window, IDC_MESSAGE), 30, 0.2)
        self.assertTrue(message, "the check did not end")
        return window, message

    def offers_page(self, window):
        return [c["visible"] for c in self.env.controls(window) if c["id"] == IDOK] == [True]

    def close(self, proc, window, button=IDCANCEL):
        self.env.driver_ok("click", "0x%x" % window, str(button))
        self.assertEqual(self.env.wait_exit(proc, 30), 0)

    def assert_silent(self, proc):
        """Ended with 0 without anyone answering a window: the window is
        modal, so a program that showed one would still be running."""
        self.assertEqual(self.env.wait_exit(proc, 30), 0)

    def record_browser(self):
        """Makes https addresses open with a recorder; returns its log."""
        log = self.env.make_recorder(RECORDERS + r"\browser.exe")
        self.env.reg_add(r"HKCR\https\shell\open\command", None, "REG_SZ",
                         '"%s\\browser.exe" "%%1"' % RECORDERS, view=64)
        return log


class UpdaterFeedTest(UpdaterTestCase):

    def test_schedule_shows_only_a_later_version(self):
        self.make_env()
        browser = self.record_browser()

        self.point_feed_at(self.later)
        proc = self.start_updater(SCHEDULE)
        window, message = self.wait_message(proc)
        self.assertEqual(message, updater_text("IDS_OFFER", LATER, INSTALLED))
        self.assertTrue(self.offers_page(window))
        # Open Download Page: the feed's page in the browser, and the end.
        self.close(proc, window, IDOK)
        self.assertEqual(wait_for(lambda: read_records(browser), 30), [PAGE])

        for url in (self.same, self.server.url("missing.txt"), self.malformed):
            with self.subTest(url=url):
                self.point_feed_at(url)
                before = len(self.server.requests())
                self.assert_silent(self.start_updater(SCHEDULE))
                self.assertEqual(len(self.server.requests()), before + 1, "the feed was not asked")

        # Nobody listening.
        self.point_feed_at("http://127.0.0.1:%d/later.txt" % free_port())
        self.assert_silent(self.start_updater(SCHEDULE))

    def test_user_always_gets_one_window(self):
        self.make_env()
        cases = [
            (self.later, updater_text("IDS_OFFER", LATER, INSTALLED), True),
            (self.same, updater_text("IDS_LATEST", INSTALLED), False),
            (self.server.url("missing.txt"), updater_text("IDS_FAILED_STATUS", 404), False),
            (self.malformed, updater_text("IDS_FAILED_MALFORMED"), False),
        ]
        for url, expected, offer in cases:
            with self.subTest(url=url):
                self.point_feed_at(url)
                proc = self.start_updater(USER, caller="BrimSet.exe")
                window, message = self.wait_message(proc)
                self.assertEqual(message, expected)
                self.assertEqual(self.offers_page(window), offer)
                self.close(proc, window)

        # A command line that says nothing usable: the user asked, and the
        # installed version is not known.
        self.point_feed_at(self.later)
        proc = self.start_updater(USER, args=["garbage"])
        window, message = self.wait_message(proc)
        self.assertEqual(message, updater_text("IDS_OFFER_UNKNOWN", LATER))
        self.close(proc, window)

        # The server stopped: the system's words for the failure.
        self.server.stop()
        proc = self.start_updater(USER)
        window, message = self.wait_message(proc)
        prefix = updater_text("IDS_FAILED_SYSTEM", "")
        self.assertTrue(message.startswith(prefix) and len(message) > len(prefix), message)
        self.close(proc, window)


class UpdaterPolicyTest(UpdaterTestCase):

    def test_switched_off_and_one_at_a_time(self):
        env = self.make_env()
        self.point_feed_at(self.later)

        # One updater at a time: a second start while one is open ends at once.
        first = self.start_updater(USER)
        window, _ = self.wait_message(first)
        self.assertEqual(env.wait_exit(self.start_updater(USER), 30), 0)
        self.assertEqual(env.wait_exit(self.start_updater(SCHEDULE), 30), 0)
        self.assertEqual([w["hwnd"] for w in env.windows() if w["title"] == UPDATE_TITLE], [window])
        self.close(first, window)
        self.assertEqual(len(self.server.requests()), 1)

        # UpdateCheck = 0: no request at all; the schedule says nothing, the
        # user learns why.
        env.reg_add(UPDATE_POLICY_KEY, "UpdateCheck", "REG_DWORD", 0, view=64)
        self.assert_silent(self.start_updater(SCHEDULE))
        proc = self.start_updater(USER)
        window = env.find_window("#32770", UPDATE_TITLE, timeout=30)
        self.assertIsNotNone(window)
        self.assertEqual(env.get_text(window, IDC_MESSAGE), updater_text("IDS_MANAGED"))
        self.assertFalse(self.offers_page(window))
        self.close(proc, window)
        self.assertEqual(len(self.server.requests()), 1, "a request reached the feed with checks switched off")


class UpdaterAboutLinkTest(ConfigTestCase, UpdaterTestCase):
    """BrimSet's "Check for Updates" starts the real updater beside it."""

    def test_about_box_link_starts_the_updater(self):
        env = self.make_env_with_updater()
        self.open_drive_list()
        self.command(self.dialog, IDC_ABOUT)
        about = env.find_window("#32770", "About", timeout=30)
        self.assertIsNotNone(about, "the About box did not open")
        self.command(about, IDC_UPDATELINK)

        window, message = self.wait_message()
        self.assertEqual(message, updater_text("IDS_OFFER", LATER, INSTALLED))
        self.assertEqual(self.server.requests(), ["/later.txt"])
        env.driver_ok("click", "0x%x" % window, str(IDCANCEL))
        self.assertEqual(env.driver("waitgone", "0x%x" % window, "10000")[0], 0)

        self.command(about, IDCANCEL)
        self.command(self.dialog, IDC_CLOSE)
        self.assertEqual(self.wait_exit(), 0)

    def make_env_with_updater(self):
        require_programs(self, "VelloranUpdater.exe")
        env = self.make_env()
        env.install_program("VelloranUpdater.exe", INSTALL_DIR)
        self.start_server()
        self.point_feed_at(self.later)
        return env


if __name__ == "__main__":
    unittest.main()
