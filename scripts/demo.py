"""Runs Brimline under Wine for a person to look at.

A small drive that is low on space, BrimWatch warning about it with its tray
icon and balloon, and BrimSet open. With a display (DISPLAY set) the Wine
desktop opens there and stays until BrimSet is closed; without one the demo
runs on a private Xvfb display and writes screenshots to a folder it names.
BRIM_DEMO_LOCALE (as LC_ALL, say de_DE.UTF-8) runs both programs in that
language; the screenshots' names then carry it.
"""

import os
import shutil
import sys
import time
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "tests" / "e2e"))

import brimharness  # noqa: E402
from brimharness import MiB, WineEnv  # noqa: E402
from brimcases import INSTALL_DIR  # noqa: E402


class LiveWineEnv(WineEnv):
    """A WineEnv whose desktop opens on the person's own display."""

    def _start_xvfb(self):
        self.display = os.environ["DISPLAY"]
        self.env["DISPLAY"] = self.display


def main():
    shots = Path(os.environ.get("BRIM_DEMO_DIR") or brimharness.BUILD_DIR.parent / "demo")
    live = bool(os.environ.get("DISPLAY")) and not os.environ.get("BRIM_DEMO_HEADLESS")
    as_root = os.geteuid() == 0
    env_class = LiveWineEnv if live else WineEnv
    drives = {"d": 64 * MiB} if as_root else None
    locale = os.environ.get("BRIM_DEMO_LOCALE")
    language = {"LC_ALL": locale} if locale else None
    suffix = "-" + locale.split(".")[0] if locale else ""

    print("demo: preparing a Wine prefix%s ..." % (" with a 64 MiB drive D:" if as_root else ""))
    with env_class(display=True, drives=drives, name="demo") as env:
        for name in ("BrimWatch.exe", "BrimSet.exe"):
            env.install_program(name, INSTALL_DIR)
        help_dir = env.to_host(INSTALL_DIR) / "docs"
        help_dir.mkdir(parents=True, exist_ok=True)
        for page in list((brimharness.SOURCE_DIR / "docs").glob("Brimline*.html")) + [
                brimharness.SOURCE_DIR / "docs" / "Brimline.css"]:
            shutil.copy2(page, help_dir / page.name)
        env.make_recorder(INSTALL_DIR + r"\VelloranUpdater.exe")

        if as_root:
            letter, index = "d", 3
            free = env.fill_drive("d", 3 * MiB)
            threshold = 8 * MiB
        else:
            # Without root there is no drive of our own: warn about C:.
            letter, index = "c", 2
            free = os.statvfs(env.to_host("C:\\")).f_bavail * os.statvfs(env.to_host("C:\\")).f_frsize
            threshold = free + 1024 * MiB
        env.set_drive_settings({letter: (1, threshold)})
        print("demo: drive %s: has %.1f MiB free, warning below %.1f MiB"
              % (letter.upper(), free / MiB, threshold / MiB))

        monitor = env.start(env.to_host(INSTALL_DIR) / "BrimWatch.exe", log="monitor.log", env=language)
        mark = env.tray_mark()
        # A settings pulse makes the monitor rescan one second later instead
        # of at its first regular tick.
        added = None
        deadline = time.monotonic() + 60
        while added is None and time.monotonic() < deadline:
            env.driver("pulse", "settings")
            added = env.wait_for_tray("add", icon_id=index, since=mark, timeout=3)
        if added is None:
            print("demo: the monitor did not add its icon; logs in %s" % env.save_logs())
            return 1
        print("demo: BrimWatch shows its warning for drive %s:" % letter.upper())
        time.sleep(4)  # the desktop shows a balloon about two seconds after the call
        if not live:
            shots.mkdir(parents=True, exist_ok=True)
            env.screenshot(shots / ("brimwatch-balloon%s.png" % suffix))

        config = env.start(env.to_host(INSTALL_DIR) / "BrimSet.exe", log="config.log", env=language)
        if env.find_window("#32770", "Velloran Brimline", timeout=60) is None:
            print("demo: BrimSet's dialog did not appear; logs in %s" % env.save_logs())
            return 1
        time.sleep(2)
        if live:
            print("demo: BrimSet is open; close it to end the demo.")
            config.wait()
        else:
            env.screenshot(shots / ("brimset%s.png" % suffix))
            print("demo: screenshots written to %s" % shots)
            for shot in sorted(shots.glob("*.png")):
                print("  " + str(shot))
        env.driver("pulse", "close")
        env.wait_exit(monitor, 30)
    return 0


if __name__ == "__main__":
    sys.exit(main())
