"""BrimWatch's forecast and its back-off on a drive that hovers, on tmpfs
drives whose free space the test moves: a drive filled at a steady rate
gets its early warning before it is low, and then its low balloon with the
time until full; a burst that stops gets none; a drive toggled across its
threshold at every pass gets one balloon in six passes."""

import time
import unittest

from brimharness import MiB
from brimcases import BRIMWATCH, EVENTS, NIIF_WARNING, MonitorTestCase, balloon_text

FORECAST_TITLE = BRIMWATCH.string("IDS_FORECAST_TITLE")
LOW_TITLE = BRIMWATCH.string("IDS_BALLOON_TITLE")
FULL_IN = BRIMWATCH.string("IDS_LOW_FULL_IN").split("%u")[0]  # the line up to its minutes
FILL_RATE = 12 * MiB / 60.0  # bytes a second: 60 MiB free reaches 8 MiB in about four and a half minutes


class ForecastTest(MonitorTestCase):

    def balloons_of(self, letter, title):
        return [b for b in self.balloons()
                if b["title"] == title and ("%s:" % letter in b["text"] or "drive %s" % letter in b["text"])]

    def test_a_steady_fill_warns_early_a_burst_does_not_and_a_hovering_drive_keeps_its_back_off(self):
        env = self.make_env(drives={"d": 64 * MiB, "e": 64 * MiB, "f": 64 * MiB})
        env.set_drive_settings({"d": (1, 8 * MiB), "e": (1, 8 * MiB), "f": (1, 8 * MiB)})
        for letter in "de":
            env.fill_drive(letter, 60 * MiB)
        env.fill_drive("f", 20 * MiB)
        monitor = self.start_monitor(self.install_monitor())
        self.wait_monitor_window()

        # F: across its threshold at every pass (a pulse brings a pass a
        # second later): low, fine, low, fine, low, fine.
        for number in range(6):
            env.fill_drive("f", 4 * MiB if number % 2 == 0 else 20 * MiB)
            self.pulse_until("add" if number % 2 == 0 else "delete", 5, since=env.tray_mark())
            if number == 0:
                self.wait_balloon(balloon_text("F", "4.00 MB"))
        time.sleep(3)
        self.assertEqual(len([b for b in self.balloons() if "drive F" in b["text"]]), 1, self.balloons())
        self.assertEqual([e["strings"][0] for e in self.monitor_events()
                          if e["full_id"] == EVENTS["MSG_DRIVE_LOW"]["full_id"]], ["F:"])

        # D: fills at a steady rate; E: takes one burst and stops.
        start = time.monotonic()
        env.fill_drive("e", 30 * MiB)
        early_free = None
        while time.monotonic() - start < 420:
            free = max(0, int(60 * MiB - FILL_RATE * (time.monotonic() - start)))
            env.fill_drive("d", free // 4096 * 4096)
            if early_free is None and self.balloons_of("D", FORECAST_TITLE):
                early_free = free
            if early_free is not None and self.balloons_of("D", LOW_TITLE):
                break
            time.sleep(2)
        self.assertIsNotNone(early_free, "no early warning for D: filling steadily: %r" % self.balloons())
        self.assertEqual(self.balloons_of("D", FORECAST_TITLE)[0]["icon"], NIIF_WARNING)
        self.assertGreater(early_free, 8 * MiB, "the early warning came only once D: was low")
        self.assertLess(time.monotonic() - start, 420, "no low balloon for D: after its early warning")
        low = self.balloons_of("D", LOW_TITLE)[0]["text"]
        self.assertTrue(low.startswith(balloon_text("D", "|").split("|")[0]), low)
        self.assertIn(FULL_IN, low, "the low balloon of a drive filling steadily tells the time until full")
        self.assertEqual(self.balloons_of("E", FORECAST_TITLE), [], "a burst that stopped is no fill")
        forecasts = [e["strings"] for e in self.monitor_events()
                     if e["full_id"] == EVENTS["MSG_DRIVE_FILLING_FAST"]["full_id"]]
        self.assertEqual([s[0] for s in forecasts], ["D:"])
        self.assertGreater(int(forecasts[0][5]), 0, "the event estimates the minutes to the threshold")

        self.pulse("close")
        self.assertEqual(self.wait_exit_code(monitor), 0)


if __name__ == "__main__":
    unittest.main()
