"""BrimSet's verbs against the real registry: /set, /oswarning and /list
write and print without a window, check every assignment before writing,
and say what went wrong in a line and an exit code."""

import unittest

from brimharness import MiB, parse_drive_settings
from brimcases import (BRIMSET, BRIMSET_EXE, OS_LOW_SPACE_SWITCH_RECORD, EXPLORER_POLICY_KEY, SETTINGS_KEY, SETTINGS_SUBKEY,
                       ConfigTestCase, brimset_text as text, fifteen_percent)


class VerbsTest(ConfigTestCase):

    def setUp(self):
        self.env = self.make_env(drives={"d": 64 * MiB, "f": 32 * MiB}, display=False)

    def brimset(self, *args):
        """BrimSet's exit code and the lines of its redirected stdout and stderr."""
        result = self.env.wine(BRIMSET_EXE, *args, timeout=60)
        return result.returncode, result.stdout.splitlines(), result.stderr.splitlines()

    def test_set_and_oswarning_write_and_tell_the_monitors(self):
        self.env.set_drive_settings({"e": (1, 7 * MiB)})
        waiter = self.start_waiter()
        self.assertEqual(self.brimset("/SET", "d:=10%", "E:=OFF", "f:=on", "y:=8192"), (0, [], []))
        self.assert_signalled(waiter)
        settings = parse_drive_settings(self.env.drive_settings())
        self.assertEqual([settings[letter] for letter in "DEFY"],
                         [(1, self.drive_capacity("d") // 10), (0, 7 * MiB),
                          (1, fifteen_percent(self.drive_capacity("f"))), (1, 8192 * MiB)])
        for args, value in ((("/oswarning", "off"), 1), (("-OsWarning", "ON"), 0)):
            waiter = self.start_waiter(log="waiter-%d.log" % value)
            self.assertEqual(self.brimset(*args), (0, [], []))
            self.assert_signalled(waiter)
            self.assertEqual(self.policy_value(), ("REG_DWORD", value))

    def test_restoreoswarning_gives_back_what_oswarning_off_found(self):
        def state():
            return self.policy_value(), self.env.reg_query(SETTINGS_KEY, OS_LOW_SPACE_SWITCH_RECORD, view=32)

        self.env.reg_add(EXPLORER_POLICY_KEY, "NoLowDiskSpaceChecks", "REG_DWORD", 7, view=64)
        for args, after in [
                (("/oswarning", "off"), (("REG_DWORD", 1), ("REG_DWORD", 7))),
                # BrimSet's own 1 is not taken for an administrator's.
                (("/oswarning", "off"), (("REG_DWORD", 1), ("REG_DWORD", 7))),
                (("/restoreoswarning",), (("REG_DWORD", 7), None)),
                (("/restoreoswarning",), (("REG_DWORD", 7), None)),
                (("/oswarning", "off"), (("REG_DWORD", 1), ("REG_DWORD", 7))),
                # Switched on again: nothing left to give back.
                (("/oswarning", "on"), (("REG_DWORD", 0), None)),
                (("/restoreoswarning",), (("REG_DWORD", 0), None))]:
            self.assertEqual(self.brimset(*args), (0, [], []), args)
            self.assertEqual(state(), after, args)
        # Changed by someone else since BrimSet switched it off: theirs stays.
        self.assertEqual(self.brimset("/oswarning", "off"), (0, [], []))
        self.env.reg_add(EXPLORER_POLICY_KEY, "NoLowDiskSpaceChecks", "REG_DWORD", 5, view=64)
        self.assertEqual(self.brimset("/restoreoswarning"), (0, [], []))
        self.assertEqual(state(), (("REG_DWORD", 5), None))

    def test_a_bad_verb_writes_nothing_and_says_which(self):
        stored = self.env.set_drive_settings({"d": (1, 3 * MiB)})
        for args, code, line in [
                (("/set", "D:=5", "e:=lots", "F:=on"), 87, text("IDS_VERB_BAD_ASSIGNMENT", "e:=lots")),
                (("/set",), 87, text("IDS_VERB_NO_ASSIGNMENT", "/set")),
                (("/Set", "D:=5", "/OSWARNING", "maybe"), 87, text("IDS_VERB_BAD_OSWARNING", "maybe")),
                (("/set", "Q:=ON", "/oswarning", "off"), 15, text("IDS_VERB_NOT_FIXED", "Q")),
                (("/CHECK", "/set", "D:=10%", "q:=10%"), 15, text("IDS_VERB_NOT_FIXED", "Q")),
                # Every argument is a verb or a verb's own argument.
                (("/set", "C:=off", "/x", "D:=junk"), 87, text("IDS_VERB_UNKNOWN", "/x")),
                (("/list", "/set", "D:=5", "/u"), 87, text("IDS_VERB_CLOSE_NOT_ALONE", "/u")),
                (("/list", "D:=5"), 87, text("IDS_VERB_UNEXPECTED", "D:=5")),
                (("-check", "/set", "D:=5", "/oswarning", "off"), 0, None)]:
            with self.subTest(args=args):
                self.assertEqual(self.brimset(*args), (code, [], [line] if line else []))
                self.assertEqual(self.env.drive_settings(), stored)
                self.assertIsNone(self.policy_value())
        # A write the registry refuses: its Windows error, and its line.
        self.assertTrue(self.env.driver_ok("denykey", "32", SETTINGS_SUBKEY).startswith("denied"))
        code, out, err = self.brimset("/set", "D:=9")
        self.assertEqual((code, len(err)), (5, 1))
        self.assertTrue(err[0].startswith(text("IDS_VERB_SAVE_FAILED", 5, "")), err)
        self.assertEqual(self.env.drive_settings(), stored)

    def test_usage_goes_to_standard_output(self):
        code, out, err = self.brimset("/?")
        self.assertEqual((code, err), (0, []))
        self.assertEqual(out, BRIMSET.string("IDS_VERB_USAGE").split("\n"))

    def test_list_prints_the_fixed_drives(self):
        self.env.set_drive_settings({"d": (1, 3 * MiB), "f": (0, 5 * MiB), "e": (1, MiB)})
        self.env.fill_drive("d", 2 * MiB)
        code, out, err = self.brimset("/LIST", "/set", "F:=1")  # the list shows the change
        self.assertEqual((code, err, out[0]), (0, [], BRIMSET.string("IDS_LIST_HEADER")))
        self.assertEqual(sorted(out[1:])[1:], [
            "D:\ton\t%d\t%d\t%d" % (3 * MiB, self.drive_capacity("d"), 2 * MiB),
            "F:\ton\t%d\t%d\t%d" % (MiB, self.drive_capacity("f"), self.env.free_bytes("f"))])
        self.assertTrue(sorted(out[1:])[0].startswith("C:\t"))


if __name__ == "__main__":
    unittest.main()
