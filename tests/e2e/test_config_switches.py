"""BrimSet's close switch: /u and its kin ask every monitor to close and end
without a window or a settings read; other arguments start it normally."""

import re
import unittest

from brimharness import MiB
from brimcases import ConfigTestCase, IDC_CLOSE, TITLE

# Registry reads and window creations of the program, as Wine traces them.
TRACE = "-all,trace+reg,trace+win"
SETTINGS_KEY_OPEN = re.compile(r'Nt(?:Open|Create)Key(?:Ex)? \([^,]*,L"[^"]*Velloran')
WINDOW_OF_CLASS = re.compile(r'WIN_CreateWindowEx .*?(L"VELLORAN_BRIMSET"|#8002) ex=')


class CloseSwitchTest(ConfigTestCase):

    def run_traced(self, *args, log):
        self.start_brimset(*args, log=log, debug=TRACE)
        code = self.wait_exit(60)
        return code, (self.env.logs_dir / log).read_text(errors="replace")

    def test_close_switch_pulses_the_close_event_and_ends_at_once(self):
        self.make_env(display=True)
        for number, args in enumerate((["/u"], ["-Uninstall"], ["/x", "/U"])):
            with self.subTest(args=args):
                waiter = self.start_waiter("close", log="close-waiter%d.log" % number)
                code, trace = self.run_traced(*args, log="switch%d.log" % number)
                self.assertEqual(code, 0)
                self.assert_signalled(waiter)
                # No settings read, no frame, no dialog.
                self.assertIsNone(SETTINGS_KEY_OPEN.search(trace), "the settings key was opened")
                self.assertIsNone(WINDOW_OF_CLASS.search(trace), "a window of BrimSet was created")

    def test_other_arguments_start_normally(self):
        self.make_env(drives={"d": 16 * MiB})
        for number, args in enumerate((["/"], ["U"], ["--u"])):
            with self.subTest(args=args):
                log = "normal%d.log" % number
                self.start_brimset(*args, log=log, debug=TRACE)
                self.dialog = self.env.find_window("#32770", TITLE, timeout=60)
                self.assertIsNotNone(self.dialog, "no drive list for %r" % (args,))
                self.assertIn("D", self.row_letters())
                self.command(self.dialog, IDC_CLOSE)
                self.assertEqual(self.wait_exit(), 0)
                # What the close switch must not do shows in this trace.
                trace = (self.env.logs_dir / log).read_text(errors="replace")
                self.assertIsNotNone(SETTINGS_KEY_OPEN.search(trace))
                self.assertEqual(sorted(set(WINDOW_OF_CLASS.findall(trace))), ["#8002", 'L"VELLORAN_BRIMSET"'])


if __name__ == "__main__":
    unittest.main()
