"""BrimSet's close switch: /u and its kin, alone, ask every monitor to close
and end without a window or a settings read; any other argument that is no
verb ends with an error, also without a window."""

import re
import unittest

from brimharness import MiB
from brimcases import SETTINGS_KEY, ConfigTestCase, IDC_CLOSE, TITLE

# Registry reads and window creations of the program, as Wine traces them.
TRACE = "-all,trace+reg,trace+win"
SETTINGS_KEY_OPEN = re.compile(r'Nt(?:Open|Create)Key(?:Ex)? \([^,]*,L"[^"]*Velloran')
SETTINGS_READ = re.compile(r'NtQueryValueKey \([^,]*,L"DriveSettings"')
WINDOW_OF_CLASS = re.compile(r'WIN_CreateWindowEx .*?(L"VELLORAN_BRIMSET"|#8002) ex=')


class CloseSwitchTest(ConfigTestCase):

    def run_traced(self, *args, log):
        self.start_brimset(*args, log=log, debug=TRACE)
        code = self.wait_exit(60)
        return code, (self.env.logs_dir / log).read_text(errors="replace")

    def test_close_switch_pulses_the_close_event_and_ends_at_once(self):
        self.make_env(display=True)
        self.env.set_drive_settings({"d": (1, MiB)})  # there to be read, were it read
        requests = []
        for number, args in enumerate((["/u"], ["-Uninstall"], ["/U", "-u"])):
            with self.subTest(args=args):
                waiter = self.start_waiter("close", log="close-waiter%d.log" % number)
                code, trace = self.run_traced(*args, log="switch%d.log" % number)
                self.assertEqual(code, 0)
                self.assert_signalled(waiter)
                # No settings read, no frame, no dialog; a new close request
                # stored for the monitors, which only administrators can write.
                self.assertIsNone(SETTINGS_READ.search(trace), "the settings were read")
                self.assertIsNone(WINDOW_OF_CLASS.search(trace), "a window of BrimSet was created")
                requests.append(self.env.reg_query(SETTINGS_KEY, "MonitorCloseRequest", view=32))
        self.assertEqual([kind for kind, _ in requests], ["REG_QWORD"] * 3)
        self.assertEqual(len(set(value for _, value in requests)), 3)

    def test_arguments_that_are_no_verb_end_with_an_error_and_no_window(self):
        self.make_env(drives={"d": 16 * MiB})
        for number, args in enumerate((["/"], ["U"], ["--u"], ["/x", "/U"], ["/lsit"])):
            with self.subTest(args=args):
                waiter, _ = self.start_waiter("close", log="waiter%d.log" % number, timeout_ms=8000)
                code, trace = self.run_traced(*args, log="error%d.log" % number)
                self.assertEqual(code, 87)
                self.assertIsNone(WINDOW_OF_CLASS.search(trace), "a window of BrimSet was created")
                self.assertEqual(self.env.wait_exit(waiter, 30), 1, "the close event was pulsed")
        # Without arguments the dialog opens as ever.
        self.start_brimset(log="normal.log", debug=TRACE)
        self.dialog = self.env.find_window("#32770", TITLE, timeout=60)
        self.assertIsNotNone(self.dialog, "no drive list without arguments")
        self.assertIn("D", self.row_letters())
        self.command(self.dialog, IDC_CLOSE)
        self.assertEqual(self.wait_exit(), 0)
        trace = (self.env.logs_dir / "normal.log").read_text(errors="replace")
        self.assertIsNotNone(SETTINGS_KEY_OPEN.search(trace))
        self.assertEqual(sorted(set(WINDOW_OF_CLASS.findall(trace))), ["#8002", 'L"VELLORAN_BRIMSET"'])

if __name__ == "__main__":
    unittest.main()
