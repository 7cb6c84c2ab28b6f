"""The base test cases of the end-to-end tests, and the programs' own
facts they use: MonitorTestCase runs BrimWatch, ConfigTestCase runs BrimSet;
the updater's texts and ids are here too (UPDATER).

Ids, texts and class names are read from the programs' resource scripts,
the headers those include, and their sources, and the version, the maker
and the install folder from common/Version.h, so that a test never
restates one: rename or renumber a resource, or raise the version, and the
tests follow.
"""

import os
import re
import shutil
import sys
import time
import unittest
from pathlib import Path

from brimharness import (BUILD_DIR, SETTINGS_KEY, SOURCE_DIR, WineEnv, decode_wine_string, driver_of_bits,
                         hwnd_text, program, read_records, require_programs, unescape, wait_for)

sys.path.insert(0, str(Path(__file__).resolve().parents[1]))
from rcscript import rc_text as _rc_text, translation_tag as _translation_tag  # noqa: E402


# -- the programs' own facts -------------------------------------------------

_DEFINE = re.compile(r"^\s*#\s*define\s+(\w+)\s+(\d+|0x[0-9A-Fa-f]+)\b", re.M)
_INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.M)
_RC_STRING = re.compile(r'"((?:[^"]|"")*)"')


class ProgramResources:
    """The numeric ids (every #define of the script and of the project's
    headers it includes), the string table (the script's and that of the
    scripts it includes from its folder, in the script's own language: a
    program's script is English, its translations are lang/<name>.<language>.rc)
    and the dialog captions of one program's resource script. A translation
    takes the ids of its program's (`ids`)."""

    def __init__(self, script, ids=None):
        self.script = SOURCE_DIR / script
        self.ids = dict(ids or {})
        self._read_defines(self.script, set())
        text = self.script.read_text(encoding="utf-8")
        language = _translation_tag(self.script.name)
        text += "".join((self.script.parent / name).read_text(encoding="utf-8")
                        for name in _INCLUDE.findall(text)
                        if name.endswith(".rc") and _translation_tag(name) == language
                        and (self.script.parent / name).is_file())
        self.strings = {}
        for table in re.findall(r"^STRINGTABLE\b.*?^BEGIN\s*$(.*?)^END\s*$", text, re.M | re.S):
            for line in table.splitlines():
                match = re.match(r"^\s*(\w+)\s*,?\s*" + _RC_STRING.pattern + r"\s*$", line)
                if match:
                    self.strings[self.number(match.group(1))] = _rc_text(match.group(2))
        self.captions = {}
        for name, caption in re.findall(r"^(\w+)\s+DIALOG(?:EX)?\b[^\n]*\n(?:(?!BEGIN)[^\n]*\n)*?CAPTION\s+"
                                        + _RC_STRING.pattern, text, re.M):
            self.captions[self.number(name)] = _rc_text(caption)

    def _read_defines(self, path, seen):
        if path in seen or not path.is_file():
            return
        seen.add(path)
        text = path.read_text(encoding="utf-8")
        for name, value in _DEFINE.findall(text):
            self.ids.setdefault(name, int(value, 0))
        for include in _INCLUDE.findall(text):
            for folder in (path.parent, SOURCE_DIR / "common"):
                self._read_defines((folder / include).resolve(), seen)

    def number(self, name_or_number):
        return int(name_or_number) if name_or_number.isdigit() else self.ids[name_or_number]

    def id(self, name):
        return self.ids[name]

    def string(self, name):
        return self.strings[self.number(name)]

    def caption(self, name):
        return self.captions[self.number(name)]


def _source_string(source, constant):
    """A wide string constant (a window class name, a registry value name)
    as a program's source defines it."""
    text = (SOURCE_DIR / source).read_text(encoding="utf-8")
    match = re.search(r"\b%s\[\]\s*=\s*L\"([^\"]*)\"" % constant, text)
    if not match:
        raise LookupError("%s defines no %s" % (source, constant))
    return match.group(1)


def _format(template, *values):
    """Fills a string-table text's %c / %s / %u / %d in order; %% is %."""
    parts = iter(values)
    return re.sub(r"%%|%(?:I64)?[csud]", lambda m: "%" if m.group() == "%%" else str(next(parts)), template)


_VERSION_HEADER = (SOURCE_DIR / "common" / "Version.h").read_text(encoding="utf-8")


def version_macro(name):
    """A macro of common/Version.h: the text of a string, or a number."""
    match = re.search(r'^\s*#\s*define\s+%s\s+(?:L?"([^"]*)"|(\d+))' % name, _VERSION_HEADER, re.M)
    if not match:
        raise LookupError("common/Version.h defines no %s" % name)
    return match.group(1) if match.group(1) is not None else int(match.group(2))


# The product's version as the programs carry it: as text, as its four
# numbers, and packed into 64 bits as the updater's command line passes it.
VERSION = version_macro("BRIM_VERSION_TEXT")
VERSION_NUMBERS = tuple(version_macro("BRIM_VERSION_" + part) for part in ("MAJOR", "MINOR", "BUILD", "REVISION"))
PACKED_VERSION = sum(number << shift for number, shift in zip(VERSION_NUMBERS, (48, 32, 16, 0)))
COMPANY = version_macro("BRIM_COMPANY_NAME")
PRODUCT = version_macro("BRIM_PRODUCT_NAME")
# Where the package puts the programs of each bitness on 64-bit Windows.
INSTALL_DIRS = {64: r"C:\Program Files\%s\%s" % (COMPANY, PRODUCT),
                32: r"C:\Program Files (x86)\%s\%s" % (COMPANY, PRODUCT)}
INSTALL_DIR = INSTALL_DIRS[64]

BRIMWATCH = ProgramResources("monitor/BrimWatch.rc")
BRIMSET = ProgramResources("config/BrimSet.rc")
UPDATER = ProgramResources("updater/VelloranUpdater.rc")

# Registry keys and Windows facts the tests share.
# The settings key (SETTINGS_KEY, from the harness) under its hive, and the
# key of the user's own values (LastUpdateCheck).
SETTINGS_SUBKEY = SETTINGS_KEY.split("\\", 1)[1]
USER_SETTINGS_KEY = "HKCU\\" + SETTINGS_SUBKEY
EXPLORER_POLICY_KEY = r"HKLM\Software\Microsoft\Windows\CurrentVersion\Policies\Explorer"
WM_NULL = 0x0000
WM_CLOSE = 0x0010
WM_COMMAND = 0x0111
WM_MOUSEMOVE = 0x0200
WM_LBUTTONDOWN = 0x0201
WM_RBUTTONDOWN = 0x0204
WM_TRAYICON = 0x0401
NIN_BALLOONUSERCLICK = 0x0405
VK_RETURN, VK_ESCAPE, VK_UP, VK_DOWN = 0x0D, 0x1B, 0x26, 0x28
NIIF_INFO, NIIF_WARNING, NIIF_ERROR = 1, 2, 3
SETTINGS_EVENT_NAMES = ("Global\\CA56EB1D-CE28-487d-8572-E071B8507203", "CA56EB1D-CE28-487d-8572-E071B8507203")

# BrimWatch.
MONITOR_CLASS = _source_string("monitor/Monitor.cpp", "MONITOR_CLASS_NAME")
MONITOR_TITLE = BRIMWATCH.string("IDS_APP_TITLE")
BALLOON_TITLE = BRIMWATCH.string("IDS_BALLOON_TITLE")
MUTE_QUESTION = BRIMWATCH.string("IDS_MUTE_QUESTION")
IDM_CONFIGURE = BRIMWATCH.id("IDM_CONFIGURE")
IDM_RUN_CLEANUP = BRIMWATCH.id("IDM_RUN_CLEANUP")
IDM_TRAY_EXIT = BRIMWATCH.id("IDM_TRAY_EXIT")
IDM_RUN_EXPLORER = BRIMWATCH.id("IDM_RUN_EXPLORER")
MONITOR_INSTALL_DIR = r"C:\Brimline"
RECORDS_DIR = r"C:\brim-records"
TOOLS_DIR = r"C:\brim-tools"  # stand-ins for tools found on the search path

# BrimSet.
FRAME_CLASS = _source_string("config/BrimSet.cpp", "FRAME_CLASS_NAME")
BRIMSET_EXE = INSTALL_DIR + r"\BrimSet.exe"
TITLE = BRIMSET.caption("IDD_DRIVELIST")
THRESHOLD_TITLE = BRIMSET.caption("IDD_THRESHOLD")
IDC_DRIVELIST = BRIMSET.id("IDC_DRIVELIST")
IDC_APPLY = BRIMSET.id("IDC_APPLY")
IDC_HELPPAGE = BRIMSET.id("IDC_HELPPAGE")
IDC_ABOUT = BRIMSET.id("IDC_ABOUT")
IDC_OSLOWSPACESWITCH = BRIMSET.id("IDC_OSLOWSPACESWITCH")
IDC_DRIVENAME = BRIMSET.id("IDC_DRIVENAME")
IDC_CAPACITY = BRIMSET.id("IDC_CAPACITY")
IDC_FREESPACE = BRIMSET.id("IDC_FREESPACE")
IDC_ALARMAT = BRIMSET.id("IDC_ALARMAT")
IDC_SETTOFIFTEEN = BRIMSET.id("IDC_SETTOFIFTEEN")
IDC_EMAILLINK = BRIMSET.id("IDC_EMAILLINK")
IDC_WEBLINK = BRIMSET.id("IDC_WEBLINK")
IDC_UPDATELINK = BRIMSET.id("IDC_UPDATELINK")
IDC_FILEDESCRIPTION = BRIMSET.id("IDC_FILEDESCRIPTION")
IDC_FILEVERSION = BRIMSET.id("IDC_FILEVERSION")
IDC_COPYRIGHT = BRIMSET.id("IDC_COPYRIGHT")
IDM_ABOUT = BRIMSET.id("IDM_ABOUT")
IDC_MODIFY = 1  # the threshold dialog's OK (IDOK)
IDC_CLOSE = 2   # the drive list's Close and the threshold dialog's Cancel (IDCANCEL)
VERY_LOW = BRIMSET.string("IDS_RECOMMEND_VERY_LOW")
REDUCE = BRIMSET.string("IDS_RECOMMEND_REDUCE_SETTING")
NEAR = BRIMSET.string("IDS_RECOMMEND_NEAR_THRESHOLD")
DEFRAGMENT = BRIMSET.string("IDS_RECOMMEND_DEFRAGMENT")
QUESTION = BRIMSET.string("IDS_CONFIRM_DISCARD")
SETTINGS_DENIED = BRIMSET.string("IDS_SETTINGS_ACCESS_DENIED")
POLICY_DENIED = BRIMSET.string("IDS_POLICY_ACCESS_DENIED")
# Beside the drive settings: the policy value as it was before BrimSet
# switched the operating system's warning off.
OS_LOW_SPACE_SWITCH_RECORD = _source_string("config/OsLowSpaceSwitchRecord.cpp", "OS_LOW_SPACE_SWITCH_RECORD_VALUE")

# VelloranUpdater.
UPDATE_POLICY_KEY = r"HKLM\Software\Policies\Velloran\Brimline"
UPDATE_TITLE = UPDATER.caption("IDD_UPDATE")
IDC_MESSAGE = UPDATER.id("IDC_MESSAGE")


def brimset_text(name, *values):
    """One of BrimSet's string-table texts, filled with the values."""
    return _format(BRIMSET.string(name), *values)


def updater_text(name, *values):
    """One of the updater's string-table texts, filled with the values."""
    return _format(UPDATER.string(name), *values)


# -- BrimWatch -----------------------------------------------------------------

def balloon_text(letter, size):
    return _format(BRIMWATCH.string("IDS_LOW_SPACE_BALLOON"), letter, size)


def tip_text(letter, size):
    return _format(BRIMWATCH.string("IDS_LOW_SPACE_TIP"), letter, size)


# The event log: the events of the message table (monitor/BrimlineEvents.mc)
# by symbolic name, and what a program reported as Wine traces it.
EVENT_LOG_TRACE = "fixme+advapi,+eventlog"
_SEVERITY = {"Success": (0, 0), "Informational": (1, 4), "Warning": (2, 2), "Error": (3, 1)}  # bits, EVENTLOG_*
EVENTS = {name: {"full_id": _SEVERITY[severity][0] << 30 | int(number), "type": _SEVERITY[severity][1]}
          for number, severity, name in re.findall(r"^MessageId=(\d+)\s+Severity=(\w+)\s+SymbolicName=(\w+)",
                                                    (SOURCE_DIR / "monitor/BrimlineEvents.mc").read_text(), re.M)}


def reported_events(log_text):
    """The ReportEventW calls of a log traced with EVENT_LOG_TRACE:
    {"type", "full_id", "sid", "strings"} each."""
    events = []
    for line in log_text.splitlines():
        call = re.search(r"ReportEventW \(\w+,0x(\w+),0x\w+,0x(\w+),([^,]+),", line)
        string = re.search(r":eventlog:ReportEventW (L\".*)$", line)
        if call:
            events.append({"type": int(call.group(1), 16), "full_id": int(call.group(2), 16),
                           "sid": call.group(3), "strings": []})
        elif string and events:
            events[-1]["strings"].append(decode_wine_string(string.group(1)))
    return events


class MonitorTestCase(unittest.TestCase):
    """Runs BrimWatch from a folder of its own in a fresh prefix, with
    recording stand-ins for the programs it starts, and watches the tray."""

    def make_env(self, drives=None, drive_types=None, search_path_tools=(), display=True):
        require_programs(self, "BrimWatch.exe", "BrimDriver.exe")
        self.env = WineEnv.for_test(self, drives=drives, display=display)
        if drive_types:
            self.env.set_drive_types(drive_types)
        self.records = self.env.to_host(RECORDS_DIR)
        self.records.mkdir(parents=True, exist_ok=True)
        # Tools found on the search path: a folder of stand-ins in front of it.
        for tool in search_path_tools:
            self.make_tool_on_search_path(tool)
        if search_path_tools:
            self.env.add_search_dir(TOOLS_DIR)
        return self.env

    def tools_dir(self):
        return self.env.to_host(TOOLS_DIR)

    def make_tool_on_search_path(self, name):
        return self.env.make_recorder(self.tools_dir() / name, self.records / (name + ".log"))

    def install_monitor(self, folder=MONITOR_INSTALL_DIR, as_name="BrimWatch.exe"):
        """Copies the monitor into `folder` with stand-ins beside it for the
        updater, the configuration program and Explorer (the folder of the
        running program is searched first). Returns its Windows path."""
        self.env.install_program("BrimWatch.exe", folder, as_name=as_name)
        for name in ("VelloranUpdater.exe", "BrimSet.exe", "explorer.exe"):
            self.env.make_recorder(folder + "\\" + name, self.records / (name + ".log"))
        return folder + "\\" + as_name

    def record(self, name):
        return read_records(self.records / (name + ".log"))

    def wait_record(self, name, count=1, timeout=30):
        return wait_for(lambda: len(self.record(name)) >= count and self.record(name), timeout)

    # -- the monitor ------------------------------------------------------

    def start_monitor(self, exe, *args, log="monitor.log", lc_all=None):
        """Starts the monitor with its own tray calls traced into `log` (and
        the user's language from `lc_all`, a locale such as de_DE.UTF-8)."""
        return self.env.start(exe, *args, log=log, debug="-all,trace+systray," + EVENT_LOG_TRACE,
                              env={"LC_ALL": lc_all} if lc_all else None)

    def monitor_events(self, log="monitor.log"):
        """The events the monitor reported so far."""
        return reported_events((self.env.logs_dir / log).read_text(errors="replace"))

    def monitor_windows(self):
        return [w for w in self.env.windows() if w["class"] == MONITOR_CLASS]

    def wait_monitor_window(self, exclude=(), timeout=60):
        """The hidden window of a running monitor (not one of `exclude`)."""
        def found():
            windows = [w for w in self.monitor_windows() if w["hwnd"] not in exclude]
            return windows[0] if windows else None
        window = wait_for(found, timeout, 0.25)
        self.assertIsNotNone(window, "no monitor window appeared")
        self.assertEqual(window["title"], MONITOR_TITLE)
        self.assertFalse(window["visible"], "the monitor's window must stay hidden")
        return window["hwnd"]

    def pulse(self, event="settings"):
        self.env.driver_ok("pulse", event)

    def pulse_until(self, kind, icon_id, since, attempts=10):
        """Pulses the settings event until the tray shows the event; a
        pulse that comes before the worker thread waits is lost."""
        for _ in range(attempts):
            self.pulse()
            event = self.env.wait_for_tray(kind, icon_id, timeout=4, since=since)
            if event:
                return event
        self.fail("no %s of icon %d after %d settings pulses" % (kind, icon_id, attempts))

    def pulse_and_wait(self, kind, icon_id, timeout=15):
        """One settings pulse, then the tray event it brings: within the
        timeout, so from the rescan that follows a reload, not from the
        regular 45-second tick. (How fast is the benchmark's business.)"""
        since = self.env.tray_mark()
        self.pulse()
        self.assertTrue(wait_for(lambda: self.env.tray_has(kind, icon_id, since), timeout, 0.1),
                        "no %s of icon %d within %d s of a settings pulse" % (kind, icon_id, timeout))

    def icon_ids(self, kind, since=0):
        return [e[1] for e in self.env.tray_events(since) if e[0] == kind]

    def balloons(self, since=0):
        return [e[2] for e in self.env.tray_events(since) if e[0] == "balloon"]

    def wait_balloon(self, text, since=0, timeout=60):
        found = wait_for(lambda: [b for b in self.balloons(since) if b["text"] == text], timeout, 0.25)
        self.assertTrue(found, "no balloon %r; balloons: %r" % (text, self.balloons(since)))
        return found[0]

    def tray_tips(self):
        # The tips are tools of the desktop explorer's tooltips: a 64-bit
        # process, whose structures only a 64-bit driver reads.
        driver = driver_of_bits(64)
        if driver is None:
            self.fail("reading the tray's tips needs a 64-bit BrimDriver.exe (BRIM_OTHER_BUILD_DIR)")
        out = self.env.driver_ok("tray-tips", exe=driver)
        return [unescape(line.split("\t", 4)[4]) for line in out.splitlines() if line.count("\t") >= 4]

    def wait_exit_code(self, proc, timeout=30):
        return self.env.wait_exit(proc, timeout)

    # -- the tray menu ----------------------------------------------------

    def post(self, hwnd, message, wparam, lparam):
        self.env.driver_ok("post", hwnd_text(hwnd), str(message), str(wparam), str(lparam))

    def choose_from_menu(self, window, icon_id, *keys, button=WM_RBUTTONDOWN):
        """Clicks the icon as the shell reports it and works the popup with
        the keyboard."""
        self.post(window, WM_TRAYICON, icon_id, button)
        menu = self.env.find_window("#32768", "*", timeout=10)
        self.assertIsNotNone(menu, "the icon's menu did not open")
        self.env.driver_ok("key", hwnd_text(menu), *[str(k) for k in keys])
        closed = wait_for(lambda: self.env.find_window("#32768", "*", timeout=0) is None, 10, 0.25)
        self.assertTrue(closed, "the menu stayed open")
        # The command is posted after the menu closes: let the window handle it
        # (after Exit the window is gone and the ping simply fails).
        self.env.ping(window, 10000)

    def cpu_seconds(self, proc):
        with open("/proc/%d/stat" % proc.pid) as stat:
            fields = stat.read().rsplit(")", 1)[1].split()
        return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


# -- BrimSet -------------------------------------------------------------------

def fifteen_percent(capacity):
    return capacity * 15 // 100


class ConfigTestCase(unittest.TestCase):
    """Starts BrimSet in a fresh prefix and drives its dialogs from outside."""

    proc = None
    dialog = None

    def make_env(self, drives=None, display=True):
        require_programs(self, "BrimSet.exe", "BrimDriver.exe")
        self.env = WineEnv.for_test(self, display=display, drives=drives)
        exe = self.env.install_program("BrimSet.exe", INSTALL_DIR)
        docs = exe.parent / "docs"
        docs.mkdir(exist_ok=True)
        shutil.copy2(BUILD_DIR / "config" / "docs" / "Brimline.html", docs / "Brimline.html")
        self.install_dir = exe.parent
        return self.env

    # -- the program ------------------------------------------------------

    def start_brimset(self, *args, log="brimset.log", debug="-all", lc_all=None):
        self.proc = self.env.start(BRIMSET_EXE, *args, log=log, debug=debug,
                                   env={"LC_ALL": lc_all} if lc_all else None)
        return self.proc

    def open_drive_list(self, debug="-all", lc_all=None):
        self.start_brimset(debug=debug, lc_all=lc_all)
        self.dialog = self.env.find_window("#32770", TITLE, timeout=60)
        self.assertIsNotNone(self.dialog, "the drive list dialog did not appear")
        self.settle(self.dialog)
        return self.dialog

    def settle(self, hwnd, seconds=1.0):
        """Waits until the window's thread has handled what is queued, and
        a little longer for the desktop to paint it."""
        self.env.ping(hwnd, 10000)
        time.sleep(seconds)

    def screenshot(self, name, hwnd):
        self.settle(hwnd)
        return self.env.screenshot(name)

    def wait_exit(self, timeout=60):
        return self.env.wait_exit(self.proc, timeout)

    def brimset_windows(self):
        """Top-level windows of the running BrimSet process."""
        everything = self.env.windows()
        pids = {w["pid"] for w in everything if w["hwnd"] == self.dialog}
        return [w for w in everything if w["pid"] in pids]

    # -- the drive list ---------------------------------------------------

    def rows(self):
        return self.env.listview(self.dialog, IDC_DRIVELIST)

    def row_letters(self):
        letters = []
        for row in self.rows():
            match = re.search(r"\(([A-Z]):\)", row["cells"][0])
            letters.append(match.group(1) if match else None)
        return letters

    def row_of(self, letter):
        return self.row_letters().index(letter.upper())

    def cells(self, letter):
        return self.rows()[self.row_of(letter)]["cells"]

    def command(self, hwnd, control_id, notify=0):
        """Posts WM_COMMAND as the control would: returns at once, also when
        the command opens a modal window."""
        self.env.driver_ok("command", hwnd_text(hwnd), str(control_id), str(notify))

    def click(self, hwnd, control_id):
        self.env.driver_ok("click", hwnd_text(hwnd), str(control_id))

    def set_check(self, letter, checked):
        self.env.driver_ok("lvcheck", hwnd_text(self.dialog), str(IDC_DRIVELIST), str(self.row_of(letter)),
                           "1" if checked else "0")

    def select(self, letter):
        self.env.driver_ok("lvselect", hwnd_text(self.dialog), str(IDC_DRIVELIST), str(self.row_of(letter)))

    def checked(self, hwnd, control_id):
        return self.env.driver_ok("checked", hwnd_text(hwnd), str(control_id)).strip() == "1"

    def enabled(self, hwnd, control_id):
        return self.env.driver_ok("enabled", hwnd_text(hwnd), str(control_id)).strip() == "1"

    def owner(self, hwnd):
        return int(self.env.driver_ok("owner", hwnd_text(hwnd)).strip(), 16)

    def apply(self):
        """Presses Apply; it returns once the Apply has run (no message box)."""
        self.click(self.dialog, IDC_APPLY)

    def apply_until_tray(self, changes, attempts=5):
        """Applies until a running monitor's tray shows every (kind, icon id)
        of `changes`; returns the seconds from the last Apply to the tray.
        Apply always pulses, but a pulse that finds the monitor's thread
        outside its wait is lost, so it is repeated."""
        since = self.env.tray_mark()
        for _ in range(attempts):
            self.apply()
            applied = time.monotonic()
            if wait_for(lambda: all(self.env.tray_has(kind, icon, since) for kind, icon in changes), 8, 0.05):
                return time.monotonic() - applied
        self.fail("the monitor did not show %r after %d Applies: %r" % (changes, attempts,
                                                                       self.env.tray_events(since)))

    # -- the threshold dialog ---------------------------------------------

    def open_threshold(self, letter):
        self.select(letter)
        self.command(self.dialog, IDC_MODIFY)
        box = self.env.find_window("#32770", THRESHOLD_TITLE, timeout=30)
        self.assertIsNotNone(box, "the threshold dialog did not open")
        return box

    def close_threshold(self, box, button):
        self.click(box, button)
        self.assertTrue(self.env.driver("waitgone", hwnd_text(box), "10000")[0] == 0, "the threshold dialog stayed")

    def modify(self, letter, text):
        """Modify with `text` typed in the megabyte field and OK."""
        box = self.open_threshold(letter)
        self.env.driver_ok("settext", hwnd_text(box), str(IDC_ALARMAT), text)
        self.close_threshold(box, IDC_MODIFY)

    # -- message boxes ----------------------------------------------------

    def expect_message(self, text, answer="ok", timeout=20.0):
        box = self.env.message_box(timeout)
        self.assertIsNotNone(box, "no message box appeared (expected %r)" % text)
        self.assertEqual(box["text"], text)
        self.assertEqual(box["title"], TITLE)
        self.assertEqual(box["owner"], self.dialog)
        self.assertTrue(self.env.answer_message_box(answer, owner=self.dialog), "the message box stayed")
        return box

    def expect_no_message(self, timeout=3.0):
        box = self.env.message_box(timeout)
        self.assertIsNone(box, "unexpected message box: %r" % (box,))

    # -- the settings-changed event ---------------------------------------

    def start_waiter(self, event="settings", log="waiter.log", timeout_ms=60000):
        """A driver waiting on a named event; returns (proc, log path) once it
        is inside its wait. It ends with 0 when signalled, 1 at the time-out."""
        path = self.env.logs_dir / log
        proc = self.env.start(program("BrimDriver.exe"), "wait", event, str(timeout_ms),
                              log=log)
        self.assertTrue(wait_for(lambda: path.exists() and "waiting" in path.read_text(errors="replace"), 60, 0.1),
                        "the event waiter did not start")
        time.sleep(0.5)  # from printing "waiting" into the wait itself
        return proc, path

    def assert_signalled(self, waiter, timeout=30):
        proc, path = waiter
        code = self.env.wait_exit(proc, timeout)
        self.assertEqual(code, 0, "the event was not pulsed: " + path.read_text(errors="replace"))
        self.assertIn("signalled", path.read_text(errors="replace"))

    # -- registry ---------------------------------------------------------

    def policy_value(self, view=64):
        return self.env.reg_query(EXPLORER_POLICY_KEY, "NoLowDiskSpaceChecks", view=view)

    def drive_capacity(self, letter):
        out = self.env.driver_ok("freespace", letter.upper() + ":")
        return int(re.search(r"total=(\d+)", out).group(1))
