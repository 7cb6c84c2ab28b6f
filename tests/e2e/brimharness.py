"""End-to-end test harness: each test drives the real programs in a fresh
Wine prefix of its own (WineEnv), with tmpfs drives of exact sizes, an Xvfb
display whose Wine desktop traces every tray call, and BrimDriver.exe to
work the registry, named events and windows from inside the prefix.

Life cycle: WineEnv.for_test(testcase, drives=..., display=...) skips the
test without root (for drives), Xvfb or Wine (fails instead with CI=true);
makes the prefix from a template that is made once per build tree
($BRIM_BUILD_DIR/wine-template, by wineboot under a lock), as an overlay
mount when root, else as a copy; mounts the drives, starts Xvfb, the
desktop and the wineserver; and registers close() as the test's cleanup.
close() ends every process of the prefix, unmounts and removes it, and
keeps a failed test's screenshot and logs in ARTIFACTS_DIR/failures/<test
id> (with BRIM_KEEP_LOGS=1, every environment's logs in ARTIFACTS_DIR/logs).
for_class() shares one environment among the tests of a class. What a
killed test process left behind is swept when the next environment starts.

Run programs from inside the prefix (install_program): started from a host
path outside its drives, a program's own folder is a "unix\\..." path and
nothing beside it is found.

Where to look: brimcases.py for the base test cases and the programs' own
facts; tests/driver (`BrimDriver help`) for the commands driver() sends to
one long-lived `BrimDriver serve`; scripts/wine.sh for the Wine loaders and
environment; test_harness.py for the harness's own tests.
"""

import contextlib
import ctypes
import errno
import fcntl
import os
import re
import select
import shutil
import signal
import struct
import subprocess
import sys
import tempfile
import time
import weakref
from pathlib import Path

MiB = 1024 * 1024

SOURCE_DIR = Path(os.environ.get("BRIM_SOURCE_DIR") or Path(__file__).resolve().parents[2])
BUILD_DIR = Path(os.environ.get("BRIM_BUILD_DIR") or SOURCE_DIR / "build" / "win64")
ARTIFACTS_DIR = BUILD_DIR / "artifacts"
# The build of the other bitness from the same sources, when there is one.
OTHER_BUILD_DIR = Path(os.environ["BRIM_OTHER_BUILD_DIR"]) if os.environ.get("BRIM_OTHER_BUILD_DIR") else None
TEMPLATE_DIR = BUILD_DIR / "wine-template"
# The machine-wide settings key, in the 32-bit view (set_drive_settings).
SETTINGS_KEY = r"HKLM\Software\Velloran\BrimSet"
ENVS_DIR = BUILD_DIR / "wine-envs"

_PROGRAM_DIRS = {
    "brimwatch.exe": ("monitor", "BrimWatch.exe"),
    "brimset.exe": ("config", "BrimSet.exe"),
    "brimsetcheck.dll": ("installer", "BrimSetCheck.dll"),
    "velloranupdater.exe": ("updater", "VelloranUpdater.exe"),
    "brimdriver.exe": ("tests/driver", "BrimDriver.exe"),
    "brimrecorder.exe": ("tests/driver", "BrimRecorder.exe"),
}

_TRAY_DEBUG = "-all,trace+systray,trace+tooltips"
_TEMPLATE_STAMP = ".brim-template"


def _wine_settings():
    """What scripts/wine.sh names: the loader of each bitness, the
    wineserver, and the environment its brim_wine_environment exports.
    Sourced with Wine's own variables taken out of ours, so that the
    project's values are the ones read."""
    names = ("BRIM_WINE64", "BRIM_WINE32", "BRIM_WINESERVER", "WINELOADER", "WINEARCH", "WINEDEBUG",
             "WINEDLLOVERRIDES")
    script = 'source "$1" && brim_wine_environment && for name in %s; do printf "%%s=%%s\\0" "$name" "${!name}"; done'
    environment = {name: value for name, value in os.environ.items() if not name.startswith("WINE")}
    out = subprocess.run(["bash", "-c", script % " ".join(names), "bash", str(SOURCE_DIR / "scripts" / "wine.sh")],
                         env=environment, stdin=subprocess.DEVNULL, capture_output=True, text=True, timeout=60,
                         check=True).stdout
    return dict(item.split("=", 1) for item in out.split("\0") if item)


_WINE = _wine_settings()
# Debian's loaders, named by bitness (see scripts/wine.sh for why).
WINE64_LOADER = _WINE["BRIM_WINE64"]
WINE32_LOADER = _WINE["BRIM_WINE32"]
WINESERVER = _WINE["BRIM_WINESERVER"]


def program(name, tree=None):
    """Path of BrimWatch.exe, BrimSet.exe, VelloranUpdater.exe, BrimDriver.exe,
    BrimRecorder.exe or the installer's BrimSetCheck.dll in a build tree
    (BUILD_DIR's)."""
    key = name.lower()
    if not key.endswith((".exe", ".dll")):
        key += ".exe"
    if key not in _PROGRAM_DIRS:
        raise ValueError("unknown program %r" % name)
    folder, file_name = _PROGRAM_DIRS[key]
    return Path(tree or BUILD_DIR) / folder / file_name


def in_ci():
    return os.environ.get("CI", "").lower() == "true"


_PE_MACHINE_BITS = {0x014C: 32, 0x8664: 64, 0xAA64: 64}


def pe_bits(path):
    """32 or 64: the bitness of a Windows program, from its PE header's
    machine field."""
    with open(path, "rb") as f:
        head = f.read(4096)
    offset = struct.unpack_from("<I", head, 0x3C)[0]
    if head[:2] != b"MZ" or head[offset:offset + 4] != b"PE\0\0":
        raise ValueError("%s is not a PE file" % path)
    machine = struct.unpack_from("<H", head, offset + 4)[0]
    if machine not in _PE_MACHINE_BITS:
        raise ValueError("%s: unknown machine 0x%04x" % (path, machine))
    return _PE_MACHINE_BITS[machine]


def build_bits():
    """32 or 64: the bitness of the programs under test (BUILD_DIR's)."""
    return pe_bits(program("BrimWatch.exe"))


def driver_of_bits(bits):
    """BrimDriver.exe of that bitness, from BUILD_DIR or OTHER_BUILD_DIR, or
    None. A driver reads another process's structures (list-view items,
    tooltips) laid out as its own: for the desktop's explorer, which is a
    64-bit process in a 64-bit prefix, only a 64-bit driver will do."""
    for tree in (BUILD_DIR, OTHER_BUILD_DIR):
        driver = program("BrimDriver.exe", tree) if tree else None
        if driver and driver.is_file() and pe_bits(driver) == bits:
            return driver
    return None


def wine_loader(host_path=None):
    """The Wine loader for a program: the one of its own bitness, for each
    loader hands a program of the other bitness to start.exe, which cannot
    reach a host path once z: is gone. Built-in programs (reg, cmd,
    msiexec) and anything not a readable PE file run 64-bit."""
    if host_path is not None:
        with contextlib.suppress(OSError, ValueError, struct.error):
            if pe_bits(host_path) == 32:
                return WINE32_LOADER
    return WINE64_LOADER


_wine32_problem_cache = []


def wine32_problem():
    """Why 32-bit Windows programs cannot run here, or None when the 32-bit
    loader starts."""
    if not _wine32_problem_cache:
        problem = None
        try:
            result = subprocess.run([WINE32_LOADER, "--version"], capture_output=True, text=True, timeout=60)
            if result.returncode != 0:
                last = (result.stderr or result.stdout).strip().splitlines()
                problem = "the 32-bit Wine loader %s fails (exit %d): %s" % (
                    WINE32_LOADER, result.returncode, last[-1] if last else "")
        except OSError as error:
            problem = "the 32-bit Wine loader %s cannot start: %s" % (WINE32_LOADER, error.strerror)
        _wine32_problem_cache.append(problem)
    return _wine32_problem_cache[0]


def _skip_or_fail(testcase, reason):
    if in_ci():
        testcase.fail(reason + " (CI=true: this test must run)")
    testcase.skipTest(reason)


def require_root(testcase):
    """Skips (fails under CI=true) unless running as root (tmpfs drives)."""
    if os.geteuid() != 0:
        _skip_or_fail(testcase, "needs root to mount tmpfs drives")


def require_display_tools(testcase):
    """Skips (fails under CI=true) unless Xvfb and ImageMagick's import exist."""
    missing = [tool for tool in ("Xvfb", "import") if shutil.which(tool) is None]
    if missing:
        _skip_or_fail(testcase, "needs %s for a display" % " and ".join(missing))


def require_wine(testcase):
    """Skips (fails under CI=true) without 64-bit Wine, or without a working
    32-bit loader when the programs under test are 32-bit."""
    if not (os.access(WINE64_LOADER, os.X_OK) and os.access(WINESERVER, os.X_OK)):
        _skip_or_fail(testcase, "needs 64-bit Wine (%s and %s)" % (WINE64_LOADER, WINESERVER))
    if program("BrimWatch.exe").is_file() and build_bits() == 32 and wine32_problem():
        _skip_or_fail(testcase, "the programs under test are 32-bit and " + wine32_problem())


def require_programs(testcase, *names):
    """Skips (fails under CI=true) when a program has not been built."""
    missing = [str(program(name)) for name in names if not program(name).is_file()]
    if missing:
        _skip_or_fail(testcase, "not built: " + ", ".join(missing))


def wait_for(predicate, timeout=30.0, interval=0.2):
    """Polls predicate() until it returns something true; returns that value,
    or the last (false) value once timeout seconds have passed."""
    deadline = time.monotonic() + timeout
    while True:
        value = predicate()
        if value or time.monotonic() >= deadline:
            return value
        time.sleep(interval)


def read_records(log_path):
    """The lines a recorder stand-in appended: one per start, the arguments
    after the program name joined by single spaces. [] when none yet."""
    try:
        data = Path(log_path).read_bytes()
    except FileNotFoundError:
        return []
    return data.decode("utf-8", "replace").splitlines()


def unescape(text):
    """Undoes the driver's escaping of backslash, tab, CR and LF."""
    out = []
    i = 0
    while i < len(text):
        c = text[i]
        if c == "\\" and i + 1 < len(text):
            nxt = text[i + 1]
            out.append({"\\": "\\", "t": "\t", "r": "\r", "n": "\n"}.get(nxt, "\\" + nxt))
            i += 2
        else:
            out.append(c)
            i += 1
    return "".join(out)


def decode_wine_string(literal):
    """Decodes Wine's debug form of a wide string: L"..." with \\n \\r \\t
    \\" \\\\ and \\XXXX escapes (a trailing ... marks a truncated string)."""
    match = re.match(r'L"((?:[^"\\]|\\.)*)"', literal)
    if not match:
        return literal
    body = match.group(1)
    out = []
    i = 0
    while i < len(body):
        c = body[i]
        if c != "\\" or i + 1 >= len(body):
            out.append(c)
            i += 1
            continue
        nxt = body[i + 1]
        if nxt in 'nrt"\\':
            out.append({"n": "\n", "r": "\r", "t": "\t", '"': '"', "\\": "\\"}[nxt])
            i += 2
        elif re.match(r"[0-9a-fA-F]{4}", body[i + 1:i + 5]):
            out.append(chr(int(body[i + 1:i + 5], 16)))
            i += 5
        else:
            out.append(nxt)
            i += 2
    return "".join(out)


# The desktop's explorer traces the tray (first field: its thread id):
#   0064:trace:systray:add_icon id=0x7, hwnd=000000000004006A       (then modify_icon and show_icon)
#   0064:trace:systray:hide_icon id=0x7, hwnd=000000000004006A      (a delete)
#   0064:trace:tooltips:TOOLTIPS_SetTitleT hwnd = 000000000001008A, title = L"Title", icon = 0000000000000001
#   0064:trace:tooltips:TOOLTIPS_Show Show tooltip pre 0, 000000000001008A
#   0064:trace:tooltips:TOOLTIPS_Show Show tooltip 0, L"Balloon text", size 110 x 69
# hwnd= is the window that owns the icon, id= the icon's uID. A balloon is
# a tooltip that gets a title; its "icon" is the info flags (1 info, 2
# warning, 3 error), and nothing says which tray icon it belongs to. The
# explorer shows a balloon about 2 s after its call (never, when the icon
# goes before), for at least 10 s, one after another. A later tip (a
# NIF_TIP modify) is not traced.
_TRAY_ICON_LINE = re.compile(r"trace:systray:(add|modify|show|hide)_icon id=0x([0-9a-fA-F]+), hwnd=([0-9a-fA-F]+)")
_TRAY_TITLE_LINE = re.compile(r'trace:tooltips:TOOLTIPS_SetTitleT hwnd = ([0-9a-fA-F]+), title = (L".*"), icon = ([0-9a-fA-F]+)')
_TRAY_SHOW_PRE_LINE = re.compile(r"trace:tooltips:TOOLTIPS_Show Show tooltip pre \d+, ([0-9a-fA-F]+)")
_TRAY_SHOW_LINE = re.compile(r'trace:tooltips:TOOLTIPS_Show Show tooltip \d+, (L".*"), size')
_TRAY_KINDS = {"add": "add", "modify": "modify", "show": "show", "hide": "delete"}


def parse_tray_log(text):
    """Parses a tray trace into a list of (kind, id, extra) tuples in order:
      ("add" | "modify" | "show" | "delete", icon id, owner hwnd as int)
      ("balloon", None, {"title": str, "text": str, "icon": info flags, "tooltip": hwnd})
    """
    events = []
    titles = {}
    current = None
    for line in text.splitlines():
        match = _TRAY_ICON_LINE.search(line)
        if match:
            events.append((_TRAY_KINDS[match.group(1)], int(match.group(2), 16), int(match.group(3), 16)))
            continue
        match = _TRAY_TITLE_LINE.search(line)
        if match:
            titles[int(match.group(1), 16)] = (decode_wine_string(match.group(2)), int(match.group(3), 16))
            continue
        match = _TRAY_SHOW_PRE_LINE.search(line)
        if match:
            current = int(match.group(1), 16)
            continue
        match = _TRAY_SHOW_LINE.search(line)
        if match and current in titles:
            title, icon = titles[current]
            events.append(("balloon", None, {"title": title, "text": decode_wine_string(match.group(1)),
                                             "icon": icon, "tooltip": current}))
            current = None
    return events


def build_drive_settings(mapping):
    """The 234-byte DriveSettings image: 26 records (A..Z) of 1 byte enabled
    and a uint64 little-endian threshold. mapping: letter -> (enabled, bytes);
    letters not named are all zero."""
    image = bytearray(26 * 9)
    for letter, (enabled, threshold) in mapping.items():
        index = ord(letter.upper()[0]) - ord("A")
        if not 0 <= index < 26:
            raise ValueError("not a drive letter: %r" % letter)
        struct.pack_into("<BQ", image, index * 9, enabled, threshold)
    return bytes(image)


def parse_drive_settings(image):
    """letter -> (enabled byte, threshold) for each full record of an image."""
    result = {}
    for index in range(min(len(image) // 9, 26)):
        result[chr(ord("A") + index)] = struct.unpack_from("<BQ", image, index * 9)
    return result


def _set_parent_death_signal():
    # Runs in the child between fork and exec: end it with SIGTERM when the
    # test process dies, however it dies.
    try:
        ctypes.CDLL(None, use_errno=True).prctl(1, signal.SIGTERM)  # PR_SET_PDEATHSIG
    except Exception:
        pass


def _mounts_under(path):
    """Mount points at or below path, deepest first."""
    prefix = os.path.realpath(path)
    points = []
    with open("/proc/self/mounts") as mounts:
        for line in mounts:
            point = line.split()[1].replace("\\040", " ")
            if point == prefix or point.startswith(prefix + "/"):
                points.append(point)
    return sorted(points, key=len, reverse=True)


def _unmount(point, attempts=25):
    for _ in range(attempts):
        if subprocess.run(["umount", point], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL).returncode == 0:
            return True
        time.sleep(0.2)
    # Still busy (a process that outlived the wineserver): detach it now.
    return subprocess.run(["umount", "-l", point], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL).returncode == 0


def _base_environment():
    env = dict(os.environ)
    for name in ("WINEPREFIX", "WINEDEBUG", "WINEARCH", "WINEDLLOVERRIDES", "WINEPATH", "WINESERVER", "WINELOADER",
                 "DISPLAY", "XAUTHORITY", "WAYLAND_DISPLAY"):
        env.pop(name, None)
    env.update({name: _WINE[name] for name in ("WINELOADER", "WINEARCH", "WINEDEBUG", "WINEDLLOVERRIDES")})
    return env


_wine_version_cache = []


def _wine_version():
    """Wine's version, and whether its 32-bit half is installed: a prefix
    made without it cannot run 32-bit programs."""
    if not _wine_version_cache:
        result = subprocess.run([WINE64_LOADER, "--version"], capture_output=True, text=True, timeout=60)
        wow64 = "" if wine32_problem() else " +wine32"
        _wine_version_cache.append(result.stdout.strip() + wow64)
    return _wine_version_cache[0]


def _template_valid():
    try:
        return (TEMPLATE_DIR / _TEMPLATE_STAMP).read_text() == _wine_version()
    except OSError:
        return False


def _create_template():
    BUILD_DIR.mkdir(parents=True, exist_ok=True)
    # Left-overs of creators that died half-way (the caller holds the lock).
    for stale in list(BUILD_DIR.glob("wine-template.tmp-*")) + list(BUILD_DIR.glob("wine-template.old-*")):
        shutil.rmtree(stale, ignore_errors=True)
    work = BUILD_DIR / ("wine-template.tmp-%d" % os.getpid())
    env = _base_environment()
    env["WINEPREFIX"] = str(work)
    started = time.monotonic()
    subprocess.run([WINE64_LOADER, "wineboot.exe", "-i"], env=env, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL, timeout=600, check=True, cwd=str(BUILD_DIR))
    # The default desktop is a virtual one: programs under Xvfb then share one
    # desktop with a taskbar and a notification area.
    for key, name, data in ((r"HKCU\Software\Wine\Explorer", "Desktop", "Default"),
                            (r"HKCU\Software\Wine\Explorer\Desktops", "Default", "1024x768")):
        subprocess.run([WINE64_LOADER, "reg", "add", key, "/v", name, "/t", "REG_SZ", "/d", data, "/f", "/reg:64"],
                       env=env, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                       timeout=120, check=True, cwd=str(BUILD_DIR))
    # The registry reaches the disk when the wineserver ends.
    subprocess.run([WINESERVER, "-k"], env=env, timeout=60, stderr=subprocess.DEVNULL)
    subprocess.run([WINESERVER, "-w"], env=env, timeout=60, stderr=subprocess.DEVNULL)
    for folder in _server_dirs(work):
        shutil.rmtree(folder, ignore_errors=True)
    (work / _TEMPLATE_STAMP).write_text(_wine_version())
    if TEMPLATE_DIR.exists():
        old = BUILD_DIR / ("wine-template.old-%d" % os.getpid())
        TEMPLATE_DIR.rename(old)
        shutil.rmtree(old, ignore_errors=True)
    work.rename(TEMPLATE_DIR)
    return time.monotonic() - started


def ensure_template():
    """Makes the template prefix if needed. Returns an open lock file that
    holds a shared lock on the template while the caller uses it."""
    BUILD_DIR.mkdir(parents=True, exist_ok=True)
    lock = open(BUILD_DIR / "wine-template.lock", "a+")
    try:
        fcntl.flock(lock, fcntl.LOCK_SH)
        if _template_valid():
            return lock
        fcntl.flock(lock, fcntl.LOCK_UN)
        fcntl.flock(lock, fcntl.LOCK_EX)
        if not _template_valid():
            _create_template()
        fcntl.flock(lock, fcntl.LOCK_SH)
        return lock
    except BaseException:
        lock.close()
        raise


def sweep_stale_envs():
    """Removes what environments of dead test processes left behind: their
    wineserver (and so their Wine processes), Xvfb, mounts and files. An
    environment is alive while its owner holds the lock on its owner file."""
    if not ENVS_DIR.is_dir():
        return
    for root in ENVS_DIR.iterdir():
        # A ".new-" folder is locked a moment after it appears: leave young ones.
        try:
            if root.name.startswith(".") and time.time() - root.stat().st_mtime < 600:
                continue
        except OSError:
            continue
        owner = root / "owner.lock"
        try:
            handle = open(owner, "a+")
        except OSError:
            continue
        with handle:
            try:
                fcntl.flock(handle, fcntl.LOCK_EX | fcntl.LOCK_NB)
            except OSError:
                continue  # alive
            _clean_env_root(root)


def _server_dirs(prefix):
    """Where the wineserver of a prefix keeps its socket: a folder named for
    the prefix folder's device and inode, under /tmp/.wine-<uid> (or, with
    Debian's Wine, under the /tmp folder named in <prefix>/wineserver)."""
    try:
        stats = os.stat(prefix)
    except OSError:
        return []
    name = "server-%x-%x" % (stats.st_dev, stats.st_ino)
    bases = [Path("/tmp") / (".wine-%d" % os.getuid())]
    with contextlib.suppress(OSError):
        tag = (Path(prefix) / "wineserver").read_text().strip()
        if re.match(r"^[A-Za-z0-9._-]+$", tag):
            bases.append(Path("/tmp") / tag)
    return [base / name for base in bases]


def _clean_env_root(root):
    prefix = root / "prefix"
    server_dirs = _server_dirs(prefix)
    if (prefix / "system.reg").exists():
        env = _base_environment()
        env["WINEPREFIX"] = str(prefix)
        with contextlib.suppress(Exception):
            subprocess.run([WINESERVER, "-k"], env=env, timeout=20, stdout=subprocess.DEVNULL,
                           stderr=subprocess.DEVNULL)
            subprocess.run([WINESERVER, "-w"], env=env, timeout=20, stdout=subprocess.DEVNULL,
                           stderr=subprocess.DEVNULL)
    for folder in server_dirs:
        shutil.rmtree(folder, ignore_errors=True)
    with contextlib.suppress(OSError, ValueError):
        pid = int((root / "xvfb.pid").read_text())
        with open("/proc/%d/cmdline" % pid, "rb") as cmdline:
            if os.path.basename(cmdline.read().split(b"\0")[0]) == b"Xvfb":
                os.kill(pid, signal.SIGTERM)
    for point in _mounts_under(root):
        _unmount(point, attempts=5)
    if not _mounts_under(root):
        shutil.rmtree(root, ignore_errors=True)


_open_envs = weakref.WeakSet()


class WineEnv:
    """One fresh Wine prefix, optionally with tmpfs drives and an Xvfb desktop.

    WineEnv(display=True, drives=None, name="test")
      drives: {"d": 16 * MiB, ...} mounts a tmpfs of that size per drive
              letter (root only; sizes round up to 4096-byte pages) and
              links it as that drive.
    Wine's z: (= /) is removed, or drive lists would depend on the host.
    Use as a context manager, or call close() (idempotent) from a cleanup.
    """

    def __init__(self, display=True, drives=None, name="test"):
        self.name = name
        self.display = None  # ":N" when there is one
        self.prefix = None
        self.env = None
        self.root = None
        self.last_stderr = ""
        self.driver_exe = None  # another BrimDriver.exe (e.g. of the other bitness) for driver()
        self._closed = False
        self._lock = None
        self._owner = None
        self._xvfb = None
        self._hold = None
        self._procs = []
        self._driver_servers = {}
        self._drive_dirs = {}
        self._server_dirs = []
        self._overlay = False
        self._serial = 0
        _open_envs.add(self)
        try:
            self._set_up(display, drives or {})
        except BaseException:
            self.close()
            raise

    # -- life cycle -----------------------------------------------------

    @classmethod
    def for_test(cls, testcase, display=True, drives=None, name=None):
        """Checks the prerequisites (skip, or fail under CI=true), makes the
        environment and registers its close() as a cleanup of the test."""
        require_wine(testcase)
        if drives:
            require_root(testcase)
        if display:
            require_display_tools(testcase)
        env = cls(display=display, drives=drives, name=name or testcase.id().split(".")[-1])

        def clean_up():
            try:
                if _test_failed(testcase):
                    env.save_failure(testcase.id())
            finally:
                env.close()
        testcase.addCleanup(clean_up)
        return env

    @classmethod
    def for_class(cls, testcase, display=True, drives=None):
        """As for_test(), but one environment serves every test of the
        test's class that asks for it (the first one makes it; it closes
        when the class is done): for tests that do not disturb each other.
        The programs a test started end with that test."""
        holder = type(testcase)
        env = holder.__dict__.get("_brim_shared_env")
        if env is None or env._closed:
            require_wine(testcase)
            if drives:
                require_root(testcase)
            if display:
                require_display_tools(testcase)
            env = cls(display=display, drives=drives, name=holder.__name__)
            holder._brim_shared_env = env
            holder.addClassCleanup(env.close)

        def end_test():
            if _test_failed(testcase):
                env.save_failure(testcase.id())
            env.end_programs()
        testcase.addCleanup(end_test)
        return env

    def end_programs(self):
        """Ends the programs start() started."""
        for proc in self._procs:
            if proc.poll() is None:
                with contextlib.suppress(ProcessLookupError):
                    proc.terminate()
        for proc in self._procs:
            with contextlib.suppress(subprocess.TimeoutExpired):
                proc.wait(10)
        self._procs = []

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()
        return False

    def _set_up(self, display, drives):
        sweep_stale_envs()
        self._lock = ensure_template()

        ENVS_DIR.mkdir(parents=True, exist_ok=True)
        safe_name = re.sub(r"[^A-Za-z0-9_.-]", "_", self.name)[:60]
        # Made under a dot name that sweepers pass over, locked, then renamed:
        # a sweeper never sees an environment folder without its owner's lock.
        hidden = Path(tempfile.mkdtemp(prefix=".new-", dir=str(ENVS_DIR)))
        self._owner = open(hidden / "owner.lock", "a+")
        fcntl.flock(self._owner, fcntl.LOCK_EX)
        self._owner.write("%d\n" % os.getpid())
        self._owner.flush()
        while self.root is None:
            candidate = ENVS_DIR / ("%s-%s" % (safe_name, os.urandom(4).hex()))
            try:
                os.rename(hidden, candidate)  # fails when the name is taken
                self.root = candidate
            except OSError as error:
                if error.errno not in (errno.EEXIST, errno.ENOTEMPTY):
                    shutil.rmtree(hidden, ignore_errors=True)
                    raise
        self.logs_dir = self.root / "logs"
        self.logs_dir.mkdir()
        self._tmp_dir = self.root / "tmp"
        self._tmp_dir.mkdir()

        self.prefix = self.root / "prefix"
        self._make_prefix()

        self._server_dirs = _server_dirs(self.prefix)
        with contextlib.suppress(FileNotFoundError):
            (self.prefix / "dosdevices" / "z:").unlink()
        for letter, size in drives.items():
            self._add_drive(letter, size)

        self.env = _base_environment()
        self.env["WINEPREFIX"] = str(self.prefix)
        if display:
            self._start_xvfb()
        self._start_wine()

    def _make_prefix(self):
        if os.geteuid() == 0:
            upper, work = self.root / "upper", self.root / "work"
            upper.mkdir()
            work.mkdir()
            self.prefix.mkdir()
            options = "lowerdir=%s,upperdir=%s,workdir=%s" % (TEMPLATE_DIR, upper, work)
            mounted = subprocess.run(["mount", "-t", "overlay", "overlay", "-o", options, str(self.prefix)],
                                     stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            if mounted.returncode == 0:
                self._overlay = True
                return
            self.prefix.rmdir()
        # No overlay file system here: a full copy (about 2 s).
        subprocess.run(["cp", "-a", "--reflink=auto", str(TEMPLATE_DIR), str(self.prefix)], check=True)

    def _start_xvfb(self):
        read_end, write_end = os.pipe()
        try:
            with open(self.logs_dir / "xvfb.log", "ab") as log:
                self._xvfb = subprocess.Popen(
                    ["Xvfb", "-displayfd", str(write_end), "-screen", "0", "1024x768x24", "-nolisten", "tcp",
                     "-noreset"],
                    pass_fds=[write_end], stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=log,
                    preexec_fn=_set_parent_death_signal)
            os.close(write_end)
            write_end = None
            (self.root / "xvfb.pid").write_text(str(self._xvfb.pid))
            number = b""
            deadline = time.monotonic() + 30
            while not number.endswith(b"\n"):
                remaining = deadline - time.monotonic()
                if remaining <= 0 or not select.select([read_end], [], [], remaining)[0]:
                    raise RuntimeError("Xvfb did not report its display (see %s)" % (self.logs_dir / "xvfb.log"))
                chunk = os.read(read_end, 32)
                if not chunk:
                    raise RuntimeError("Xvfb ended at start (see %s)" % (self.logs_dir / "xvfb.log"))
                number += chunk
        finally:
            os.close(read_end)
            if write_end is not None:
                os.close(write_end)
        self.display = ":" + number.decode().strip()
        self.env["DISPLAY"] = self.display

    def _start_wine(self):
        subprocess.run([WINESERVER, "-p"], env=self.env, timeout=60, check=True, stdin=subprocess.DEVNULL,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        if self.display:
            self._start_desktop()
        else:
            # Start Wine's own services now, with no pipes of ours to inherit.
            subprocess.run([WINE64_LOADER, "cmd", "/c", "exit"], env=self.env, timeout=120, cwd=str(self._cwd()),
                           stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        # Wine's mount manager comes up beside the first programs: until it
        # has, the drive mask is empty. The environment is ready once C: is seen.
        if not wait_for(lambda: self._drive_mask() & 0x4, 60, 0.1):
            raise RuntimeError("Wine reported no drive C: (see %s)" % self.logs_dir)

    def _drive_mask(self):
        code, out = self.driver("drives")
        match = re.match(r"mask\t0x([0-9a-f]+)", out)
        return int(match.group(1), 16) if code == 0 and match else 0

    def _start_desktop(self):
        # The first Wine program with a window brings up the desktop; its
        # explorer inherits this program's environment and stderr, so every
        # later tray call of every program lands in the tray log.
        self.tray_log_path = self.logs_dir / "tray.log"
        hold_out = self.logs_dir / "hold.out"
        # After a restart the file already holds the first hold's "ready":
        # only what this hold writes counts, or a driver call could race it
        # and start the desktop with its own stderr and debug channels.
        start = hold_out.stat().st_size if hold_out.exists() else 0
        env = dict(self.env)
        env["WINEDEBUG"] = _TRAY_DEBUG
        with open(hold_out, "ab") as out, open(self.tray_log_path, "ab") as err:
            hold = program("BrimDriver.exe")
            self._hold = subprocess.Popen([wine_loader(hold), str(hold), "hold"], env=env,
                                          cwd=str(self._cwd()), stdin=subprocess.DEVNULL, stdout=out, stderr=err)
        if not wait_for(lambda: b"ready" in hold_out.read_bytes()[start:] or self._hold.poll() is not None, 60, 0.05) \
                or self._hold.poll() is not None:
            raise RuntimeError("BrimDriver hold did not start (exit %s); see %s" % (self._hold.poll(), self.logs_dir))
        code, out = self.driver("find", "Shell_TrayWnd", "*", "30000", timeout=60)
        if code != 0:
            raise RuntimeError("the desktop has no taskbar: " + self.last_stderr)

    def restart_wineserver(self):
        """Ends every Wine process of this prefix and starts the wineserver
        (and the desktop) again, e.g. after a change of HKLM\\Software\\Wine\\Drives
        or of the drive links. Only valid while no program of the test runs."""
        running = [p for p in self._procs if p.poll() is None]
        if running:
            raise RuntimeError("programs are still running: %s" % [p.args for p in running])
        self._stop_driver_servers()
        self._kill_wineserver()
        if self._hold is not None:
            with contextlib.suppress(subprocess.TimeoutExpired):
                self._hold.wait(10)
            self._hold = None
        self._start_wine()

    def _kill_wineserver(self):
        if self.env is None:
            return
        with contextlib.suppress(Exception):
            subprocess.run([WINESERVER, "-k"], env=self.env, timeout=30, stdin=subprocess.DEVNULL,
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        with contextlib.suppress(Exception):
            subprocess.run([WINESERVER, "-w"], env=self.env, timeout=30, stdin=subprocess.DEVNULL,
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    def close(self):
        """Ends every process the environment started, unmounts its drives
        and removes the prefix. Safe to call more than once."""
        if self._closed:
            return
        self._closed = True
        _open_envs.discard(self)
        if os.environ.get("BRIM_KEEP_LOGS") and self.root is not None:
            with contextlib.suppress(Exception):
                self.save_logs()
        for proc in self._procs:
            if proc.poll() is None:
                with contextlib.suppress(ProcessLookupError):
                    proc.terminate()
        self._stop_driver_servers()
        self._kill_wineserver()
        for folder in self._server_dirs:
            shutil.rmtree(folder, ignore_errors=True)
        for proc in self._procs + ([self._hold] if self._hold else []):
            try:
                proc.wait(5)
            except subprocess.TimeoutExpired:
                with contextlib.suppress(ProcessLookupError):
                    proc.kill()
                with contextlib.suppress(subprocess.TimeoutExpired):
                    proc.wait(5)
        if self._xvfb is not None:
            self._xvfb.terminate()
            try:
                self._xvfb.wait(10)
            except subprocess.TimeoutExpired:
                self._xvfb.kill()
                self._xvfb.wait(10)
        if self.root is not None:
            for point in _mounts_under(self.root):
                _unmount(point)
            if not _mounts_under(self.root):
                shutil.rmtree(self.root, ignore_errors=True)
        if self._owner is not None:
            self._owner.close()
        if self._lock is not None:
            self._lock.close()

    def save_failure(self, label):
        """Keeps what a failed test leaves: a screenshot (with a display) and
        the logs, in ARTIFACTS_DIR/failures/<label>. Returns that folder."""
        target = ARTIFACTS_DIR / "failures" / re.sub(r"[^A-Za-z0-9_.-]", "_", label)
        shutil.rmtree(target, ignore_errors=True)
        target.mkdir(parents=True)
        if self.display:
            with contextlib.suppress(Exception):
                self.screenshot(target / "screen.png")
        with contextlib.suppress(Exception):
            self.save_logs(target / "logs")
        sys.stderr.write("\n[brimharness] logs and screen of the failed test: %s\n" % target)
        return target

    def save_logs(self, destination=None):
        """Copies the environment's logs to destination (default:
        ARTIFACTS_DIR/logs/<name>-<time>) and returns that folder."""
        target = Path(destination) if destination else \
            ARTIFACTS_DIR / "logs" / ("%s-%s" % (self.root.name, time.strftime("%Y%m%d-%H%M%S")))
        shutil.copytree(self.logs_dir, target, dirs_exist_ok=True)
        return target

    # -- running programs -----------------------------------------------

    def _cwd(self):
        # A folder Wine can reach: with z: gone, a host folder outside the
        # prefix would make Wine complain and fall back to C:\windows.
        return self.prefix / "drive_c"

    def _env_for(self, debug, extra=None):
        env = dict(self.env)
        env["WINEDEBUG"] = debug
        if extra:
            env.update(extra)
        return env

    def _loader(self, exe):
        """wine_loader() for a host path or a Windows path in this prefix."""
        text = str(exe) if exe is not None else ""
        if re.match(r"^[A-Za-z]:\\", text):
            with contextlib.suppress(OSError, ValueError):
                return wine_loader(self.to_host(text))
            return WINE64_LOADER
        return wine_loader(text) if os.path.isabs(text) else WINE64_LOADER

    def _log_path(self, log):
        path = Path(log)
        return path if path.is_absolute() else self.logs_dir / path

    def wine(self, *args, timeout=60, check=False, debug="-all", env=None, cwd=None):
        """Runs `wine <args>` to its end; returns a CompletedProcess with text
        stdout and stderr. Output goes through files, never pipes: Wine's
        helper processes may inherit the handles and outlive the program."""
        self._serial += 1
        out_path = self._tmp_dir / ("run%d.out" % self._serial)
        err_path = self._tmp_dir / ("run%d.err" % self._serial)
        command = [self._loader(args[0] if args else None)] + [str(a) for a in args]
        with open(out_path, "wb") as out, open(err_path, "wb") as err:
            proc = subprocess.Popen(command, env=self._env_for(debug, env), cwd=str(cwd or self._cwd()),
                                    stdin=subprocess.DEVNULL, stdout=out, stderr=err)
            try:
                code = proc.wait(timeout)
            except subprocess.TimeoutExpired:
                proc.kill()
                proc.wait()
                raise subprocess.TimeoutExpired(command, timeout, _read_text(out_path), _read_text(err_path))
        result = subprocess.CompletedProcess(command, code, _read_text(out_path), _read_text(err_path))
        out_path.unlink()
        err_path.unlink()
        if check:
            result.check_returncode()
        return result

    def start(self, exe, *args, debug="-all", log=None, env=None, cwd=None):
        """Starts `wine exe args` without waiting; stdout and stderr go to the
        log file (relative names are in the environment's logs folder)."""
        output = open(self._log_path(log), "ab") if log else subprocess.DEVNULL
        try:
            proc = subprocess.Popen([self._loader(exe), str(exe)] + [str(a) for a in args],
                                    env=self._env_for(debug, env),
                                    cwd=str(cwd or self._cwd()), stdin=subprocess.DEVNULL, stdout=output,
                                    stderr=output)
        finally:
            if log:
                output.close()
        self._procs.append(proc)
        return proc

    def wait_exit(self, popen, timeout):
        """The exit code of a started program (as Unix passes it on: the low
        8 bits of the Windows exit code); TimeoutExpired if it runs on."""
        return popen.wait(timeout)

    def driver(self, *args, timeout=30, exe=None):
        """Runs a BrimDriver.exe command with args in this prefix and desktop:
        returns (exit code, stdout). The stderr text is kept in
        self.last_stderr. Commands go to one long-lived `BrimDriver serve`
        per driver program (exe, else self.driver_exe, else this build's),
        started at its first command."""
        driver = str(exe or self.driver_exe or program("BrimDriver.exe"))
        server = self._driver_servers.get(driver)
        if server is None or not server.alive():
            server = _DriverServer(self._loader(driver), driver, self._env_for("-all"), self._cwd(),
                                   self.logs_dir / "driver-serve.log")
            self._driver_servers[driver] = server
        code, out, err = server.call(args, timeout)
        self.last_stderr = err
        return code, out

    def _stop_driver_servers(self):
        for server in self._driver_servers.values():
            server.stop()
        self._driver_servers.clear()

    def driver_ok(self, *args, timeout=30, exe=None):
        """As driver(), but raises AssertionError on a non-zero exit; returns stdout."""
        code, out = self.driver(*args, timeout=timeout, exe=exe)
        if code != 0:
            raise AssertionError("BrimDriver %s: exit %d: %s%s" % (" ".join(map(str, args)), code, out,
                                                                   self.last_stderr))
        return out

    # -- windows (thin wrappers over the driver) ------------------------

    def find_window(self, class_name="*", title="*", timeout=10.0):
        """The handle (int) of the first matching top-level window, or None.
        A window is found as soon as it exists, before its creator has
        made its controls (a dialog's come after the window itself): the
        handle is returned once the window's thread answers a message."""
        code, out = self.driver("find", class_name, title, str(int(timeout * 1000)), timeout=timeout + 30)
        if code != 0 or not out.strip():
            return None
        hwnd = int(out.split()[0], 16)
        self.ping(hwnd, 10000)
        return hwnd

    def ping(self, hwnd, timeout_ms=5000):
        """The milliseconds the window's thread took to answer a message, or
        None when it did not answer within timeout_ms (or is gone). When it
        answers, it has handled everything posted to it before."""
        code, out = self.driver("ping", hwnd_text(hwnd), str(timeout_ms), timeout=timeout_ms / 1000 + 30)
        return int(out.split()[0]) if code == 0 else None

    def windows(self, pid=None):
        """Top-level windows: dicts with hwnd, pid, visible, class, title."""
        out = self.driver_ok("windows", *([str(pid)] if pid else []))
        rows = []
        for line in out.splitlines():
            fields = line.split("\t")
            if len(fields) >= 5:
                rows.append({"hwnd": int(fields[0], 16), "pid": int(fields[1]), "visible": fields[2] == "1",
                             "class": unescape(fields[3]), "title": unescape(fields[4])})
        return rows

    def controls(self, hwnd):
        """Child windows: dicts with id, class, text, style, visible, enabled, hwnd."""
        rows = []
        for line in self.driver_ok("controls", hwnd_text(hwnd)).splitlines():
            fields = line.split("\t")
            if len(fields) >= 7:
                rows.append({"id": int(fields[0]), "class": unescape(fields[1]), "text": unescape(fields[2]),
                             "style": int(fields[3], 16), "visible": fields[4] == "1",
                             "enabled": fields[5] == "1", "hwnd": int(fields[6], 16)})
        return rows

    def get_text(self, hwnd, control_id="self"):
        return unescape(self.driver_ok("gettext", hwnd_text(hwnd), str(control_id)).rstrip("\n"))

    def listview(self, hwnd, control_id="self"):
        """Rows of a list view: dicts with row, image (1 unchecked, 2
        checked), selected, cells (list of texts)."""
        rows = []
        for line in self.driver_ok("listview", hwnd_text(hwnd), str(control_id)).splitlines():
            fields = line.split("\t")
            rows.append({"row": int(fields[0]), "image": int(fields[1]), "selected": fields[2] == "1",
                         "cells": [unescape(f) for f in fields[3:]]})
        return rows

    def message_box(self, timeout=10.0, owner=None):
        """The first visible message box (of that owner window) as a dict
        (hwnd, owner, title, text, buttons: [(id, text)]), or None."""
        code, out = self.driver("msgbox", str(int(timeout * 1000)), hwnd_text(owner) if owner else "*",
                                timeout=timeout + 30)
        if code != 0:
            return None
        box = {"buttons": []}
        for line in out.splitlines():
            fields = line.split("\t")
            if fields[0] in ("hwnd", "owner"):
                box[fields[0]] = int(fields[1], 16)
            elif fields[0] in ("title", "text"):
                box[fields[0]] = unescape(fields[1])
            elif fields[0] == "button":
                box["buttons"].append((int(fields[1]), unescape(fields[2])))
        return box

    def answer_message_box(self, button, timeout=10.0, owner=None):
        """Presses a button (id or ok/cancel/yes/no/...) of the first message
        box (of that owner) and waits for the box to close; True if it did."""
        code, out = self.driver("msgbox-answer", str(button), str(int(timeout * 1000)),
                                hwnd_text(owner) if owner else "*", timeout=timeout + 30)
        return code == 0

    # -- the tray ---------------------------------------------------------

    def tray_log(self):
        """Everything the desktop's explorer traced so far (display only)."""
        if not self.display:
            raise RuntimeError("no display: this environment has no tray log")
        return self.tray_log_path.read_bytes().replace(b"\0", b"").decode("utf-8", "replace")

    def tray_events(self, since=0):
        """Parsed tray events (see parse_tray_log), from index `since` on."""
        return parse_tray_log(self.tray_log())[since:]

    def tray_mark(self):
        """The number of tray events so far: pass it to tray_events(since=)."""
        return len(self.tray_events())

    def tray_has(self, kind, icon_id, since=0):
        """Whether the tray shows an event of that kind for that icon id,
        from event index `since` on."""
        return any(e[0] == kind and e[1] == icon_id for e in self.tray_events(since))

    def wait_for_tray(self, kind, icon_id=None, timeout=30.0, since=0, text=None):
        """Waits for a tray event of that kind (and icon id, or balloon text
        fragment); returns the event or None."""
        def match():
            for event in self.tray_events(since):
                if event[0] != kind:
                    continue
                if icon_id is not None and event[1] != icon_id:
                    continue
                if text is not None and (kind != "balloon" or text not in event[2]["text"]):
                    continue
                return event
            return None
        return wait_for(match, timeout, 0.2)

    def screenshot(self, path):
        """Saves the display as an image (relative paths under ARTIFACTS_DIR);
        returns the path written."""
        if not self.display:
            raise RuntimeError("no display to take a screenshot of")
        target = Path(path)
        if not target.is_absolute():
            target = ARTIFACTS_DIR / target
        target.parent.mkdir(parents=True, exist_ok=True)
        env = dict(os.environ, DISPLAY=self.display)
        subprocess.run(["import", "-display", self.display, "-window", "root", str(target)], env=env,
                       timeout=60, check=True, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                       stderr=subprocess.PIPE)
        return target

    # -- registry ---------------------------------------------------------

    def reg_add(self, key, name, type, data, view=32):
        """Writes one value in the given view (32 or 64), through the driver.
        data: int for REG_DWORD / REG_QWORD, str (or a list of str for
        REG_MULTI_SZ) for the string types, or bytes, stored as they are
        under any type (a value of the wrong shape). name None writes the
        default value."""
        hive, subkey = _split_key(key)
        code, out = self.driver("regraw", hive, str(view), subkey, name or "", str(_REG_TYPES[type]),
                                _reg_bytes(type, data).hex() or "-")
        if code != 0:
            raise RuntimeError("writing %s %s failed: %s%s" % (key, name, out, self.last_stderr))

    def reg_query(self, key, name, view=32):
        """(type name, value) of one value, or None when the key or value is
        missing. Values: bytes for REG_BINARY, int for REG_DWORD / REG_QWORD,
        str for string types (REG_MULTI_SZ: list of str). name None reads the
        default value."""
        hive, subkey = _split_key(key)
        code, out = self.driver("regget", hive, str(view), subkey, name or "")
        if code != 0:
            return None
        number, hex_data = out.strip("\n").split("\t")
        return _reg_value(int(number), bytes.fromhex(hex_data))

    def reg_delete_value(self, key, name, view=32):
        """Deletes one value (name None: the default value), through the
        driver; False when there was no such value."""
        hive, subkey = _split_key(key)
        return self.driver("regdelete", hive, str(view), subkey, name or "")[0] == 0

    def reg_delete_key(self, key, view=32):
        """Deletes a key and everything below it, through the driver; False
        when there was no such key."""
        hive, subkey = _split_key(key)
        return self.driver("regdelete", hive, str(view), subkey)[0] == 0

    def set_drive_settings(self, mapping):
        """Writes DriveSettings (REG_BINARY, 32-bit view). mapping: letter ->
        (enabled byte, threshold bytes), see build_drive_settings; raw bytes
        are written as they are (for images of the wrong length)."""
        image = bytes(mapping) if isinstance(mapping, (bytes, bytearray)) else build_drive_settings(mapping)
        self.reg_add(SETTINGS_KEY, "DriveSettings", "REG_BINARY", image, view=32)
        return image

    def drive_settings(self):
        """The stored DriveSettings bytes, or None when missing (or not binary)."""
        value = self.reg_query(SETTINGS_KEY, "DriveSettings", view=32)
        if value is None or value[0] != "REG_BINARY":
            return None
        return value[1]

    # -- drives -----------------------------------------------------------

    def _add_drive(self, letter, size):
        letter = _letter(letter)
        if os.geteuid() != 0:
            raise RuntimeError("tmpfs drives need root")
        folder = self.root / "drives" / letter
        folder.mkdir(parents=True)
        subprocess.run(["mount", "-t", "tmpfs", "-o", "size=%d,mode=0777" % int(size), "tmpfs", str(folder)],
                       check=True, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
        self._drive_dirs[letter] = folder
        link = self.prefix / "dosdevices" / (letter + ":")
        with contextlib.suppress(FileNotFoundError):
            link.unlink()
        link.symlink_to(folder)

    def drive_path(self, letter):
        """The host folder behind a tmpfs drive."""
        return self._drive_dirs[_letter(letter)]

    def free_bytes(self, letter):
        """Free bytes of a tmpfs drive as the system reports them (statvfs)."""
        stats = os.statvfs(self.drive_path(letter))
        return stats.f_bavail * stats.f_frsize

    def fill_drive(self, letter, free_bytes):
        """Grows or shrinks a filler file so that the drive has free_bytes
        free, rounded down to the tmpfs page size (exact for multiples of
        4096). Returns the free bytes then measured."""
        if free_bytes < 0:
            raise ValueError("free_bytes must not be negative")
        folder = self.drive_path(letter)
        filler = folder / "brim-filler.bin"
        stats = os.statvfs(folder)
        block = stats.f_frsize
        current = filler.stat().st_blocks * 512 if filler.exists() else 0
        available_without = stats.f_bavail * block + current
        wanted_free = free_bytes - free_bytes % block
        size = max(0, available_without - wanted_free)
        with open(filler, "ab") as handle:
            handle.truncate(0)
            if size:
                try:
                    os.posix_fallocate(handle.fileno(), 0, size)
                except OSError as error:
                    if error.errno != errno.ENOSPC:
                        raise
        return self.free_bytes(letter)

    def remove_drive(self, letter):
        """Removes the drive's link. Running programs then see the letter
        with type DRIVE_NO_ROOT_DIR and failing space queries; the letter
        leaves the drive mask only after restart_wineserver()."""
        link = self.prefix / "dosdevices" / (_letter(letter) + ":")
        with contextlib.suppress(FileNotFoundError):
            link.unlink()

    def restore_drive(self, letter):
        """Puts the drive's link back (see remove_drive)."""
        letter = _letter(letter)
        link = self.prefix / "dosdevices" / (letter + ":")
        with contextlib.suppress(FileNotFoundError):
            link.unlink()
        link.symlink_to(self._drive_dirs[letter])

    def set_drive_types(self, kinds):
        """Sets the drive types Wine reports, {letter: cdrom, floppy, network,
        hd or ramdisk}, in HKLM\\Software\\Wine\\Drives (64-bit view), and
        restarts the wineserver. Only before the test's programs start."""
        for letter, kind in kinds.items():
            if kind not in ("cdrom", "floppy", "network", "hd", "ramdisk"):
                raise ValueError("unknown drive type %r" % kind)
            self.reg_add(r"HKLM\Software\Wine\Drives", _letter(letter) + ":", "REG_SZ", kind, view=64)
        self.restart_wineserver()

    # -- paths and stand-ins --------------------------------------------

    def to_host(self, windows_path):
        """The host path of a Windows path on one of the prefix's drives."""
        match = re.match(r"^([A-Za-z]):[\\/]?(.*)$", str(windows_path))
        if not match:
            raise ValueError("not a drive path: %r" % windows_path)
        base = Path(os.path.realpath(self.prefix / "dosdevices" / (match.group(1).lower() + ":")))
        rest = match.group(2).replace("\\", "/")
        return base / rest if rest else base

    def to_windows(self, host_path):
        """The Windows path of a host path under one of the prefix's drives."""
        target = os.path.realpath(str(host_path))
        best = None
        for link in (self.prefix / "dosdevices").iterdir():
            if not re.match(r"^[a-z]:$", link.name):
                continue
            base = os.path.realpath(link)
            if target == base or target.startswith(base.rstrip("/") + "/"):
                if best is None or len(base) > len(best[1]):
                    best = (link.name, base)
        if best is None:
            raise ValueError("%s is on no drive of this prefix" % host_path)
        rest = target[len(best[1]):].lstrip("/")
        return best[0].upper() + "\\" + rest.replace("/", "\\")

    def _host_path(self, path):
        text = str(path)
        return self.to_host(text) if re.match(r"^[A-Za-z]:", text) else Path(text)

    def install_program(self, name, folder, as_name=None):
        """Copies a built program into the prefix; returns its host path."""
        target = self._host_path(folder) / (as_name or program(name).name)
        target.parent.mkdir(parents=True, exist_ok=True)
        with contextlib.suppress(FileNotFoundError):
            target.unlink()
        shutil.copy2(program(name), target)
        return target

    def make_recorder(self, path, log_path=None):
        """Places a copy of BrimRecorder.exe at path (a host path or a Windows
        path such as C:\\x\\VelloranUpdater.exe) that, when started, appends
        its arguments (one line per start, joined by single spaces) to
        log_path and exits 0. log_path (host path) defaults to "<path>.log"
        and must lie on a drive of the prefix. Returns the log path; read it
        with read_records()."""
        target = self._host_path(path)
        target.parent.mkdir(parents=True, exist_ok=True)
        with contextlib.suppress(FileNotFoundError):
            target.unlink()
        shutil.copy2(program("BrimRecorder.exe"), target)
        log = Path(log_path) if log_path else Path(str(target) + ".log")
        log.parent.mkdir(parents=True, exist_ok=True)
        with contextlib.suppress(FileNotFoundError):
            log.unlink()
        Path(str(target) + ".brimrec").write_text(self.to_windows(log) + "\n", encoding="utf-8")
        return log

    def add_search_dir(self, path):
        """Puts a folder (host or Windows path) in front of the search path
        of programs started from now on (WINEPATH)."""
        windows = str(path) if re.match(r"^[A-Za-z]:", str(path)) else self.to_windows(path)
        current = self.env.get("WINEPATH")
        self.env["WINEPATH"] = windows + (";" + current if current else "")


class _DriverServer:
    """One `BrimDriver serve` process: a request line in, a reply line out
    (see RunServe in tests/driver/Driver.cpp)."""

    def __init__(self, loader, driver, env, cwd, log_path):
        self._log_path = log_path
        with open(log_path, "ab") as log:
            self._proc = subprocess.Popen([loader, driver, "serve"], env=env, cwd=str(cwd), stdin=subprocess.PIPE,
                                          stdout=subprocess.PIPE, stderr=log, preexec_fn=_set_parent_death_signal)
        self._pending = b""

    def alive(self):
        return self._proc.poll() is None

    def call(self, args, timeout):
        request = "\t".join(_escape(str(a)) for a in args) + "\n"
        try:
            self._proc.stdin.write(request.encode("utf-8"))
            self._proc.stdin.flush()
        except (BrokenPipeError, OSError):
            return self._died()
        deadline = time.monotonic() + timeout
        fd = self._proc.stdout.fileno()
        while b"\n" not in self._pending:
            remaining = deadline - time.monotonic()
            if remaining <= 0 or not select.select([fd], [], [], remaining)[0]:
                self.stop()
                raise subprocess.TimeoutExpired(["BrimDriver"] + [str(a) for a in args], timeout)
            chunk = os.read(fd, 65536)
            if not chunk:
                return self._died()
            self._pending += chunk
        line, self._pending = self._pending.split(b"\n", 1)
        code, out, err = line.decode("utf-8", "replace").split("\t")
        return int(code), unescape(out), unescape(err)

    def _died(self):
        code = self._proc.wait()
        return code if code else 1, "", "BrimDriver serve ended (exit %d); see %s" % (code, self._log_path)

    def stop(self):
        if self._proc.poll() is None:
            with contextlib.suppress(OSError):
                self._proc.stdin.close()
            try:
                self._proc.wait(5)
            except subprocess.TimeoutExpired:
                self._proc.kill()
                self._proc.wait(5)
        for pipe in (self._proc.stdin, self._proc.stdout):
            with contextlib.suppress(OSError):
                pipe.close()


def _escape(text):
    """The driver's escaping (see unescape)."""
    return text.replace("\\", "\\\\").replace("\t", "\\t").replace("\r", "\\r").replace("\n", "\\n")


def _test_failed(testcase):
    # While cleanups run, unittest's result object already holds the
    # failures and errors of the test method (and of its subtests).
    result = getattr(getattr(testcase, "_outcome", None), "result", None)
    if result is None:
        return False
    for test, _ in list(getattr(result, "failures", [])) + list(getattr(result, "errors", [])):
        if test is testcase or getattr(test, "test_case", None) is testcase:
            return True
    return False


def _read_text(path):
    try:
        return path.read_bytes().decode("utf-8", "replace")
    except FileNotFoundError:
        return ""


def hwnd_text(hwnd):
    """A window handle as the driver's commands take it ("0x..."); a text
    is passed on as it is."""
    return hwnd if isinstance(hwnd, str) else "0x%x" % hwnd


def _letter(letter):
    letter = str(letter).lower().rstrip(":")
    if len(letter) != 1 or not "a" <= letter <= "z":
        raise ValueError("not a drive letter: %r" % letter)
    return letter


_REG_TYPES = {"REG_NONE": 0, "REG_SZ": 1, "REG_EXPAND_SZ": 2, "REG_BINARY": 3, "REG_DWORD": 4, "REG_MULTI_SZ": 7, "REG_QWORD": 11}
_REG_HIVES = {"hklm": "HKLM", "hkey_local_machine": "HKLM", "hkcu": "HKCU", "hkey_current_user": "HKCU"}


def _split_key(key):
    """("HKLM" | "HKCU", subkey) of a key written as reg.exe takes it. HKCR
    is HKLM\\Software\\Classes, where reg.exe writes what it is given for it."""
    hive, _, subkey = str(key).partition("\\")
    if hive.lower() in ("hkcr", "hkey_classes_root"):
        return "HKLM", "Software\\Classes" + ("\\" + subkey if subkey else "")
    if hive.lower() not in _REG_HIVES:
        raise ValueError("not a key under HKLM, HKCU or HKCR: %r" % key)
    return _REG_HIVES[hive.lower()], subkey


def _reg_bytes(type_name, data):
    """The bytes of a value as the registry stores them."""
    if isinstance(data, (bytes, bytearray)) or type_name == "REG_BINARY":
        return bytes(data)
    if type_name == "REG_DWORD":
        return (int(data) & 0xFFFFFFFF).to_bytes(4, "little")
    if type_name == "REG_QWORD":
        return (int(data) & 0xFFFFFFFFFFFFFFFF).to_bytes(8, "little")
    if type_name == "REG_MULTI_SZ":
        items = list(data) if isinstance(data, (list, tuple)) else str(data).split("\\0")
        return "".join(item + "\0" for item in items).encode("utf-16-le") + b"\0\0"
    if type_name in ("REG_SZ", "REG_EXPAND_SZ"):
        return (str(data) + "\0").encode("utf-16-le")
    raise ValueError("unknown value type %r" % type_name)


def _reg_value(number, data):
    """(type name, value) of stored bytes; see WineEnv.reg_query."""
    names = {value: name for name, value in _REG_TYPES.items()}
    name = names.get(number, "type %d" % number)
    if name == "REG_DWORD" and len(data) == 4 or name == "REG_QWORD" and len(data) == 8:
        return name, int.from_bytes(data, "little")
    if name in ("REG_SZ", "REG_EXPAND_SZ", "REG_MULTI_SZ"):
        text = data[:len(data) // 2 * 2].decode("utf-16-le", "replace")
        if name != "REG_MULTI_SZ":
            return name, text.split("\0", 1)[0]
        return name, [item for item in text.split("\0") if item] if text.strip("\0") else []
    return name, data


def _close_open_envs():
    for env in list(_open_envs):
        with contextlib.suppress(Exception):
            env.close()


import atexit  # noqa: E402  (kept next to its only use)

atexit.register(_close_open_envs)
