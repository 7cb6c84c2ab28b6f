"""The Windows Installer package: its tables, and a silent install, use,
upgrade and uninstall under Wine in a fresh prefix.

The package under test is the one the build tree made beside its programs
(BRIM_BUILD_DIR/Brimline-<version>-<arch>.msi). The upgrade test builds a
later version from the same source with wixl, from the build tree's package
folder.
"""

import os
import re
import shutil
import subprocess
import tempfile
import threading
import time
import unittest
from pathlib import Path

from brimharness import (BUILD_DIR, SOURCE_DIR, MiB, WineEnv, in_ci, parse_drive_settings, program, read_records,
                         require_programs, wait_for)
from brimcases import (COMPANY as MANUFACTURER, IDC_CLOSE, IDC_HELPPAGE, IDM_CONFIGURE, MONITOR_CLASS,
                       OS_LOW_SPACE_SWITCH_RECORD, PRODUCT, SETTINGS_KEY, TITLE, VERSION, WM_COMMAND, brimset_text)


WXS = SOURCE_DIR / "installer" / "Brimline.wxs"
PACKAGE_ACTIONS = SOURCE_DIR / "installer" / "package-actions.sql"  # what msibuild adds to wixl's package
PACKAGE_DIR = BUILD_DIR / "package"
PACKAGES = r"C:\brim-packages"
RECORDERS = r"C:\brim-recorders"
MSIEXEC = r"C:\windows\system32\msiexec.exe"  # the 64-bit one; it installs both kinds

# The upgrade codes are a promise to every machine that has the package: a
# changed one installs a second product beside the first.
UPGRADE_CODES = {"x64": "{98B5B614-9C0F-4FDB-ACAF-097D66084463}",
                 "x86": "{D0F17955-2E8A-4B6C-84B9-B3636F467456}"}
PROGRAM_FILES = {"x64": r"C:\Program Files", "x86": r"C:\Program Files (x86)"}
PROGRAM_FILES_PROPERTY = {"x64": "ProgramFiles64Folder", "x86": "ProgramFilesFolder"}
VIEWS = {"x64": 64, "x86": 32}

RUN_KEY = r"HKLM\Software\Microsoft\Windows\CurrentVersion\Run"
EVENT_SOURCE_KEY = r"HKLM\SYSTEM\CurrentControlSet\Services\EventLog\Application\Brimline"
EXPLORER_POLICY_KEY = r"HKLM\Software\Microsoft\Windows\CurrentVersion\Policies\Explorer"
RUN_VALUE = "Brimline Monitor"
UNINSTALL_KEY = r"HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall"
SHORTCUT = "Brimline Configuration.lnk"
# Installed side by side: the programs look for each other, and for the
# updater, in their own folder.
PROGRAMS = ("BrimWatch.exe", "BrimSet.exe", "VelloranUpdater.exe")
# The help page in each language, as the sources have them, and their style sheet.
HELP_PAGES = tuple(sorted(page.name for page in (SOURCE_DIR / "docs").glob("Brimline*.html"))) + ("Brimline.css",)
INSTALLED_FILES = PROGRAMS + tuple("docs\\" + page for page in HELP_PAGES)


# Custom action type bits.
CA_DLL_FROM_BINARY = 1
CA_EXE_FROM_FILE = 18
CA_ERROR = 19
CA_SET_PROPERTY = 51
CA_CONTINUE = 64
CA_IN_SCRIPT = 1024
CA_NO_IMPERSONATE = 2048
COMPONENT_64BIT = 256
UPGRADE_ONLY_DETECT, UPGRADE_INCLUDE_MINIMUM = 2, 256


def built_package():
    """(path, arch) of the package the build tree made, or (None, None)."""
    for arch in ("x64", "x86"):
        path = BUILD_DIR / ("%s-%s-%s.msi" % (PRODUCT, VERSION, arch))
        if path.is_file():
            return path, arch
    return None, None


def require_package(testcase):
    path, arch = built_package()
    if path is None:
        reason = "no MSI package in %s (is wixl installed?)" % BUILD_DIR
        if in_ci():
            testcase.fail(reason + " (CI=true: this test must run)")
        testcase.skipTest(reason)
    return path, arch


def build_package(arch, version, out_dir):
    """A package built by wixl from the source, with the build tree's
    package folder as its files."""
    out = Path(out_dir) / ("%s-%s-%s.msi" % (PRODUCT, version, arch))
    subprocess.run(["wixl", "-a", arch, "-D", "Arch=" + arch, "-D", "ProductVersion=" + version,
                    "-D", "Manufacturer=" + MANUFACTURER, "-D", "ProductName=" + PRODUCT,
                    "-o", str(out), str(WXS)], cwd=str(PACKAGE_DIR), check=True, capture_output=True,
                   timeout=120)
    for query in PACKAGE_ACTIONS.read_text(encoding="utf-8").splitlines():
        subprocess.run(["msibuild", str(out), "-q", query], check=True, capture_output=True, timeout=60)
    return out


def msi_table(msi, table):
    """Rows of one table as lists of strings (msiinfo export, header dropped)."""
    text = subprocess.run(["msiinfo", "export", str(msi), table], check=True, capture_output=True,
                          text=True, timeout=60).stdout
    return [line.split("\t") for line in text.splitlines()[3:] if line]


def msi_template(msi):
    text = subprocess.run(["msiinfo", "suminfo", str(msi)], check=True, capture_output=True, text=True,
                          timeout=60).stdout
    return re.search(r"^Template: (.*)$", text, re.M).group(1).strip()


def read_msi_log(path):
    data = Path(path).read_bytes()
    if data[:2] == b"\xff\xfe":
        return data.decode("utf-16-le", "replace")
    return data.decode("utf-8", "replace")


def action_starts(log_text, action):
    """Line numbers at which the log says `action` started."""
    pattern = re.compile(r"^Action start [0-9:]+: %s\.$" % re.escape(action))
    return [i for i, line in enumerate(log_text.splitlines()) if pattern.match(line.strip())]


class PackageTablesTest(unittest.TestCase):
    """What the package holds, read from its tables without installing."""

    def check_package(self, msi, arch):
        with self.subTest(arch=arch):
            self.assertEqual(msi_template(msi), ("x64" if arch == "x64" else "Intel") + ";1033")
            props = dict((row[0], row[1]) for row in msi_table(msi, "Property"))
            self.assertEqual(props["ProductVersion"], VERSION)
            self.assertEqual(props["Manufacturer"], MANUFACTURER)
            self.assertEqual(props["ProductName"], PRODUCT)
            self.assertEqual(props["UpgradeCode"], UPGRADE_CODES[arch])
            self.assertEqual(props["ALLUSERS"], "1")

            # One folder: <Program Files>\Velloran\Brimline, help page in docs.
            dirs = {row[0]: (row[1], row[2]) for row in msi_table(msi, "Directory")}
            self.assertEqual(dirs["INSTALLDIR"][1], PRODUCT)
            maker = dirs["INSTALLDIR"][0]
            self.assertEqual(dirs[maker], (PROGRAM_FILES_PROPERTY[arch], MANUFACTURER))
            other = PROGRAM_FILES_PROPERTY["x86" if arch == "x64" else "x64"]
            self.assertNotIn(other, dirs)
            components = {row[0]: row for row in msi_table(msi, "Component")}
            files = {row[2]: components[row[1]][2] for row in msi_table(msi, "File")}
            self.assertEqual(set(files), set(PROGRAMS) | set(HELP_PAGES))
            for name in PROGRAMS:
                self.assertEqual(files[name], "INSTALLDIR", name)
            for page in HELP_PAGES:
                self.assertEqual(dirs[files[page]], ("INSTALLDIR", "docs"), page)
            for name, row in components.items():
                self.assertEqual(int(row[3]) & COMPONENT_64BIT != 0, arch == "x64", "component " + name)

            # The log-on start (the event source's rows are proven by an
            # install), and nothing of the settings key.
            registry = msi_table(msi, "Registry")
            self.assertEqual([row[1:5] for row in registry if row[5] == "LogOnStart"],
                             [["2", RUN_KEY.split("\\", 1)[1], RUN_VALUE, '"[INSTALLDIR]BrimWatch.exe"']])
            self.assertFalse([row for row in registry if "BrimSet" in row[2]])

            shortcuts = msi_table(msi, "Shortcut")
            self.assertEqual(len(shortcuts), 1)
            self.assertEqual(shortcuts[0][1:3], ["ProgramMenuFolder", SHORTCUT[:-4]])
            self.assertEqual(shortcuts[0][4], "[INSTALLDIR]BrimSet.exe")

            # BrimSet /U before InstallValidate and in the script before the
            # files go, on every removal, never failing the uninstall.
            actions = {row[0]: row for row in msi_table(msi, "CustomAction")}
            sequence = {row[0]: (row[1], int(row[2])) for row in msi_table(msi, "InstallExecuteSequence")}
            location = actions.pop("SetInstallLocation")
            self.assertEqual([int(location[1]) & 0x3F] + location[2:4],
                             [CA_SET_PROPERTY, "ARPINSTALLLOCATION", "[INSTALLDIR]"])
            self.check_settings_actions(actions, sequence, props)
            self.check_install_folder_actions(actions, sequence, arch)
            # The warning given back in the elevated script before the
            # files go, never failing the uninstall, and not at an
            # upgrade's removal (which Wine's installer does not mark).
            restore = int(actions.pop("RestoreOsWarning")[1])
            self.assertEqual(restore & (CA_IN_SCRIPT | CA_NO_IMPERSONATE | CA_CONTINUE),
                             CA_IN_SCRIPT | CA_NO_IMPERSONATE | CA_CONTINUE)
            self.assertEqual(sequence["RestoreOsWarning"][0], 'REMOVE~="ALL" AND NOT UPGRADINGPRODUCTCODE')
            self.assertEqual(set(actions), {"CloseMonitorsEarly", "CloseMonitors"})
            for name, row in actions.items():
                kind = int(row[1])
                self.assertEqual(kind & 0x3F, CA_EXE_FROM_FILE, name)
                self.assertTrue(kind & CA_CONTINUE, name + " must not fail the uninstall")
                self.assertEqual(row[2:4], ["BrimSet.exe", "/U"], name)
                self.assertEqual(sequence[name][0], 'REMOVE~="ALL"', name)
            early, script = int(actions["CloseMonitorsEarly"][1]), int(actions["CloseMonitors"][1])
            self.assertFalse(early & CA_IN_SCRIPT)
            self.assertEqual(script & (CA_IN_SCRIPT | CA_NO_IMPERSONATE), CA_IN_SCRIPT | CA_NO_IMPERSONATE)
            at = {name: seq for name, (_, seq) in sequence.items()}
            self.assertLess(at["CostFinalize"], at["SetInstallLocation"])
            self.assertLess(at["CostFinalize"], at["CloseMonitorsEarly"])
            self.assertLess(at["CloseMonitorsEarly"], at["InstallValidate"])
            self.assertLess(at["InstallInitialize"], at["CloseMonitors"])
            self.assertLess(at["CloseMonitors"], at["RemoveFiles"])
            self.assertLess(at["InstallInitialize"], at["RestoreOsWarning"])
            self.assertLess(at["RestoreOsWarning"], at["RemoveFiles"])
            # The older version is removed as a whole, after the checks and
            # before anything of this one is installed.
            self.assertLess(at["InstallValidate"], at["RemoveExistingProducts"])
            self.assertLess(at["RemoveExistingProducts"], at["InstallInitialize"])
            # ... and only then: at a repair, which any user may start, the
            # properties that name what to remove could be anybody's.
            self.assertEqual(sequence["RemoveExistingProducts"][0], "NOT Installed")

            # Upgrades: any installed version of either architecture's
            # package is removed, unless a later one is there, which stops
            # the install.
            other = "x86" if arch == "x64" else "x64"
            upgrade = sorted(row[:5] + row[6:7] for row in msi_table(msi, "Upgrade"))
            self.assertEqual(upgrade, sorted([
                [UPGRADE_CODES[arch], "0.0.0.0", "", "", str(UPGRADE_INCLUDE_MINIMUM), "PREVIOUSVERSIONSINSTALLED"],
                [UPGRADE_CODES[arch], VERSION, "", "", str(UPGRADE_ONLY_DETECT), "NEWERVERSIONDETECTED"],
                [UPGRADE_CODES[other], "0.0.0.0", "", "", str(UPGRADE_INCLUDE_MINIMUM), "OTHERARCHITECTUREINSTALLED"],
                [UPGRADE_CODES[other], VERSION, "", "", str(UPGRADE_ONLY_DETECT), "NEWEROTHERARCHITECTURE"]]))
            self.assertEqual(msi_table(msi, "LaunchCondition")[0][0],
                             "Installed OR NOT (NEWERVERSIONDETECTED OR NEWEROTHERARCHITECTURE)")
            secure = props["SecureCustomProperties"].split(";")
            self.assertIn("PREVIOUSVERSIONSINSTALLED", secure)
            self.assertIn("OTHERARCHITECTUREINSTALLED", secure)

    def check_settings_actions(self, actions, sequence, props):
        """What an install cannot show: BrimSet's check runs from the package
        before an older version goes, its apply in the elevated script, and
        WATCH and OSWARNING reach it; the upgrade's keeping of the warning
        never fails an install. Takes the five actions out of `actions`."""
        kinds = {name: int(actions.pop(name)[1]) for name in ("SetWatchArguments", "SetOsWarningArguments",
                                                              "CheckSettings", "ApplySettings", "KeepOsWarningOff")}
        self.assertEqual((kinds["CheckSettings"], kinds["ApplySettings"] & CA_NO_IMPERSONATE, kinds["KeepOsWarningOff"]),
                         (CA_DLL_FROM_BINARY, CA_NO_IMPERSONATE, CA_DLL_FROM_BINARY | CA_CONTINUE))
        at = {name: seq for name, (_, seq) in sequence.items()}
        self.assertLess(at["CheckSettings"], min(at["InstallValidate"], at["RemoveExistingProducts"]))
        self.assertTrue({"WATCH", "OSWARNING"} <= set(props["SecureCustomProperties"].split(";")))

    def check_install_folder_actions(self, actions, sequence, arch):
        """What an install of this machine's bitness cannot show: each
        package has the check DLL judge INSTALLDIR against its own bitness's
        Program Files, once the folders are known and before anything
        happens; a product already installed is never refused. Takes the
        three actions out of `actions`."""
        folder, check, refuse = (actions.pop(name)
                                 for name in ("SetProgramFilesOfPackage", "CheckInstallDir", "RefuseInstallDir"))
        self.assertEqual([int(folder[1]) & 0x3F, folder[3]], [CA_SET_PROPERTY, "[%s]" % PROGRAM_FILES_PROPERTY[arch]])
        self.assertEqual([int(check[1]), check[3]], [CA_DLL_FROM_BINARY, "CheckInstallDir"])
        self.assertEqual(int(refuse[1]), CA_ERROR)
        self.assertEqual(sequence["CheckInstallDir"][0], "NOT Installed")
        self.assertEqual(sequence["RefuseInstallDir"][0], "NOT Installed AND NOT InstallDirInsideProgramFiles")
        at = {name: seq for name, (_, seq) in sequence.items()}
        self.assertLess(max(at["CostFinalize"], at["SetProgramFilesOfPackage"]), at["CheckInstallDir"])
        self.assertLess(at["CheckInstallDir"], at["RefuseInstallDir"])
        self.assertLess(at["RefuseInstallDir"], min(at["CloseMonitorsEarly"], at["CheckSettings"]))

    def test_tables_of_both_packages(self):
        msi, arch = require_package(self)
        self.check_package(msi, arch)
        # The other architecture: the package of the other bitness's tree
        # (BRIM_OTHER_BUILD_DIR, else the sibling win32 or win64) when it was
        # built, else one made here from the same source and files.
        other = "x86" if arch == "x64" else "x64"
        other_tree = os.environ.get("BRIM_OTHER_BUILD_DIR") or \
            BUILD_DIR.parent / ("win32" if other == "x86" else "win64")
        sibling = Path(other_tree) / ("%s-%s-%s.msi" % (PRODUCT, VERSION, other))
        with tempfile.TemporaryDirectory() as tmp:
            self.check_package(sibling if sibling.is_file() else build_package(other, VERSION, tmp), other)

    def test_programs_import_only_dlls_the_system_takes_from_its_own_directory(self):
        # Known DLLs (KnownDLLs and ntdll) always come from the system, API sets
        # are no files, and common controls named by the manifest come from the
        # side-by-side store; any other DLL is looked for beside the program.
        known = {"advapi32", "clbcatq", "combase", "comdlg32", "coml2", "difxapi", "gdi32", "gdiplus", "imagehlp",
                 "imm32", "kernel32", "msctf", "msvcrt", "normaliz", "nsi", "ntdll", "ole32", "oleaut32", "psapi",
                 "rpcrt4", "sechost", "setupapi", "shcore", "shell32", "shlwapi", "user32", "wldap32", "ws2_32"}
        # The installer's check DLL runs only inside the installer's
        # custom-action process, which has the system's msi.dll loaded
        # before it (installer/InstallCheck.cpp).
        # Each is hardened as cmake/Program.cmake asks (DllCharacteristics:
        # relocatable at a random address, high-entropy on 64-bit, data not
        # executable, and for a program terminal-server aware), and GCC's
        # stack protector, whose run-time part sits in libssp (linked
        # statically; its guard value comes from advapi32), guards its
        # functions.
        dynamic_base, nx_compat, high_entropy_va, terminal_server_aware = 0x40, 0x100, 0x20, 0x8000
        for name, manifest in (("BrimWatch.exe", "monitor/BrimWatch.manifest"),
                               ("BrimSet.exe", "config/BrimSet.manifest"),
                               ("VelloranUpdater.exe", "updater/VelloranUpdater.manifest"), ("BrimSetCheck.dll", None)):
            require_programs(self, name)
            dump = subprocess.run(["x86_64-w64-mingw32-objdump", "-p", "-t", str(program(name))], check=True,
                                  capture_output=True, text=True, timeout=60).stdout
            imports = {dll.lower()[:-4] for dll in re.findall(r"DLL Name: (\S+)", dump)}
            allowed = set(known) | ({"msi"} if name == "BrimSetCheck.dll" else set())
            if manifest and "Microsoft.Windows.Common-Controls" in (SOURCE_DIR / manifest).read_text(encoding="utf-8"):
                allowed.add("comctl32")
            self.assertIn("kernel32", imports)
            self.assertEqual({dll for dll in imports if dll not in allowed and not dll.startswith("api-ms-win-")},
                             set(), name)
            if name == "BrimWatch.exe":
                # COM only when something is opened elevated: never loaded by
                # the monitor, which waits for hours as the user.
                self.assertFalse(imports & {"ole32", "oleaut32", "combase"}, imports)

            wanted = dynamic_base | nx_compat
            wanted |= high_entropy_va if "file format pei-x86-64" in dump else 0
            wanted |= terminal_server_aware if name.endswith(".exe") else 0
            flags = int(re.search(r"^DllCharacteristics\s+([0-9a-fA-F]+)$", dump, re.M).group(1), 16)
            self.assertEqual(flags & wanted, wanted, "%s: DllCharacteristics 0x%04x" % (name, flags))
            # The protector's failure routine is linked only when a function
            # calls it: named in the symbol table of a build that keeps one,
            # else seen by the message it prints.
            if "no symbols" in dump:
                self.assertIn(b"stack smashing detected", program(name).read_bytes(), name)
            else:
                self.assertIn("__stack_chk_fail", dump, name)


class InstallerTest(unittest.TestCase):
    """Silent install, use, upgrade and uninstall in a fresh prefix."""

    def make_env(self):
        require_programs(self, "BrimDriver.exe")
        self.msi, self.arch = require_package(self)
        self.env = WineEnv.for_test(self, drives={"d": 16 * MiB})
        self.view = VIEWS[self.arch]
        self.install_dir = PROGRAM_FILES[self.arch] + r"\%s\%s" % (MANUFACTURER, PRODUCT)
        self.env.to_host(PACKAGES).mkdir(parents=True, exist_ok=True)
        return self.env

    def stage(self, msi):
        """Copies a package into the prefix; returns its Windows path."""
        shutil.copy2(msi, self.env.to_host(PACKAGES))
        return PACKAGES + "\\" + Path(msi).name

    def msiexec(self, *args, log):
        log_path = PACKAGES + "\\" + log
        result = self.env.wine(MSIEXEC, *args, "/qn", "/l*v", log_path, timeout=300)
        # Kept with the environment's logs, so a failed test keeps it.
        shutil.copy2(self.env.to_host(log_path), self.env.logs_dir / log)
        return result.returncode, read_msi_log(self.env.to_host(log_path))

    def installed(self, name):
        return self.env.to_host(self.install_dir + "\\" + name)

    def brimset(self, *args):
        """Runs the installed BrimSet with verbs; its exit code."""
        return self.env.wine(self.install_dir + r"\BrimSet.exe", *args, timeout=60).returncode

    def os_warning(self):
        """(policy value, BrimSet's record of it) as reg_query gives them."""
        return (self.env.reg_query(EXPLORER_POLICY_KEY, "NoLowDiskSpaceChecks", view=64),
                self.env.reg_query(SETTINGS_KEY, OS_LOW_SPACE_SWITCH_RECORD, view=32))

    def run_value(self, view=None):
        found = self.env.reg_query(RUN_KEY, RUN_VALUE, view=view or self.view)
        return found[1] if found else None

    def shortcuts(self):
        """Every copy of the shortcut in a Start menu: all users' or a user's."""
        drive_c = self.env.to_host("C:\\")
        patterns = ["ProgramData/Microsoft/Windows/Start Menu/Programs/" + SHORTCUT,
                    "users/*/AppData/Roaming/Microsoft/Windows/Start Menu/Programs/" + SHORTCUT,
                    "users/*/Start Menu/Programs/" + SHORTCUT]
        return [p for pattern in patterns for p in drive_c.glob(pattern)]

    def products(self):
        """(key, DisplayVersion, InstallLocation) of installed-programs
        entries named like the product, in both registry views."""
        entries = set()
        for view in (64, 32):
            out = self.env.wine("reg", "query", UNINSTALL_KEY, "/s", "/reg:%d" % view, timeout=60).stdout
            for block in re.split(r"\r?\n(?=HKEY_)", out):
                lines = block.splitlines()
                values = dict(re.findall(r"^[ \t]+(\S+)[ \t]+REG_\w+[ \t]*(.*?)[ \t\r]*$", block, re.M))
                if values.get("DisplayName") == PRODUCT:
                    entries.add((lines[0].strip(), values.get("DisplayVersion"), values.get("InstallLocation")))
        return sorted(entries)

    def start_installed_monitor(self):
        """Starts the monitor as the log-on entry says; returns its process
        and hidden window."""
        command = self.run_value()
        match = re.match(r'^"([^"]+)"$', command or "")
        self.assertTrue(match, "log-on entry %r is not a quoted path" % command)
        monitor = self.env.start(match.group(1), log="monitor.log")
        window = wait_for(lambda: [w for w in self.env.windows() if w["class"] == MONITOR_CLASS], 60, 0.25)
        self.assertTrue(window, "the installed monitor did not start")
        # Its worker thread must be inside its wait before anything pulses.
        time.sleep(2)
        return monitor, window[0]["hwnd"]

    def watch_exit(self, monitor, watched_file):
        """Polls in the background: when the monitor ended, and when
        watched_file disappeared or was replaced. Returns (thread, times)."""
        times = {}
        first = watched_file.stat().st_ino

        def file_changed():
            try:
                return watched_file.stat().st_ino != first
            except FileNotFoundError:
                return True

        def poll():
            deadline = time.monotonic() + 300
            while time.monotonic() < deadline and len(times) < 2:
                now = time.monotonic()
                if "exit" not in times and monitor.poll() is not None:
                    times["exit"] = now
                if "gone" not in times and file_changed():
                    times["gone"] = now
                time.sleep(0.002)

        thread = threading.Thread(target=poll, daemon=True)
        thread.start()
        return thread, times

    def assert_closed_before_removal(self, monitor, watcher, what, log=None):
        """The monitor ended with 0 while its file was still there; with the
        msiexec log of the removal: the close actions ran in their places."""
        thread, times = watcher
        self.assertEqual(self.env.wait_exit(monitor, 60), 0, "the monitor's exit code during the " + what)
        thread.join(60)
        self.assertIn("exit", times)
        self.assertIn("gone", times, "the monitor's file was neither removed nor replaced")
        self.assertLess(times["exit"], times["gone"], "the monitor outlived its file during the " + what)
        if log is None:
            return
        early, validate = action_starts(log, "CloseMonitorsEarly"), action_starts(log, "InstallValidate")
        script, remove = action_starts(log, "CloseMonitors"), action_starts(log, "RemoveFiles")
        self.assertTrue(early and validate and script and remove, "actions missing from the %s log" % what)
        self.assertLess(early[0], validate[0])
        # The script's run of each (the log may also list them once when
        # they are scheduled): the close comes first.
        self.assertLess(script[-1], remove[-1])

    def test_install_use_and_uninstall(self):
        env = self.make_env()
        env.set_drive_settings({"d": (1, 8 * MiB)})
        settings = env.drive_settings()
        # The operating system's warning is off by the administrator's
        # policy: BrimSet switching it off as well takes nothing over.
        env.reg_add(EXPLORER_POLICY_KEY, "NoLowDiskSpaceChecks", "REG_DWORD", 1, view=64)
        msi = self.stage(self.msi)

        code, log = self.msiexec("/i", msi, log="install.log")
        self.assertEqual(code, 0, log[-3000:])
        self.assertEqual(self.brimset("/oswarning", "off"), 0)
        self.assertEqual(self.os_warning(), (("REG_DWORD", 1), None))
        for name in INSTALLED_FILES:
            self.assertTrue(self.installed(name).is_file(), name)
        self.assertEqual(self.run_value(), '"%s\\BrimWatch.exe"' % self.install_dir)
        if self.view == 64:
            self.assertIsNone(self.run_value(view=32), "the log-on entry belongs in the native view only")
        self.assertEqual(len(self.shortcuts()), 1, "one Start-menu shortcut")
        self.assertEqual([entry[1:] for entry in self.products()], [(VERSION, self.install_dir + "\\")])

        # The installed monitor finds BrimSet beside it, and BrimSet's Help
        # opens the installed page.
        env.reg_add(r"HKCR\.html", None, "REG_SZ", "htmlfile", view=64)
        help_log = env.make_recorder(RECORDERS + r"\help.exe")
        env.reg_add(r"HKCR\htmlfile\shell\open\command", None, "REG_SZ",
                    '"%s\\help.exe" "%%1"' % RECORDERS, view=64)
        monitor, window = self.start_installed_monitor()
        env.driver_ok("post", "0x%x" % window, str(WM_COMMAND), str(IDM_CONFIGURE), "0")
        dialog = env.find_window("#32770", TITLE, timeout=60)
        self.assertIsNotNone(dialog, "Configure... did not open the installed BrimSet")
        env.driver_ok("command", "0x%x" % dialog, str(IDC_HELPPAGE), "0")
        records = wait_for(lambda: read_records(help_log), 30)
        self.assertEqual(records, [self.install_dir + r"\docs\Brimline.html"])
        env.driver_ok("command", "0x%x" % dialog, str(IDC_CLOSE), "0")
        self.assertEqual(env.driver("waitgone", "0x%x" % dialog, "30000")[0], 0)

        # Uninstall with the monitor running: it is asked to exit first.
        watcher = self.watch_exit(monitor, self.installed("BrimWatch.exe"))
        code, log = self.msiexec("/x", msi, log="uninstall.log")
        self.assertEqual(code, 0, log[-3000:])
        self.assert_closed_before_removal(monitor, watcher, "uninstall", log)

        self.assertFalse(env.to_host(PROGRAM_FILES[self.arch] + "\\" + MANUFACTURER).exists(),
                         "program folder left behind")
        self.assertIsNone(self.run_value())
        self.assertEqual(self.shortcuts(), [])
        self.assertEqual(self.products(), [])
        self.assertEqual(env.drive_settings(), settings, "the administrator's settings must survive")
        self.assertEqual(self.os_warning(), (("REG_DWORD", 1), None), "the policy's value must stay")

    def test_settings_given_at_install_and_a_bad_one_changes_nothing(self):
        env = self.make_env()
        env.set_drive_settings({"d": (0, 3 * MiB), "e": (1, 5 * MiB)})
        msi = self.stage(self.msi)
        code, log = self.msiexec("/i", msi, "WATCH=d:=10% E:=OFF", "OSWARNING=off", log="install.log")
        self.assertEqual(code, 0, log[-3000:])
        total = int(re.search(r"total=(\d+)", env.driver_ok("freespace", "D:")).group(1))
        settings = parse_drive_settings(env.drive_settings())
        self.assertEqual((settings["D"], settings["E"]), ((1, total // 10), (0, 5 * MiB)))
        self.assertEqual(self.os_warning(), (("REG_DWORD", 1), ("REG_NONE", b"")))
        self.assertEqual([env.reg_query(EVENT_SOURCE_KEY, name, view=64) for name in ("EventMessageFile",
                                                                                       "TypesSupported")],
                         [("REG_SZ", self.install_dir + "\\BrimWatch.exe"), ("REG_DWORD", 7)])
        code, log = self.msiexec("/x", msi, log="uninstall.log")
        self.assertEqual(code, 0, log[-3000:])
        self.assertNotEqual(env.wine("reg", "query", EVENT_SOURCE_KEY, "/reg:64").returncode, 0,
                            "the event source's key stayed")
        # BrimSet switched the warning off where there was no value: none.
        self.assertEqual(self.os_warning(), (None, None), "the operating system's warning stayed off")

        # Refused before anything changes: a folder outside Program Files,
        # also one whose text starts there and climbs out of it; a bad
        # assignment, whose sentence reaches the log (brackets included,
        # which the installer would otherwise read as a name); and the close
        # switch after an assignment, which WATCH would otherwise hand on to
        # the installed BrimSet's command line. Meanwhile the
        # administrator's policy switches the warning off.
        env.reg_add(EXPLORER_POLICY_KEY, "NoLowDiskSpaceChecks", "REG_DWORD", 1, view=64)
        stored = env.drive_settings()
        bad = "E:=lots[ProductName]"
        for case, args, action, message in (
                ("folder", ("INSTALLDIR=C:\\Brimline",), "RefuseInstallDir", None),
                ("climbing-out", ("INSTALLDIR=%s\\..\\Brimline\\" % PROGRAM_FILES[self.arch],), "RefuseInstallDir",
                 None),
                ("assignment", ("WATCH=D:=8192 " + bad, "OSWARNING=on"), "CheckSettings",
                 brimset_text("IDS_VERB_BAD_ASSIGNMENT", bad)),
                ("close-switch", ("WATCH=C:=8192 -u",), "CheckSettings", brimset_text("IDS_VERB_BAD_ASSIGNMENT", "-u"))):
            with self.subTest(case):
                code, log = self.msiexec("/i", msi, *args, log="install-%s.log" % case)
                self.assertNotEqual(code, 0, "the install must fail")
                self.assertTrue(action_starts(log, action), log[-3000:])
                self.assertFalse(action_starts(log, "InstallFiles"), "the install went on after " + action)
                if message:
                    self.assertIn(message, log)
                self.assertEqual(env.drive_settings(), stored)
                self.assertEqual(self.os_warning(), (("REG_DWORD", 1), None))
                self.assertEqual(self.products(), [])
                self.assertFalse(env.to_host("C:\\Brimline").exists())

        # Another folder inside Program Files, in other letters' case, is
        # taken. (Wine's installer removes a product from the folder it
        # would choose now, not from where it is: no uninstall here.)
        custom = r"\Velloran Tools\Brimline"
        code, log = self.msiexec("/i", msi, "INSTALLDIR=" + PROGRAM_FILES[self.arch].lower() + custom,
                                 log="install-custom.log")
        self.assertEqual(code, 0, log[-3000:])
        self.assertTrue(env.to_host(PROGRAM_FILES[self.arch] + custom + r"\BrimSet.exe").is_file())

    def test_maintenance_run_leaves_the_settings_alone(self):
        # Windows Installer lets any user repair a per-machine product, and
        # hands the secure WATCH and OSWARNING to the elevated script: at a
        # repair or another run of the installed product they change
        # nothing. Wine's msiexec /f takes neither properties nor a product
        # code, so the same runs go through /i: the package with REINSTALL,
        # which is what /fa asks for, and the product code.
        env = self.make_env()
        env.set_drive_settings({"d": (1, 8 * MiB)})
        msi = self.stage(self.msi)
        code, log = self.msiexec("/i", msi, log="install.log")
        self.assertEqual(code, 0, log[-3000:])
        settings, warning = env.drive_settings(), self.os_warning()
        product = dict((row[0], row[1]) for row in msi_table(self.msi, "Property"))["ProductCode"]
        for case, target in (("repair", (msi, "REINSTALL=ALL", "REINSTALLMODE=amus")), ("product", (product,))):
            with self.subTest(case):
                code, log = self.msiexec("/i", *target, "WATCH=C:=4096", "OSWARNING=off",
                                         log="maintenance-%s.log" % case)
                self.assertEqual(code, 0, log[-3000:])
                self.assertEqual(env.drive_settings(), settings)
                self.assertEqual(self.os_warning(), warning)

    def test_later_version_upgrades_in_place(self):
        env = self.make_env()
        env.set_drive_settings({"d": (1, 4 * MiB)})
        settings = env.drive_settings()
        major, minor, build, revision = VERSION.split(".")
        later_version = "%s.%s.%d.%s" % (major, minor, int(build) + 1, revision)
        older = self.stage(self.msi)
        with tempfile.TemporaryDirectory() as tmp:
            later = self.stage(build_package(self.arch, later_version, tmp))
            # Another build of the same version: a product code of its own.
            rebuilt = PACKAGES + "\\again-" + Path(self.msi).name
            shutil.copy2(build_package(self.arch, VERSION, tmp), self.env.to_host(rebuilt))

        code, log = self.msiexec("/i", older, log="install-old.log")
        self.assertEqual(code, 0, log[-3000:])
        env.reg_add(EXPLORER_POLICY_KEY, "NoLowDiskSpaceChecks", "REG_DWORD", 0, view=64)
        self.assertEqual(self.brimset("/oswarning", "off"), 0)
        code, log = self.msiexec("/i", rebuilt, log="install-rebuilt.log")
        self.assertEqual(code, 0, log[-3000:])
        self.assertEqual(len(self.products()), 1, "the same version from another build installed beside the first")
        monitor, _ = self.start_installed_monitor()

        watcher = self.watch_exit(monitor, self.installed("BrimWatch.exe"))
        code, log = self.msiexec("/i", later, log="install-new.log")
        self.assertEqual(code, 0, log[-3000:])
        # The older product's removal runs as an msiexec of its own, whose
        # steps this log does not show.
        self.assert_closed_before_removal(monitor, watcher, "upgrade")

        entries = self.products()
        self.assertEqual([entry[1] for entry in entries], [later_version], entries)
        for name in INSTALLED_FILES:
            self.assertTrue(self.installed(name).is_file(), name)
        self.assertEqual(self.run_value(), '"%s\\BrimWatch.exe"' % self.install_dir)
        self.assertEqual(len(self.shortcuts()), 1)
        self.assertEqual(env.drive_settings(), settings)
        # Only a plain uninstall gives the warning back: the later version
        # keeps it off, and BrimSet's record of what it was.
        self.assertEqual(self.os_warning(), (("REG_DWORD", 1), ("REG_DWORD", 0)))

        # The older package no longer installs over the later one.
        code, _ = self.msiexec("/i", older, log="downgrade.log")
        self.assertNotEqual(code, 0, "an older package must not replace a later one")
        self.assertEqual([entry[1] for entry in self.products()], [later_version])

    def test_package_of_the_other_architecture_is_replaced(self):
        env = self.make_env()
        other = "x86" if self.arch == "x64" else "x64"
        with tempfile.TemporaryDirectory() as tmp:
            other_msi = self.stage(build_package(other, VERSION, tmp))
        msi = self.stage(self.msi)
        other_dir = PROGRAM_FILES[other] + "\\" + MANUFACTURER

        code, log = self.msiexec("/i", other_msi, log="install-other.log")
        self.assertEqual(code, 0, log[-3000:])
        self.assertTrue(env.to_host(other_dir).is_dir())
        self.assertIsNotNone(self.run_value(view=VIEWS[other]))

        code, log = self.msiexec("/i", msi, log="install.log")
        self.assertEqual(code, 0, log[-3000:])
        self.assertEqual([entry[1:] for entry in self.products()], [(VERSION, self.install_dir + "\\")])
        self.assertFalse(env.to_host(other_dir).exists(), "the other architecture's files stayed")
        self.assertIsNone(self.run_value(view=VIEWS[other]), "a second log-on entry stayed")
        self.assertEqual(self.run_value(), '"%s\\BrimWatch.exe"' % self.install_dir)
        self.assertEqual(len(self.shortcuts()), 1)

    def test_signed_package_installs(self):
        # A copy of the package signed by the release's signing script, with
        # a throw-away code-signing certificate; settings given at install
        # run the package's check DLL and the installed BrimSet.
        if not (shutil.which("openssl") and shutil.which("osslsigncode")):
            if in_ci():
                self.fail("openssl and osslsigncode are needed (CI=true: this test must run)")
            self.skipTest("openssl or osslsigncode missing (scripts/setup.sh installs them)")
        env = self.make_env()
        with tempfile.TemporaryDirectory() as tmp:
            key, cert, pfx, signed = (Path(tmp) / name
                                      for name in ("key.pem", "cert.pem", "signer.pfx", self.msi.name))
            for command in (["req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", key, "-out", cert, "-days", "2",
                             "-subj", "/CN=Brimline test signer", "-addext", "extendedKeyUsage=codeSigning"],
                            ["pkcs12", "-export", "-in", cert, "-inkey", key, "-out", pfx, "-passout", "pass:test"]):
                subprocess.run(["openssl"] + command, check=True, capture_output=True, timeout=60)
            shutil.copy2(self.msi, signed)
            subprocess.run([SOURCE_DIR / "scripts" / "sign.sh", signed], check=True, capture_output=True, timeout=60,
                           env=dict(os.environ, BRIM_SIGN_PFX=str(pfx), BRIM_SIGN_PASSWORD="test"))
            msi = self.stage(signed)

        code, log = self.msiexec("/i", msi, "WATCH=D:=8", log="install-signed.log")
        self.assertEqual(code, 0, log[-3000:])
        self.assertTrue(action_starts(log, "CheckSettings"), log[-3000:])
        for name in INSTALLED_FILES:
            self.assertTrue(self.installed(name).is_file(), name)
        self.assertEqual(parse_drive_settings(env.drive_settings())["D"], (1, 8 * MiB))


if __name__ == "__main__":
    unittest.main()
