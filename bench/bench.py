#!/usr/bin/env python3
"""Brimline's figures, each measured beside its floor in the same run.

Run through bench/run.sh, which builds what is needed and sets
BRIM_BUILD_DIR (the programs, the test driver), BENCH_TOOLS_DIR
(ScanBench.exe, IdleFloor.exe) and BENCH_FORECAST (the native
ForecastBench). Every figure but the forecast needs root (tmpfs drives),
Wine and Xvfb, like the end-to-end tests, whose harness it uses.

Figures:
  reaction   settings pulse -> tray add, and a settings write with no pulse
             -> tray add, against the 1000 ms rescan delay
  scan       CPU of one drive pass over 24 watched fixed drives, against a
             bare loop of one free-space query per drive (ScanBench.exe)
  idle       CPU and wake-ups of an idle monitor with one watched drive,
             against IdleFloor.exe /queries, a program with only a hidden
             window, the same 45 s timer and that drive's free-space query;
             the median of several runs, each beside its own floor
  footprint  stripped program sizes; peak resident memory of the monitor
             against IdleFloor.exe
  forecast   free-space traces through the monitor's scan pass (native
             ForecastBench): lead of the first warning, false alarms,
             balloons of a drive hovering at its threshold

Environment: BENCH_IDLE_SECONDS (default 600), BENCH_IDLE_RUNS (default 3),
BENCH_TRIALS (default 20), BENCH_ONLY (comma-separated subset of
reaction,scan,idle,footprint,forecast), BENCH_OUTPUT (default
bench/results/latest.md), BENCH_NOTE (a line about the run, for the table).
"""

import datetime
import json
import os
import platform
import re
import shutil
import statistics
import struct
import subprocess
import sys
import tempfile
import time
from pathlib import Path

SOURCE_DIR = Path(__file__).resolve().parents[1]
sys.path.insert(0, str(SOURCE_DIR / "tests" / "e2e"))

import brimharness as harness  # noqa: E402
from brimharness import MiB, WineEnv  # noqa: E402

TOOLS_DIR = Path(os.environ.get("BENCH_TOOLS_DIR") or harness.BUILD_DIR / "bench-tools")
FORECAST_EXE = Path(os.environ.get("BENCH_FORECAST") or harness.BUILD_DIR / "bench-native" / "ForecastBench")
WINE_FIGURES = ("reaction", "scan", "idle", "footprint")
CLK_TCK = os.sysconf("SC_CLK_TCK")

MONITOR_CLASS = "Velloran_BRIMWATCH_wndClass"
FLOOR_CLASS = "Brimline_IdleFloor_wndClass"
INSTALL_DIR = r"C:\Brimline"
BENCH_DIR = r"C:\BrimBench"
SETTINGS_USER_KEY = r"HKCU\Software\Velloran\BrimSet"
RESCAN_DELAY = 1.0  # s, the monitor's tick after a settings reload
SIZE_GOAL_KB = 150
HOVER_BALLOON_GOAL = 4  # what a drive that stays low gets in an hour: at 0, 5, 15 and 35 minutes


def log(text):
    print("bench: " + text, file=sys.stderr, flush=True)


# -- process figures from /proc ------------------------------------------

def cpu_ticks(pid):
    """utime + stime of the whole process, in clock ticks."""
    with open("/proc/%d/stat" % pid) as stat:
        fields = stat.read().rsplit(")", 1)[1].split()
    return int(fields[11]) + int(fields[12])


def cpu_ns(pid):
    """Time on a CPU of every thread of the process, in nanoseconds
    (/proc/<pid>/task/*/schedstat), finer than the clock ticks of stat."""
    total = 0
    for task in Path("/proc/%d/task" % pid).iterdir():
        try:
            total += int((task / "schedstat").read_text().split()[0])
        except (FileNotFoundError, IndexError, ValueError):
            continue
    return total


def context_switches(pid):
    """Voluntary plus involuntary context switches, summed over the threads."""
    total = 0
    for task in Path("/proc/%d/task" % pid).iterdir():
        try:
            text = (task / "status").read_text()
        except FileNotFoundError:
            continue
        for name in ("voluntary_ctxt_switches", "nonvoluntary_ctxt_switches"):
            match = re.search(r"^%s:\s+(\d+)" % name, text, re.M)
            if match:
                total += int(match.group(1))
    return total


def status_kb(pid, field):
    text = Path("/proc/%d/status" % pid).read_text()
    match = re.search(r"^%s:\s+(\d+) kB" % field, text, re.M)
    return int(match.group(1)) if match else 0


def thread_count(pid):
    return len(list(Path("/proc/%d/task" % pid).iterdir()))


def wineserver_pid(env):
    """The wineserver serving the environment's prefix."""
    wanted = ("WINEPREFIX=%s" % env.prefix).encode()
    for entry in Path("/proc").iterdir():
        if not entry.name.isdigit():
            continue
        try:
            if "wineserver" not in os.readlink(entry / "exe"):
                continue
            if wanted in (entry / "environ").read_bytes().split(b"\0"):
                return int(entry.name)
        except OSError:
            continue
    return None


def set_last_update_check_now(env):
    """The monitor's update check is then not due for a day: no updater start
    during a measurement."""
    now = int(time.time() * 10_000_000)  # 100 ns units since 1970
    env.reg_add(SETTINGS_USER_KEY, "LastUpdateCheck", "REG_BINARY", struct.pack("<q", now), view=32)


def install_tool(env, name):
    target = env.to_host(BENCH_DIR) / name
    target.parent.mkdir(parents=True, exist_ok=True)
    shutil.copy2(TOOLS_DIR / name, target)
    return target


class TrayLogTail:
    """Reads the desktop's tray trace from a byte offset on: cheap enough to
    poll every few milliseconds."""

    LINE = re.compile(r"trace:systray:(add_icon|hide_icon) id=0x([0-9a-fA-F]+),")

    def __init__(self, env):
        self.path = Path(env.tray_log_path)
        self.offset = self.path.stat().st_size

    def events(self):
        with open(self.path, "rb") as log_file:
            log_file.seek(self.offset)
            data = log_file.read()
        end = data.rfind(b"\n") + 1
        self.offset += end
        return [(m.group(1), int(m.group(2), 16)) for m in self.LINE.finditer(data[:end].decode("utf-8", "replace"))]


# -- reaction -------------------------------------------------------------

def bench_reaction(trials):
    log("reaction: %d trials" % trials)
    icon = 3  # D:
    with WineEnv(display=True, drives={"d": 16 * MiB}, name="bench-reaction") as env:
        env.fill_drive("d", 8 * MiB)
        set_last_update_check_now(env)
        low, not_low = {"d": (1, 12 * MiB)}, {"d": (1, 4 * MiB)}
        env.set_drive_settings(not_low)
        env.install_program("BrimWatch.exe", INSTALL_DIR)
        monitor = env.start(INSTALL_DIR + r"\BrimWatch.exe", log="monitor.log")
        if env.find_window(MONITOR_CLASS, "*", timeout=60) is None:
            raise RuntimeError("the monitor's window did not appear")

        stamp_exe = install_tool(env, "PulseStamp.exe")
        clock_misses = []

        def raw_clock():
            return time.clock_gettime(time.CLOCK_MONOTONIC_RAW)

        def wait_tray(tail, kind, since, timeout):
            """Seconds from `since` to the tray event, or None."""
            deadline = raw_clock() + timeout
            while raw_clock() < deadline:
                if (kind, icon) in tail.events():
                    return raw_clock() - since
                time.sleep(0.002)
            return None

        def pulse_and_wait(kind, timeout=10.0):
            """Pulses once; the seconds from the end of the pulse to the tray
            event, or None (the pulse was lost or the event came early)."""
            tail = TrayLogTail(env)
            launched = raw_clock()
            result = env.wine(str(stamp_exe), timeout=60)
            returned = raw_clock()
            match = re.search(r"PULSE (\d+) (\d+) (\d+)", result.stdout)
            if result.returncode != 0 or not match:
                raise RuntimeError("PulseStamp failed: %r %r" % (result.stdout, result.stderr))
            before, after, frequency = (int(g) for g in match.groups())
            pulsed = after / frequency
            # Wine's performance counter is the host's raw monotonic clock:
            # the stamps must lie within the run of the process.
            if not launched <= before / frequency <= pulsed <= returned:
                clock_misses.append((launched, before / frequency, pulsed, returned))
                pulsed = returned
            if (kind, icon) in tail.events():
                return None
            return wait_tray(tail, kind, pulsed, timeout)

        def write_and_wait(settings, kind, timeout=10.0):
            """Writes the settings with no pulse; the seconds from the start
            of the write to the tray event, or None."""
            tail = TrayLogTail(env)
            written = raw_clock()
            env.set_drive_settings(settings)
            return wait_tray(tail, kind, written, timeout)

        def settle(fill, kind):
            """Sets D:'s free space and pulses until the tray follows."""
            env.fill_drive("d", fill)
            for _ in range(10):
                if pulse_and_wait(kind, timeout=4.0) is not None:
                    return
            raise RuntimeError("the monitor does not follow settings pulses (%s)" % kind)

        # Pulses: the settings stay; D:'s free space changes behind the
        # monitor's back, and the pulse's rescan shows it.
        env.set_drive_settings({"d": (1, 8 * MiB)})
        time.sleep(2)
        settle(4 * MiB, "add_icon")
        settle(12 * MiB, "hide_icon")
        adds, deletes, retried = [], [], 0
        while len(adds) < trials:
            # A regular tick between the change and the pulse would answer
            # before the pulse: such a trial is done again.
            tail = TrayLogTail(env)
            env.fill_drive("d", 4 * MiB)
            seconds = None if tail.events() else pulse_and_wait("add_icon")
            if seconds is None:
                retried += 1
                settle(12 * MiB, "hide_icon")
                continue
            adds.append(seconds)
            env.fill_drive("d", 12 * MiB)
            seconds = pulse_and_wait("hide_icon")
            if seconds is None:
                retried += 1
                settle(12 * MiB, "hide_icon")
                continue
            deletes.append(seconds)
            log("pulse trial %d: add %.3f s, delete %.3f s" % (len(adds), adds[-1], deletes[-1]))

        # Writes with no pulse, as a policy push or a script makes them.
        env.fill_drive("d", 8 * MiB)
        write_adds, write_deletes = [], []
        while len(write_adds) < trials:
            seconds = write_and_wait(low, "add_icon")
            if seconds is None:
                raise RuntimeError("no tray add after a settings write")
            write_adds.append(seconds)
            seconds = write_and_wait(not_low, "hide_icon")
            if seconds is None:
                raise RuntimeError("no tray delete after a settings write")
            write_deletes.append(seconds)
            log("write trial %d: add %.3f s, delete %.3f s" % (len(write_adds), write_adds[-1], write_deletes[-1]))
        if monitor.poll() is not None:
            raise RuntimeError("the monitor ended during the trials")
    return {"adds": adds, "deletes": deletes, "retried": retried, "clock_misses": len(clock_misses),
            "write_adds": write_adds, "write_deletes": write_deletes}


# -- scan cost ------------------------------------------------------------

SCAN_LETTERS = "defghijklmnopqrstuvwxyz"  # with C: 24 fixed drives


def run_scan_bench(env, exe, passes, rounds, server):
    """Runs ScanBench; samples this process's and the wineserver's CPU while
    it sleeps around each phase. Returns the phases and the DRIVES line."""
    out_path = env.root / "tmp" / ("scanbench-%d.out" % passes)
    with open(out_path, "wb") as out:
        proc = subprocess.Popen([harness.wine_loader(str(exe)), str(exe), str(passes), str(rounds)],
                                env=dict(env.env), cwd=str(env.prefix / "drive_c"), stdin=subprocess.DEVNULL,
                                stdout=out, stderr=subprocess.DEVNULL)
    phases, drives, end, seen, start = [], None, None, 0, None
    deadline = time.monotonic() + 1800
    while end is None:
        if time.monotonic() > deadline:
            proc.kill()
            raise RuntimeError("ScanBench did not finish")
        lines = out_path.read_text(errors="replace").splitlines()
        complete = lines[seen:]
        for line in complete:
            fields = line.split()
            if not fields:
                continue
            if fields[0] == "DRIVES":
                drives = (int(fields[1]), float(fields[2]))
            elif fields[0] == "READY":
                start = (cpu_ns(proc.pid), cpu_ns(server) if server else 0, context_switches(proc.pid))
            elif fields[0] == "DONE":
                stop = (cpu_ns(proc.pid), cpu_ns(server) if server else 0, context_switches(proc.pid))
                phases.append({"mode": fields[1], "thread_ms": float(fields[3]), "wall_ms": float(fields[4]),
                               "process_ms": (stop[0] - start[0]) / 1e6,
                               "server_ms": (stop[1] - start[1]) / 1e6, "wakeups": stop[2] - start[2]})
            elif fields[0] == "END":
                end = int(fields[1])
        seen = len(lines)
        if proc.poll() is not None and end is None:
            if not out_path.read_text(errors="replace").splitlines()[seen:]:
                raise RuntimeError("ScanBench ended with %s before its end" % proc.returncode)
        time.sleep(0.02)
    proc.wait(60)
    return phases, drives, end


def bench_scan():
    log("scan cost: %d tmpfs drives" % len(SCAN_LETTERS))
    drives = {letter: 16 * MiB for letter in SCAN_LETTERS}
    with WineEnv(display=True, drives=drives, name="bench-scan") as env:
        # Every drive watched and none low: the pass a monitor makes at
        # almost every tick.
        env.set_drive_settings({chr(ord("a") + i): (1, 1 * MiB) for i in range(26)})
        exe = install_tool(env, "ScanBench.exe")
        server = wineserver_pid(env)
        _, (queried, loop_ms), _ = run_scan_bench(env, exe, 1, 1, server)
        passes = max(50, int(2000 / max(loop_ms, 0.01)))
        rounds = 10
        log("scan cost: %d drives queried, %.2f ms a loop: %d passes x %d rounds" % (queried, loop_ms, passes,
                                                                                     rounds))
        phases, (queried, _), mask = run_scan_bench(env, exe, passes, rounds, server)
    result = {"drives": queried, "passes": passes, "rounds": rounds, "icon_mask": mask, "server": server is not None}
    for mode in ("scan", "bare"):
        own = [p for p in phases if p["mode"] == mode]
        result[mode] = {key: sum(p[key] for p in own) / (passes * len(own)) * 1000.0  # microseconds a pass
                        for key in ("process_ms", "server_ms", "thread_ms", "wall_ms")}
        result[mode]["cpu_us"] = result[mode]["process_ms"] + result[mode]["server_ms"]
        result[mode]["wakeups"] = sum(p["wakeups"] for p in own) / (passes * len(own))
        result[mode]["per_round"] = [(p["process_ms"] + p["server_ms"]) / passes * 1000.0 for p in own]
    return result


# -- idle cost and memory ---------------------------------------------------

def bench_idle(seconds, run=1, runs=1):
    log("idle cost: %d s, run %d of %d" % (seconds, run, runs))
    with WineEnv(display=True, drives={"d": 16 * MiB}, name="bench-idle") as env:
        env.set_drive_settings({"d": (1, 1 * MiB)})
        set_last_update_check_now(env)
        env.install_program("BrimWatch.exe", INSTALL_DIR)
        floor_exe = install_tool(env, "IdleFloor.exe")
        monitor = env.start(INSTALL_DIR + r"\BrimWatch.exe", log="monitor.log")
        floor = env.start(str(floor_exe), log="floor.log")
        # The second floor also asks the watched drive's free space at each tick.
        query_floor = env.start(str(floor_exe), "/queries", "D", log="query-floor.log")
        for cls in (MONITOR_CLASS, FLOOR_CLASS):
            if env.find_window(cls, "*", timeout=60) is None:
                raise RuntimeError("no window of class %s" % cls)
        time.sleep(5)  # start-up done
        server = wineserver_pid(env)
        procs = {"monitor": monitor.pid, "floor": floor.pid, "query_floor": query_floor.pid}
        before = {name: (cpu_ns(pid), cpu_ticks(pid), context_switches(pid)) for name, pid in procs.items()}
        server_before = cpu_ns(server) if server else 0
        started = time.monotonic()
        time.sleep(seconds)
        elapsed = time.monotonic() - started
        result = {"seconds": elapsed}
        for name, pid in procs.items():
            ns, ticks, switches = cpu_ns(pid), cpu_ticks(pid), context_switches(pid)
            result[name] = {"cpu_ms": (ns - before[name][0]) / 1e6,
                            "stat_ms": (ticks - before[name][1]) * 1000.0 / CLK_TCK,
                            "wakeups": switches - before[name][2],
                            "hwm_kb": status_kb(pid, "VmHWM"), "rss_kb": status_kb(pid, "VmRSS"),
                            "threads": thread_count(pid)}
        result["server_cpu_ms"] = (cpu_ns(server) - server_before) / 1e6 if server else None
        for proc in (monitor, floor, query_floor):
            if proc.poll() is not None:
                raise RuntimeError("a program ended during the idle time")
    return result


# -- forecast ---------------------------------------------------------------

def bench_forecast():
    """The traces' figures, one dictionary per trace (ForecastBench's JSON)."""
    log("forecast: %s" % FORECAST_EXE)
    result = subprocess.run([str(FORECAST_EXE)], capture_output=True, text=True, timeout=600)
    if result.returncode != 0:
        raise RuntimeError("ForecastBench failed (%d): %s" % (result.returncode, result.stderr.strip()))
    return [json.loads(line) for line in result.stdout.splitlines() if line.strip()]


def duration_text(seconds):
    """12 s, 10 min 30 s, 2 h 48 min; before the threshold, or after it."""
    if seconds < 0:
        return "%s after it" % duration_text(-seconds)
    whole = int(round(seconds))
    if whole < 60:
        return "%d s" % whole
    if whole < 3600:
        return "%d min %d s" % (whole // 60, whole % 60) if whole % 60 else "%d min" % (whole // 60)
    minutes = (whole % 3600) // 60
    return "%d h %d min" % (whole // 3600, minutes) if minutes else "%d h" % (whole // 3600)


def balloons_text(trace):
    low, high = trace["balloons_fewest"], trace["balloons_most"]
    return "%d" % high if low == high else "%d to %d" % (low, high)


def false_alarms_text(trace):
    if trace["false_alarms"] == 0:
        return "0"
    return "%d a run at most, in %d of %d runs" % (trace["most_false_alarms"], trace["runs_with_false_alarm"],
                                                  trace["runs"])


def forecast_rows(traces):
    """The forecast's table: one row per trace."""
    rows = []
    for trace in traces:
        drive = "%s, %s" % (trace["drive"], size_text(trace["threshold_mb"]))
        kind = trace["kind"]
        false_ok = trace["false_alarms"] == 0
        if kind == "fill":
            horizon = trace["horizon_min"] * 60
            left = trace["left_after_two_minutes_s"]
            wanted = duration_text(left)
            if left > horizon:
                wanted += " (%s wanted: the horizon)" % duration_text(horizon)
            lead = "%s / %s" % (duration_text(trace["lead_least_s"]), duration_text(trace["lead_median_s"]))
            within = "%d of %d" % (trace["within_two_passes"], trace["runs"])
            ok = trace["within_two_passes"] == trace["runs"] and false_ok
            rows.append((trace["label"], drive, lead, wanted, within, false_alarms_text(trace), balloons_text(trace),
                         "within 2 passes; 0 false", met(ok)))
        elif kind == "hover":
            ok = trace["balloons_most"] <= HOVER_BALLOON_GOAL and false_ok
            rows.append((trace["label"], drive, "—", "—", "—", false_alarms_text(trace), balloons_text(trace),
                         "≤ %d balloons; 0 false" % HOVER_BALLOON_GOAL, met(ok)))
        else:
            rows.append((trace["label"], drive, "—", "never reaches it", "—", false_alarms_text(trace),
                         balloons_text(trace), "0 false", met(false_ok)))
    return rows


def forecast_notes(traces):
    notes = []
    shortest_told = set()
    for trace in traces:
        if trace["kind"] != "stop":
            continue
        if "early_icon_gone_least_s" in trace:
            notes.append("%s: the early icon went %s to %s after the download stopped." % (
                trace["label"], duration_text(trace["early_icon_gone_least_s"]),
                duration_text(trace["early_icon_gone_most_s"])))
        key = (trace["drive"], trace["rate_mb_per_s"], trace["shortest_warning_fill_s"])
        if key not in shortest_told:
            shortest_told.add(key)
            notes.append("The shortest download of %g MB/s on the %s drive, from the same free space, that brought "
                         "a forecast balloon lasted %d s at the luckiest offset and %d s at every offset (downloads "
                         "of whole seconds, each at the %d offsets)." % (
                             trace["rate_mb_per_s"], trace["drive"], trace["shortest_warning_fill_s"],
                             trace["shortest_warning_fill_every_offset_s"], trace["runs"]))
    return notes


def size_text(megabytes):
    return "%.0f GB" % (megabytes / 1024) if megabytes >= 1024 else "%.0f MB" % megabytes


def stripped_size(path):
    with tempfile.TemporaryDirectory() as folder:
        target = Path(folder) / path.name
        subprocess.run(["x86_64-w64-mingw32-strip", "-o", str(target), str(path)], check=True)
        return target.stat().st_size


# -- the table --------------------------------------------------------------

def machine_lines(started_load, wine_used):
    cpu = "unknown"
    with open("/proc/cpuinfo") as info:
        for line in info:
            if line.startswith("model name"):
                cpu = line.split(":", 1)[1].strip()
                break
    uname = platform.uname()
    lines = ["- Date: %s" % datetime.datetime.now(datetime.timezone.utc).strftime("%Y-%m-%d %H:%M UTC"),
             "- Machine: %s %s %s, %d CPUs (%s), load average at start %s, at the end %s" % (
                 uname.system, uname.release, uname.machine, os.cpu_count(), cpu,
                 " ".join("%.2f" % x for x in started_load), " ".join("%.2f" % x for x in os.getloadavg()))]
    if wine_used:
        wine = subprocess.run([harness.WINE64_LOADER, "--version"], capture_output=True, text=True).stdout.strip()
        lines.append("- Wine: %s; programs: x86_64, MinSizeRel, static runtime" % wine)
    note = os.environ.get("BENCH_NOTE", "").strip()
    if note:
        lines.append("- Note: %s" % note)
    return lines


def ratio_text(value, floor):
    return "%.2f ×" % (value / floor) if floor else "n/a"


def met(flag):
    return "yes" if flag else "**no**"


def build_table(results, started_load):
    rows = []
    notes = []
    reaction = results.get("reaction")
    if reaction:
        adds = reaction["adds"]
        median, worst = statistics.median(adds), max(adds)
        rows.append(("Reaction, median of %d (settings pulse → tray add)" % len(adds), "%.3f s" % median,
                     "%.3f s (rescan delay)" % RESCAN_DELAY, ratio_text(median, RESCAN_DELAY), "≤ 1.05 s",
                     met(median <= 1.05)))
        rows.append(("Reaction, worst of %d" % len(adds), "%.3f s" % worst, "%.3f s" % RESCAN_DELAY,
                     ratio_text(worst, RESCAN_DELAY), "≤ 1.2 s", met(worst <= 1.2)))
        deletes = reaction["deletes"]
        notes.append("Reaction: from the end of the PulseEvent (PulseStamp.exe reads Wine's performance counter, "
                     "the host's raw monotonic clock, right after it) to the moment the script sees the line the "
                     "desktop's tray writes for the icon (polled every 2 ms); best %.3f s. Pulse → tray delete, "
                     "the same trials: median %.3f s, worst %.3f s. Trials done again (pulse lost or a regular "
                     "tick came first): %d; stamps outside the process's run (then timed from its return): %d." % (
                         min(adds), statistics.median(deletes), max(deletes), reaction["retried"],
                         reaction["clock_misses"]))
        writes = reaction["write_adds"]
        median, worst = statistics.median(writes), max(writes)
        rows.append(("Settings write with no pulse → tray add, median of %d" % len(writes), "%.3f s" % median,
                     "%.3f s (rescan delay)" % RESCAN_DELAY, ratio_text(median, RESCAN_DELAY), "≤ 1.1 s",
                     met(median <= 1.1)))
        rows.append(("Settings write with no pulse, worst of %d" % len(writes), "%.3f s" % worst,
                     "%.3f s" % RESCAN_DELAY, ratio_text(worst, RESCAN_DELAY), "≤ 1.3 s", met(worst <= 1.3)))
        notes.append("Settings write: the value written through the test driver's registry call with no pulse "
                     "(as a policy push or a script writes it), timed from the start of the call to the tray "
                     "line; best %.3f s. Write → tray delete: median %.3f s, worst %.3f s." % (
                         min(writes), statistics.median(reaction["write_deletes"]),
                         max(reaction["write_deletes"])))
    scan = results.get("scan")
    if scan:
        value, floor = scan["scan"]["cpu_us"], scan["bare"]["cpu_us"]
        rows.append(("Scan cost, one pass over %d fixed drives (CPU)" % scan["drives"], "%.0f µs" % value,
                     "%.0f µs (bare query loop)" % floor, ratio_text(value, floor), "≤ 1.3 ×",
                     met(floor > 0 and value / floor <= 1.3)))
        notes.append("Scan cost: ScanBench.exe runs the monitor's ScanDrives and a bare loop of one "
                     "GetDiskFreeSpaceExW per watched drive in alternating phases of %d passes (%d rounds each); CPU is the time on a CPU (schedstat) of the "
                     "process plus the wineserver over each phase. Of a pass: process %.0f µs + wineserver %.0f µs "
                     "(bare: %.0f + %.0f); wall %.0f µs (bare %.0f); context switches of the process %.1f (bare %.1f). Per round (µs, scan / bare): %s. Every "
                     "drive watched, none low (icon mask after the run: %d)." % (
                         scan["passes"], scan["rounds"], scan["scan"]["process_ms"], scan["scan"]["server_ms"],
                         scan["bare"]["process_ms"], scan["bare"]["server_ms"], scan["scan"]["wall_ms"],
                         scan["bare"]["wall_ms"], scan["scan"]["wakeups"], scan["bare"]["wakeups"],
                         ", ".join("%.0f/%.0f" % pair for pair in zip(scan["scan"]["per_round"],
                                                                     scan["bare"]["per_round"])),
                         scan["icon_mask"]))
    idle_runs = results.get("idle")
    if idle_runs:
        count = len(idle_runs)

        def median_run(value, floor):
            """The run whose ratio of value to floor is the median of the runs
            (the lower middle one for an even count), so that its value, its
            floor and its ratio are shown together."""
            ordered = sorted(idle_runs, key=lambda run: value(run) / floor(run) if floor(run) else float("inf"))
            return ordered[(count - 1) // 2]

        def idle_row(label, value, floor, unit, floor_name, goal):
            run = median_run(value, floor)
            ratio_ok = floor(run) > 0 and value(run) / floor(run) <= 1.2
            return (label, unit % value(run), (unit + " (%s)") % (floor(run), floor_name),
                    ratio_text(value(run), floor(run)), goal, met(ratio_ok) if goal != "—" else "—")

        span = "%.0f s" % statistics.median(run["seconds"] for run in idle_runs)
        cpu_values = [run[name]["cpu_ms"] for run in idle_runs for name in ("monitor", "query_floor", "floor")]
        of = "median of %d runs" % count if count > 1 else "one run"
        cpu = lambda run: run["monitor"]["cpu_ms"]  # noqa: E731
        wakeups = lambda run: run["monitor"]["wakeups"]  # noqa: E731
        first = "%s, each beside its floor" % of if count > 1 else of
        rows.append(idle_row("Idle CPU over %s, one watched drive, not low (%s)" % (span, first), cpu,
                             lambda run: run["query_floor"]["cpu_ms"], "%.1f ms", "IdleFloor /queries", "≤ 1.2 ×"))
        rows.append(idle_row("Idle wake-ups over %s, context switches (%s)" % (span, of), wakeups,
                             lambda run: run["query_floor"]["wakeups"], "%d", "IdleFloor /queries", "≤ 1.2 ×"))
        rows.append(idle_row("Idle CPU, against the bare timer (%s)" % of, cpu,
                             lambda run: run["floor"]["cpu_ms"], "%.1f ms", "IdleFloor", "—"))
        rows.append(idle_row("Idle wake-ups, against the bare timer (%s)" % of, wakeups,
                             lambda run: run["floor"]["wakeups"], "%d", "IdleFloor", "—"))
        hwm = median_run(lambda run: run["monitor"]["hwm_kb"], lambda run: run["floor"]["hwm_kb"])
        rows.append(("Peak resident memory, VmHWM (%s)" % of, "%.1f MiB" % (hwm["monitor"]["hwm_kb"] / 1024),
                     "%.1f MiB (IdleFloor)" % (hwm["floor"]["hwm_kb"] / 1024),
                     ratio_text(hwm["monitor"]["hwm_kb"], hwm["floor"]["hwm_kb"]), "≤ 1.2 ×",
                     met(hwm["floor"]["hwm_kb"] > 0 and hwm["monitor"]["hwm_kb"] / hwm["floor"]["hwm_kb"] <= 1.2)))
        notes.append("Idle: BrimWatch (one watched tmpfs drive, not low, update check not due) and IdleFloor.exe "
                     "/queries D (hidden window, message loop, the same 45 s timer, and at each tick one free-space "
                     "query of the watched drive: the scan's unavoidable work) run at the same time in one prefix "
                     "with a desktop, with a third process, IdleFloor.exe, that only waits for the timer; CPU is the "
                     "time on a CPU summed over /proc/<pid>/task/*/schedstat, wake-ups the voluntary and involuntary "
                     "context switches summed over /proc/<pid>/task/*/status. Each program's CPU over the %s was "
                     "%.1f to %.1f ms in these runs, so one scheduling blip or stray page fault moves a single "
                     "run's ratio a long way: each idle figure is therefore the run, of %d made one after another, "
                     "each in a fresh prefix with its own floors beside it, whose ratio is the median; the row "
                     "shows that run's value, floor and ratio." % (span, min(cpu_values), max(cpu_values), count))
        for number, run in enumerate(idle_runs, 1):
            monitor, floor, query_floor = run["monitor"], run["floor"], run["query_floor"]
            server = ("%.1f ms" % run["server_cpu_ms"]) if run["server_cpu_ms"] is not None else "unknown"
            notes.append("Idle run %d of %d (%.0f s): CPU %.1f ms against %.1f ms (%s), bare timer %.1f ms (%s); "
                         "wake-ups %d against %d (%s), bare timer %d (%s); VmHWM %.1f MiB against %.1f MiB (%s); "
                         "utime+stime in clock ticks: monitor %.0f ms, floor /queries %.0f ms; threads: monitor %d, "
                         "floor %d; the shared wineserver used %s; resident at the end: monitor %.1f MiB, floor "
                         "%.1f MiB." % (
                             number, count, run["seconds"], monitor["cpu_ms"], query_floor["cpu_ms"],
                             ratio_text(monitor["cpu_ms"], query_floor["cpu_ms"]), floor["cpu_ms"],
                             ratio_text(monitor["cpu_ms"], floor["cpu_ms"]), monitor["wakeups"],
                             query_floor["wakeups"], ratio_text(monitor["wakeups"], query_floor["wakeups"]),
                             floor["wakeups"], ratio_text(monitor["wakeups"], floor["wakeups"]),
                             monitor["hwm_kb"] / 1024, floor["hwm_kb"] / 1024,
                             ratio_text(monitor["hwm_kb"], floor["hwm_kb"]), monitor["stat_ms"],
                             query_floor["stat_ms"], monitor["threads"], floor["threads"], server,
                             monitor["rss_kb"] / 1024, floor["rss_kb"] / 1024))
    sizes = results.get("footprint")
    if sizes:
        for name, size in sizes.items():
            rows.append(("%s, stripped" % name, "%.1f KB" % (size / 1024), "—", "—", "≤ %d KB" % SIZE_GOAL_KB,
                         met(size <= SIZE_GOAL_KB * 1024)))
    lines = ["# Brimline benchmark", ""] + machine_lines(started_load, bool(rows)) + [""]
    if rows:
        lines.append("| Figure | Value | Floor | Ratio | Goal | Met |")
        lines.append("|---|---|---|---|---|---|")
        for row in rows:
            lines.append("| " + " | ".join(row) + " |")
        lines.append("")
        lines += ["- " + note for note in notes]
    traces = results.get("forecast")
    if traces:
        if rows:
            lines.append("")
        lines += ["## Forecast", "",
                  "Each trace replayed through the monitor's scan pass (ScanWatchedDrives) against the native "
                  "tests' fake tray, one pass every 45 s, horizon %d minutes, at each of the %d whole-second "
                  "offsets between the trace and the pass timer (one run each). Lead: from the first balloon "
                  "(early or low) to the instant the drive is down to its threshold, least and median over the "
                  "runs; wanted: the time left after two minutes of fill (at most the horizon); within 2 passes: "
                  "the runs whose first balloon came at most two passes after the wanted moment. A false alarm "
                  "is a forecast balloon after which the drive does not come down to its threshold within the "
                  "horizon. Balloons: early and low ones, fewest to most over the runs. MB = 1,048,576 bytes." % (
                      traces[0]["horizon_min"], traces[0]["runs"]), "",
                  "| Trace | Drive, threshold | Lead of the first warning (least / median) | Time left after 2 min of fill | "
                  "Within 2 passes | False alarms | Balloons | Goal | Met |",
                  "|---|---|---|---|---|---|---|---|---|"]
        for row in forecast_rows(traces):
            lines.append("| " + " | ".join(row) + " |")
        lines.append("")
        lines += ["- " + note for note in forecast_notes(traces)]
    return "\n".join(lines) + "\n"


def main():
    only = set(filter(None, os.environ.get("BENCH_ONLY", "reaction,scan,idle,footprint,forecast").split(",")))
    trials = int(os.environ.get("BENCH_TRIALS", "20"))
    idle_seconds = int(os.environ.get("BENCH_IDLE_SECONDS", "600"))
    idle_runs = int(os.environ.get("BENCH_IDLE_RUNS", "3"))
    output = Path(os.environ.get("BENCH_OUTPUT") or SOURCE_DIR / "bench" / "results" / "latest.md")
    if only & set(WINE_FIGURES) and os.geteuid() != 0:
        sys.exit("bench: needs root for the tmpfs drives")
    load = os.getloadavg()
    results = {}
    if "forecast" in only:
        results["forecast"] = bench_forecast()
    if "footprint" in only:
        results["footprint"] = {name: stripped_size(harness.program(name)) for name in ("BrimWatch.exe",
                                                                                       "BrimSet.exe")}
    if "scan" in only:
        results["scan"] = bench_scan()
    if "reaction" in only:
        results["reaction"] = bench_reaction(trials)
    if "idle" in only:
        results["idle"] = [bench_idle(idle_seconds, run, idle_runs) for run in range(1, idle_runs + 1)]
    table = build_table(results, load)
    print(table)
    output.parent.mkdir(parents=True, exist_ok=True)
    output.write_text(table)
    log("written to %s" % output)


if __name__ == "__main__":
    main()
