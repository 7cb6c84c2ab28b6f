"""BrimSet's verbs against the real registry: /set, /oswarning and /list
write and print without a window, check every assignment before writing,
and say what went wrong in a line and an exit code."""

import unittest

from brimharness import MiB, build_drive_settings, parse_drive_settings
from brimcases import BRIMSET, BRIMSET_EXE, ConfigTestCase, fifteen_percent

SETTINGS_SUBKEY = r"Software\Velloran\BrimSet"
ERROR_ACCESS_DENIED = 5


def text(name, *values):
    """A verb's text from the string table, its %c / %s / %u filled in order."""
    template = BRIMSET.string(name)
    parts = iter(values)
    out, i = [], 0
    while i < len(template):
        if template.startswith("%%", i):
            out.append("%")
            i += 2
        elif template[i] == "%" and template[i + 1] in "csu":
            out.append(str(next(parts)))
            i += 2
        else:
            out.append(template[i])
            i += 1
    return "".join(out)


class VerbsTest(ConfigTestCase):

    def setUp(self):
        self.env = self.make_env(drives={"d": 64 * MiB, "f": 32 * MiB}, display=False)

    def brimset(self, *args):
        """Runs BrimSet with its output redirected to files: (exit code,
        stdout lines, stderr lines)."""
        result = self.env.wine(BRIMSET_EXE, *args, timeout=60)
        return result.returncode, result.stdout.splitlines(), result.stderr.splitlines()

    def settings(self):
        return parse_drive_settings(self.env.drive_settings())

    def test_set_writes_every_form_and_tells_the_monitors(self):
        self.env.set_drive_settings({"e": (1, 7 * MiB)})
        waiter = self.start_waiter()
        code, out, err = self.brimset("/SET", "d:=10%", "E:=OFF", "f:=on", "y:=8192")
        self.assertEqual((code, out, err), (0, [], []))
        self.assert_signalled(waiter)
        settings = self.settings()
        self.assertEqual(settings["D"], (1, self.drive_capacity("d") // 10))
        self.assertEqual(settings["E"], (0, 7 * MiB))      # off keeps the threshold
        self.assertEqual(settings["F"], (1, fifteen_percent(self.drive_capacity("f"))))
        self.assertEqual(settings["Y"], (1, 8192 * MiB))   # megabytes need no drive
        # off and on again keep the threshold.
        self.assertEqual(self.brimset("-set", "F:=OFF")[0], 0)
        self.assertEqual(self.brimset("-set", "f:=On")[0], 0)
        self.assertEqual(self.settings()["F"], settings["F"])

    def test_a_bad_verb_writes_nothing_and_says_which(self):
        stored = self.env.set_drive_settings({"d": (1, 3 * MiB)})
        cases = [
            (("/set", "D:=5", "e:=lots", "F:=on"), 87, text("IDS_VERB_BAD_ASSIGNMENT", "e:=lots")),
            (("/set", "D:=5", "d:=0"), 87, text("IDS_VERB_BAD_ASSIGNMENT", "d:=0")),
            (("/set",), 87, text("IDS_VERB_NO_ASSIGNMENT", "/set")),
            (("/Set", "D:=5", "/OSWARNING", "maybe"), 87, text("IDS_VERB_BAD_OSWARNING", "maybe")),
            (("/set", "D:=5", "q:=10%"), 15, text("IDS_VERB_NOT_FIXED", "Q")),
            (("/set", "Q:=ON", "/oswarning", "off"), 15, text("IDS_VERB_NOT_FIXED", "Q")),
            (("/CHECK", "/set", "q:=on"), 15, text("IDS_VERB_NOT_FIXED", "Q")),
            (("-check", "/set", "D:=5", "/oswarning", "off", "/list"), 0, None),  # checks, writes nothing
        ]
        for args, expected_code, line in cases:
            with self.subTest(args=args):
                self.assertEqual(self.brimset(*args), (expected_code, [], [line] if line else []))
                self.assertEqual(self.env.drive_settings(), stored)
                self.assertIsNone(self.policy_value())

    def test_denied_save_exits_with_the_windows_error(self):
        stored = self.env.set_drive_settings({"d": (1, 3 * MiB)})
        self.assertTrue(self.env.driver_ok("denykey", "32", SETTINGS_SUBKEY).startswith("denied"))
        code, out, err = self.brimset("/set", "D:=9")
        self.assertEqual(code, ERROR_ACCESS_DENIED)
        self.assertEqual(len(err), 1)
        self.assertTrue(err[0].startswith(text("IDS_VERB_SAVE_FAILED", ERROR_ACCESS_DENIED, "")), err)
        self.assertEqual(self.env.drive_settings(), stored)

    def test_oswarning_sets_the_policy_value_as_the_dialog(self):
        for args, value in ((("/oswarning", "off"), 1), (("-OsWarning", "ON"), 0)):
            with self.subTest(args=args):
                waiter = self.start_waiter(log="waiter-%d.log" % value)
                self.assertEqual(self.brimset(*args), (0, [], []))
                self.assert_signalled(waiter)
                self.assertEqual(self.policy_value(), ("REG_DWORD", value))
        self.assertIsNone(self.env.drive_settings())

    def test_list_prints_the_fixed_drives_for_a_script(self):
        self.env.set_drive_settings({"d": (1, 3 * MiB), "f": (0, 5 * MiB), "e": (1, MiB)})
        self.env.fill_drive("d", 2 * MiB)
        code, out, err = self.brimset("/LIST")
        self.assertEqual((code, err), (0, []))
        self.assertEqual(out[0], BRIMSET.string("IDS_LIST_HEADER"))
        rows = {line.split("\t")[0]: line.split("\t")[1:] for line in out[1:]}
        self.assertEqual(rows["D:"], ["on", str(3 * MiB), str(self.env.total_bytes("d")), str(2 * MiB)])
        self.assertEqual(rows["F:"][:3], ["off", str(5 * MiB), str(self.env.total_bytes("f"))])
        self.assertNotIn("E:", rows)  # no such drive
        # A change and the list in one run: the list shows the change.
        code, out, err = self.brimset("/list", "/set", "F:=1")
        self.assertEqual(code, 0)
        self.assertIn("F:\ton\t%d\t" % MiB, "\n".join(out))

    def test_the_close_switch_wins(self):
        waiter = self.start_waiter("close")
        self.assertEqual(self.brimset("/list", "/set", "D:=5", "/u"), (0, [], []))
        self.assert_signalled(waiter)
        self.assertIsNone(self.env.drive_settings())


if __name__ == "__main__":
    unittest.main()
