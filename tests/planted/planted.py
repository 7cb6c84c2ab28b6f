#!/usr/bin/env python3
"""Planted-fault check: does the test suite still catch known faults?

Copies a checkout to a work folder, builds it once (native tree with the
sanitizers, win64 tree with mingw-w64), runs the tests each fault names on
the unmodified copy (the baseline: they must pass), then plants the faults
of faults.py one at a time: replace one exact text, rebuild that tree
incrementally, run the fault's tests with ctest, restore the text and
rebuild every tree, so that the next fault starts from clean sources. A
fault is caught when at least one of its tests fails; a build that fails
with the fault in place, or a ctest run that reports no result, is not.

    python3 tests/planted/planted.py --source <checkout> [--only ID,...] [--work DIR]

Writes DIR/planted-report.md (default DIR: /tmp/brim-planted) and the
build and test logs under DIR/logs. Exit code 0 only when the baseline
passed and every fault was caught. Needs what the test suites need: root,
Xvfb and Wine for the end-to-end tests (CI=true is set, so a missing
prerequisite fails a test instead of skipping it).
"""

import argparse
import os
import re
import shutil
import signal
import subprocess
import sys
import time
from pathlib import Path

sys.dont_write_bytecode = True  # leave no __pycache__ in the checkout
sys.path.insert(0, str(Path(__file__).resolve().parent))
from faults import FAULTS, anchor_problem  # noqa: E402

JOBS = "2"
TEST_TIMEOUT = 600     # s, ctest's limit for a test without a TIMEOUT property of its own
RUN_LIMIT = 1800       # s, for a whole ctest run; the end-to-end tests' own limit is 1200 s
TREES = ("native", "win64")


def configure_args(tree, src):
    if tree == "native":
        return ["-DBRIM_SANITIZE=ON", "-DCMAKE_BUILD_TYPE=Debug"]
    return ["-DCMAKE_TOOLCHAIN_FILE=%s" % (src / "cmake" / "mingw-w64-x86_64.cmake"),
            "-DCMAKE_BUILD_TYPE=MinSizeRel"]


class Check:
    def __init__(self, work, trees):
        self.work = work
        self.trees = trees  # the trees built: each is rebuilt after a fault is taken out
        self.src = work / "src"
        self.logs = work / "logs"

    def tree(self, name):
        return self.work / name

    # ------------------------------------------------------------ commands

    def run(self, args, log, cwd=None, env=None, limit=None):
        """Runs a command into a log file in its own process group. Returns
        (exit code or None when it ran past `limit`, seconds)."""
        started = time.monotonic()
        with open(log, "a") as out:
            out.write("$ %s\n" % " ".join(str(a) for a in args))
            out.flush()
            proc = subprocess.Popen([str(a) for a in args], cwd=cwd, env=env, stdout=out,
                                    stderr=subprocess.STDOUT, stdin=subprocess.DEVNULL, start_new_session=True)
            try:
                code = proc.wait(timeout=limit)
            except subprocess.TimeoutExpired:
                os.killpg(proc.pid, signal.SIGTERM)
                try:
                    proc.wait(timeout=30)
                except subprocess.TimeoutExpired:
                    os.killpg(proc.pid, signal.SIGKILL)
                    proc.wait()
                code = None
                out.write("\n[planted] killed after %d s\n" % limit)
        return code, time.monotonic() - started

    def build(self, tree, log):
        code, seconds = self.run(["cmake", "--build", self.tree(tree), "-j", JOBS], log)
        return code == 0, seconds

    def configure_and_build(self, tree):
        log = self.logs / ("build-%s.log" % tree)
        args = ["cmake", "-S", self.src, "-B", self.tree(tree)] + configure_args(tree, self.src)
        say("configure and build %s ..." % tree)
        code, seconds = self.run(args, log)
        if code != 0:
            die("configuring the %s tree failed: see %s" % (tree, log))
        ok, more = self.build(tree, log)
        if not ok:
            die("building the %s tree failed: see %s" % (tree, log))
        say("  %s built in %.0f s" % (tree, seconds + more))

    def ctest(self, tree, regex, log):
        """Runs the tests matching `regex`; returns (outcome, failed test
        names, test count, seconds). outcome: "passed", "failed" or "error"
        (no summary line: nothing ran, or ctest itself broke or hung)."""
        env = dict(os.environ, CI="true")
        code, seconds = self.run(["ctest", "-R", regex, "--output-on-failure", "--no-tests=error",
                                  "--timeout", str(TEST_TIMEOUT)],
                                 log, cwd=self.tree(tree), env=env, limit=RUN_LIMIT)
        text = log.read_text(errors="replace")
        # Only this run's part of the log.
        text = text[text.rfind("$ ctest"):]
        summary = re.search(r"tests passed, (\d+) tests? failed out of (\d+)", text)
        failed = re.findall(r"^\s*\d+ - (\S+) \(([^)]*)\)\s*$", text.split("The following tests FAILED:")[-1],
                            re.M) if "The following tests FAILED:" in text else []
        names = ["%s (%s)" % f if f[1] != "Failed" else f[0] for f in failed]
        if code is None:
            return "error", names + ["ctest killed after %d s" % RUN_LIMIT], 0, seconds
        if summary is None or int(summary.group(2)) == 0:
            return "error", names, 0, seconds
        total = int(summary.group(2))
        if code == 0 and int(summary.group(1)) == 0:
            return "passed", [], total, seconds
        return ("failed" if names else "error"), names, total, seconds

    # ------------------------------------------------------------ faults

    def plant(self, f):
        """Writes the fault into its file; returns the original text."""
        original = self.text_of(f)
        (self.src / f.file).write_text(original.replace(f.find, f.replace))
        return original

    def text_of(self, f):
        """The fault's file, after checking that its text occurs exactly once."""
        problem = anchor_problem(f, self.src)
        if problem:
            die(problem)
        return (self.src / f.file).read_text()

    def try_fault(self, f):
        log = self.logs / ("fault-%s.log" % f.id)
        log.write_text("")
        say("fault %s: %s" % (f.id, f.what))
        started = time.monotonic()
        original = self.plant(f)
        try:
            built, _ = self.build(f.tree, log)
            if built:
                outcome, names, count, _ = self.ctest(f.tree, f.tests, log)
            else:
                outcome, names, count = "build failed", [], 0
        finally:
            (self.src / f.file).write_text(original)
        for tree in self.trees:
            restored, _ = self.build(tree, log)
            if not restored:
                die("rebuilding the %s tree after restoring %s failed: see %s" % (tree, f.file, log))
        seconds = time.monotonic() - started
        caught = outcome == "failed"
        say("  %s: %s%s (%.0f s)" % (f.id, "caught" if caught else "NOT caught: " + outcome,
                                      " by " + ", ".join(names) if caught else "", seconds))
        return dict(fault=f, caught=caught, outcome=outcome, failed=names, count=count, seconds=seconds)


def say(text):
    print(text, flush=True)


def die(text):
    sys.exit("planted: " + text)


def prepare_work(source, work):
    """A fresh copy of the checkout (without build/ and .git) in work/src."""
    if work.exists():
        real = os.path.realpath(work)
        with open("/proc/self/mounts") as mounts:
            busy = [line.split()[1] for line in mounts if line.split()[1].startswith(real + "/")]
        if busy:
            die("%s still has mounts (from an interrupted test run?): %s" % (work, ", ".join(busy)))
        shutil.rmtree(work)
    (work / "logs").mkdir(parents=True)

    def skip(folder, names):
        if Path(folder).resolve() == source:
            return [n for n in names if n in ("build", ".git")]
        return [n for n in names if n == "__pycache__"]

    shutil.copytree(source, work / "src", symlinks=True, ignore=skip)


def cell(text):
    return str(text).replace("|", "\\|").replace("\n", " ")


def markdown_table(header, rows):
    lines = ["| " + " | ".join(header) + " |", "|" + "---|" * len(header)]
    lines += ["| " + " | ".join(cell(c) for c in row) + " |" for row in rows]
    return "\n".join(lines)


def report(source, baseline, results, total_seconds, ok):
    base_rows = [(r["tree"], "`%s`" % r["tests"], r["count"], r["outcome"], ", ".join(r["failed"]) or "-",
                  "%.0f" % r["seconds"]) for r in baseline]
    fault_rows = []
    for r in results:
        f = r["fault"]
        caught = "yes" if r["caught"] else ("no (expected)" if f.expect_missed else "**no**")
        if not r["caught"] and r["outcome"] != "passed":
            caught += " (%s)" % r["outcome"]
        fault_rows.append((f.id, f.file, f.what, "`%s`" % f.tests, caught, ", ".join(r["failed"]) or "-",
                           "%.0f" % r["seconds"]))
    missed = [r["fault"].id for r in results if not r["caught"]]
    text = "\n\n".join([
        "# Planted-fault check",
        "Source: `%s`. Finished %s; total %.0f s." % (source, time.strftime("%Y-%m-%d %H:%M:%S %Z"),
                                                      total_seconds),
        "## Baseline (unmodified copy: every run must pass)",
        markdown_table(("tree", "tests", "count", "outcome", "failed", "seconds"), base_rows),
        "## Faults",
        markdown_table(("id", "file", "fault", "tests run", "caught", "failing tests", "seconds"), fault_rows),
        "Result: %s." % ("every fault caught, baseline passed" if ok else
                         "baseline %s; not caught: %s" % (
                             "passed" if all(b["outcome"] == "passed" for b in baseline) else "FAILED",
                             ", ".join(missed) or "none")),
    ]) + "\n"
    return text


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--source", required=True, type=Path, help="the checkout to copy (its build/ is skipped)")
    parser.add_argument("--only", help="comma-separated fault ids (default: all)")
    parser.add_argument("--work", type=Path, default=Path("/tmp/brim-planted"), help="work folder (replaced)")
    args = parser.parse_args()

    source = args.source.resolve()
    work = args.work.resolve()
    if not (source / "CMakeLists.txt").is_file():
        die("%s is not a Brimline checkout" % source)
    if work == source or source in work.parents or work in source.parents:
        die("the work folder must lie outside the source and not contain it")
    faults = FAULTS
    if args.only:
        wanted = [i.strip() for i in args.only.split(",") if i.strip()]
        known = {f.id for f in FAULTS}
        unknown = [i for i in wanted if i not in known]
        if unknown:
            die("unknown fault id(s): %s (known: %s)" % (", ".join(unknown), ", ".join(sorted(known))))
        faults = [f for f in FAULTS if f.id in wanted]

    started = time.monotonic()
    trees = [t for t in TREES if any(f.tree == t for f in faults)]
    check = Check(work, trees)
    say("copying %s to %s" % (source, check.src))
    prepare_work(source, work)
    for f in faults:  # every text is checked before the long builds
        check.text_of(f)
    for tree in trees:
        check.configure_and_build(tree)

    baseline = []
    runs = []
    for f in faults:
        if (f.tree, f.tests) not in runs:
            runs.append((f.tree, f.tests))
    for tree, tests in runs:
        log = check.logs / "baseline.log"
        outcome, names, count, seconds = check.ctest(tree, tests, log)
        say("baseline %s %s: %s, %d tests (%.0f s)%s" % (tree, tests, outcome, count, seconds,
                                                        ": " + ", ".join(names) if names else ""))
        baseline.append(dict(tree=tree, tests=tests, outcome=outcome, failed=names, count=count, seconds=seconds))

    results = [check.try_fault(f) for f in faults]

    baseline_ok = all(b["outcome"] == "passed" for b in baseline)
    ok = baseline_ok and all(r["caught"] for r in results)
    total = time.monotonic() - started
    text = report(source, baseline, results, total, ok)
    (work / "planted-report.md").write_text(text)

    rows = [("id", "file", "tests run", "caught", "seconds")]
    for r in results:
        f = r["fault"]
        caught = "yes" if r["caught"] else ("no (expected)" if f.expect_missed else "NO")
        rows.append((f.id, f.file, f.tests, caught, "%.0f" % r["seconds"]))
    widths = [max(len(row[i]) for row in rows) for i in range(5)]
    say("")
    for number, row in enumerate(rows):
        say("  ".join(c.ljust(w) for c, w in zip(row, widths)).rstrip())
        if number:
            say("    " + results[number - 1]["fault"].what)
    say("baseline: %s" % ("passed" if baseline_ok else "FAILED"))
    say("total %.0f s; report: %s" % (total, work / "planted-report.md"))
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
