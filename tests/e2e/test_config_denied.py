"""Apply when the registry refuses writing: one message per Apply.

Wine runs every program with an administrator token, but it enforces a
key's DACL: the driver gives a key a DACL that grants read access only.
"""

import unittest

from brimharness import MiB, build_drive_settings
from brimcases import (ConfigTestCase, IDC_APPLY, IDC_CLOSE, IDC_OSLOWSPACESWITCH, POLICY_DENIED, EXPLORER_POLICY_KEY, QUESTION,
                       SETTINGS_DENIED, SETTINGS_SUBKEY)


POLICY_SUBKEY = EXPLORER_POLICY_KEY.split("\\", 1)[1]


class DeniedTest(ConfigTestCase):

    def deny(self, view, subkey):
        self.assertTrue(self.env.driver_ok("denykey", str(view), subkey).startswith("denied"))

    def test_settings_key_denied_shows_one_message(self):
        env = self.make_env(drives={"d": 16 * MiB})
        stored = env.set_drive_settings({"d": (0, 3 * MiB)})
        self.deny(32, SETTINGS_SUBKEY)
        self.deny(64, POLICY_SUBKEY)
        self.open_drive_list()
        self.set_check("d", True)
        self.click(self.dialog, IDC_OSLOWSPACESWITCH)

        waiter = self.start_waiter()
        self.command(self.dialog, IDC_APPLY)
        self.expect_message(SETTINGS_DENIED)
        # Nothing about the policy key in the same Apply; monitors are told.
        self.expect_no_message()
        self.assert_signalled(waiter)
        self.assertEqual(env.drive_settings(), stored)
        self.assertIsNone(self.policy_value())

        # The edits are still unsaved: Close asks, and the next Apply tries
        # the save again.
        self.assertEqual(self.rows()[self.row_of("d")]["image"], 2)
        self.command(self.dialog, IDC_CLOSE)
        self.expect_message(QUESTION, answer="no")
        self.command(self.dialog, IDC_APPLY)
        self.expect_message(SETTINGS_DENIED)
        self.command(self.dialog, IDC_CLOSE)
        self.expect_message(QUESTION, answer="yes")
        self.assertEqual(self.wait_exit(), 0)

    def test_policy_key_denied_alone_shows_its_own_message(self):
        env = self.make_env(drives={"d": 16 * MiB})
        self.deny(64, POLICY_SUBKEY)
        self.open_drive_list()
        self.set_check("d", True)

        self.command(self.dialog, IDC_APPLY)
        self.expect_message(POLICY_DENIED)
        self.expect_no_message()
        stored = env.drive_settings()
        self.assertIsNotNone(stored)
        self.assertEqual(stored[27:36], build_drive_settings({"d": (1, 16 * MiB * 15 // 100)})[27:36])
        self.assertIsNone(self.policy_value())

        # Unsaved edits after the failure still bring the question.
        self.set_check("d", False)
        self.command(self.dialog, IDC_CLOSE)
        self.expect_message(QUESTION, answer="yes")
        self.assertEqual(self.wait_exit(), 0)


if __name__ == "__main__":
    unittest.main()
