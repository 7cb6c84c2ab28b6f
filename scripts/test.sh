#!/usr/bin/env bash
# Builds everything and runs every test: the native suite of the pure logic
# under AddressSanitizer and UndefinedBehaviorSanitizer, the fuzz targets for
# a bounded time each (scripts/fuzz.sh), then the Windows
# suites under Wine (unit tests of the shared code and end-to-end tests of
# both programs, each end-to-end test in a fresh Wine prefix with its own
# Xvfb display), first of the 64-bit build, then of the 32-bit build from the
# same sources (under 32-bit Wine), with a test of the two builds together.
# Installs what it needs first.
set -uo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
BUILD=${BRIM_BUILD_ROOT:-$ROOT/build}
JOBS=${BRIM_JOBS:-2}

"$ROOT/scripts/setup.sh" || exit 1

step() { echo; echo "==== $*"; }

step "native build (sanitizers)"
cmake -S "$ROOT" -B "$BUILD/native" -DBRIM_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug >/dev/null || exit 1
cmake --build "$BUILD/native" -j "$JOBS" || exit 1

step "Windows build (x86_64, mingw-w64)"
cmake -S "$ROOT" -B "$BUILD/win64" -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/mingw-w64-x86_64.cmake" \
    -DCMAKE_BUILD_TYPE=MinSizeRel >/dev/null || exit 1
cmake --build "$BUILD/win64" -j "$JOBS" || exit 1

# The Windows unit tests share one throw-away prefix for this run; the
# end-to-end tests make their own.
UNIT_DIR=$(mktemp -d /tmp/brim-unit.XXXXXX)
export WINEPREFIX="$UNIT_DIR/prefix" WINEDEBUG=-all WINEARCH=win64
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
cleanup() {
    WINEPREFIX="$UNIT_DIR/prefix" wineserver -k >/dev/null 2>&1 || true
    rm -rf "$UNIT_DIR"
}
trap cleanup EXIT
wineboot -i >/dev/null 2>&1
wineserver -p >/dev/null 2>&1

summary=()
total_passed=0
total_failed=0
run_ctest() {
    local name=$1 dir=$2
    shift 2
    step "tests: $name"
    local log="$dir/ctest-summary.log"
    (cd "$dir" && ctest -j "$JOBS" --output-on-failure "$@") 2>&1 | tee "$log"
    local line passed=0 failed=0 count
    line=$(grep -E "tests passed, [0-9]+ tests failed out of [0-9]+" "$log" | tail -1)
    if [ -n "$line" ]; then
        failed=$(echo "$line" | sed -E 's/.* ([0-9]+) tests failed out of ([0-9]+).*/\1/')
        count=$(echo "$line" | sed -E 's/.* tests failed out of ([0-9]+).*/\1/')
        passed=$((count - failed))
    else
        failed=1
    fi
    summary+=("$name: $passed passed, $failed failed")
    total_passed=$((total_passed + passed))
    total_failed=$((total_failed + failed))
}

run_ctest "native" "$BUILD/native"

# The fuzz targets: a bounded run each, seeded from the committed corpus.
step "fuzz targets (libFuzzer)"
fuzz_log="$BUILD/fuzz-summary.log"
mkdir -p "$BUILD"
BRIM_FUZZ_BUILD_DIR="$BUILD/fuzz" "$ROOT/scripts/fuzz.sh" 2>&1 | tee "$fuzz_log"
fuzz_line=$(grep -E "^fuzz: [0-9]+ targets passed, [0-9]+ failed" "$fuzz_log" | tail -1)
if [ -n "$fuzz_line" ]; then
    fuzz_passed=$(echo "$fuzz_line" | sed -E 's/^fuzz: ([0-9]+) targets passed, ([0-9]+) failed.*/\1/')
    fuzz_failed=$(echo "$fuzz_line" | sed -E 's/^fuzz: ([0-9]+) targets passed, ([0-9]+) failed.*/\2/')
else
    fuzz_passed=0
    fuzz_failed=1
fi
summary+=("fuzz: $fuzz_passed passed, $fuzz_failed failed")
total_passed=$((total_passed + fuzz_passed))
total_failed=$((total_failed + fuzz_failed))
# The test of the two builds together runs once, with the 32-bit suite: the
# 32-bit build does not exist yet here.
run_ctest "windows (under Wine)" "$BUILD/win64" -E '^e2e[.]test_bitness$'

# The 32-bit build runs in the same 64-bit prefixes (Wine's WoW64). Its
# suite is the unit tests and the end-to-end tests of the programs, plus the
# cross-bitness test against build/win64; the tests of the harness itself
# and of the installer are not repeated.
step "Windows build (i686, mingw-w64)"
if cmake -S "$ROOT" -B "$BUILD/win32" -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/mingw-w64-i686.cmake" \
        -DCMAKE_BUILD_TYPE=MinSizeRel -DBRIM_OTHER_BUILD_DIR="$BUILD/win64" >/dev/null &&
    cmake --build "$BUILD/win32" -j "$JOBS"; then
    run_ctest "windows 32-bit (under Wine)" "$BUILD/win32" -E '^e2e[.]test_(harness|installer)$'
else
    summary+=("windows 32-bit (under Wine): build failed")
    total_failed=$((total_failed + 1))
fi

step "summary"
printf '%s\n' "${summary[@]}"
echo "Artifacts (screenshots): $BUILD/win64/artifacts, $BUILD/win32/artifacts"
echo "$total_passed passed, $total_failed failed"
[ "$total_failed" -eq 0 ]
