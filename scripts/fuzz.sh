#!/usr/bin/env bash
# Builds the libFuzzer targets of tests/fuzz with clang into build/fuzz and
# runs each for a bounded time (BRIM_FUZZ_SECONDS, default 20) from the seed
# corpus kept in tests/fuzz/corpus/<target>. The committed corpus is only
# read: new inputs go to a temporary folder that is removed afterwards, and
# crashes are kept in build/fuzz/crashes/<target>. Exits non-zero when a
# target fails to build or finds a crash.
#
#   BRIM_FUZZ_SECONDS=60 scripts/fuzz.sh             all targets, a minute each
#   scripts/fuzz.sh fuzz_scan_pass                   one target
#   BRIM_FUZZ_MERGE=1 scripts/fuzz.sh fuzz_x         also merge what the run found
#                                                    into the committed corpus
#                                                    (by hand, never in CI)
#
# A crash input is kept as build/fuzz/crashes/<target>/crash-*; run the
# target on that file alone to reproduce it.
set -uo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
BUILD=${BRIM_FUZZ_BUILD_DIR:-$ROOT/build/fuzz}
SECONDS_EACH=${BRIM_FUZZ_SECONDS:-20}
JOBS=${BRIM_JOBS:-2}
CORPUS_ROOT="$ROOT/tests/fuzz/corpus"

CXX=${BRIM_FUZZ_CXX:-}
if [ -z "$CXX" ]; then
    for candidate in clang++ clang++-14; do
        if command -v "$candidate" >/dev/null; then
            CXX=$(command -v "$candidate")
            break
        fi
    done
fi
if [ -z "$CXX" ]; then
    echo "fuzz: clang++ not found (scripts/setup.sh installs it)" >&2
    echo "fuzz: 0 targets passed, 1 failed"
    exit 1
fi

echo "==== fuzz build ($CXX)"
mkdir -p "$BUILD"
if ! cmake -S "$ROOT/tests/fuzz" -B "$BUILD" -DCMAKE_CXX_COMPILER="$CXX" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        >"$BUILD/configure.log" 2>&1; then
    cat "$BUILD/configure.log" >&2
    echo "fuzz: 0 targets passed, 1 failed"
    exit 1
fi
if ! cmake --build "$BUILD" -j "$JOBS"; then
    echo "fuzz: 0 targets passed, 1 failed"
    exit 1
fi

targets=()
if [ $# -gt 0 ]; then
    targets=("$@")
else
    for source in "$ROOT"/tests/fuzz/fuzz_*.cpp; do
        targets+=("$(basename "$source" .cpp)")
    done
fi

WORK=$(mktemp -d "${TMPDIR:-/tmp}/brim-fuzz.XXXXXX")
trap 'rm -rf "$WORK"' EXIT

# Sanitizer findings end the run as a crash; leaks count too.
export ASAN_OPTIONS="abort_on_error=1:detect_leaks=1:symbolize=1${ASAN_OPTIONS:+:$ASAN_OPTIONS}"
export UBSAN_OPTIONS="halt_on_error=1:abort_on_error=1:print_stacktrace=1${UBSAN_OPTIONS:+:$UBSAN_OPTIONS}"

passed=0
failed=0
started=$(date +%s)
for target in "${targets[@]}"; do
    binary="$BUILD/$target"
    seeds="$CORPUS_ROOT/$target"
    echo
    echo "==== fuzz: $target (${SECONDS_EACH} s)"
    if [ ! -x "$binary" ]; then
        echo "fuzz: $target: no such target" >&2
        failed=$((failed + 1))
        continue
    fi
    found="$WORK/$target"
    crashes="$BUILD/crashes/$target"
    mkdir -p "$found" "$crashes"
    corpora=("$found")
    [ -d "$seeds" ] && corpora+=("$seeds")
    log="$BUILD/$target.log"
    # New inputs land in the first folder only: the temporary one.
    "$binary" -max_total_time="$SECONDS_EACH" -timeout=10 -rss_limit_mb=2048 -max_len=4096 \
        -print_final_stats=1 -artifact_prefix="$crashes/" "${corpora[@]}" >"$log" 2>&1
    status=$?
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
    speed=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -1)
    cov=$(grep -Eo 'cov: [0-9]+' "$log" | tail -1)
    if [ "$status" -eq 0 ]; then
        passed=$((passed + 1))
        echo "fuzz: $target passed: ${runs:-?} runs, ${speed:-?} per second, ${cov:-cov: ?}," \
             "corpus $(ls "$seeds" 2>/dev/null | wc -l) seeds + $(ls "$found" | wc -l) new"
        if [ "${BRIM_FUZZ_MERGE:-0}" = "1" ] && [ -d "$seeds" ]; then
            # Edge coverage only, so that the kept corpus stays small.
            "$binary" -merge=1 -use_counters=0 -max_len=4096 "$seeds" "$found" >>"$log" 2>&1
            echo "fuzz: $target: corpus now $(ls "$seeds" | wc -l) files"
        fi
    else
        failed=$((failed + 1))
        echo "fuzz: $target FAILED (exit $status); log $log, inputs in $crashes" >&2
        grep -E "ERROR|property failed|runtime error|SUMMARY|Test unit written" "$log" | head -20 >&2
    fi
done

echo
echo "fuzz: took $(( $(date +%s) - started )) s of fuzzing"
echo "fuzz: $passed targets passed, $failed failed"
[ "$failed" -eq 0 ]
