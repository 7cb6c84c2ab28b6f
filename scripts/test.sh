#!/usr/bin/env bash
# Builds everything and runs every test: the native suite of the pure logic
# under AddressSanitizer and UndefinedBehaviorSanitizer, the fuzz targets for
# a bounded time each (scripts/fuzz.sh), then the Windows suites under Wine
# (unit tests of the shared code and end-to-end tests of both programs, each
# end-to-end test in a fresh Wine prefix with its own Xvfb display), of the
# 64-bit build and of the 32-bit build from the same sources (under 32-bit
# Wine), with a test of the two builds together.
#
# The end-to-end tests spend most of their time waiting for the programs'
# timers, so the Windows suites run several at a time (BRIM_E2E_JOBS), and
# the fuzz targets and the 32-bit build run beside them at the lowest CPU
# priority: they take the CPU the waiting tests leave.
#
# Where 32-bit programs cannot run (see scripts/wine.sh), the 32-bit build
# is still made and its suites are reported as skipped, with the reason.
# Installs what it needs first.
set -uo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
BUILD=${BRIM_BUILD_ROOT:-$ROOT/build}
JOBS=${BRIM_JOBS:-2}

"$ROOT/scripts/setup.sh" || exit 1
source "$ROOT/scripts/wine.sh"

# Four end-to-end tests at a time, three per suite when the two suites run
# side by side.
if wine32_problem=$(brim_wine32_problem); then
    E2E_JOBS=${BRIM_E2E_JOBS:-3}
else
    E2E_JOBS=${BRIM_E2E_JOBS:-4}
fi

STARTED=$(date +%s)
step() { echo; echo "==== $*"; }

step "native build (sanitizers)"
cmake -S "$ROOT" -B "$BUILD/native" -DBRIM_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug >/dev/null || exit 1
cmake --build "$BUILD/native" -j "$JOBS" || exit 1

step "Windows build (x86_64, mingw-w64)"
cmake -S "$ROOT" -B "$BUILD/win64" -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/mingw-w64-x86_64.cmake" \
    -DCMAKE_BUILD_TYPE=MinSizeRel >/dev/null || exit 1
cmake --build "$BUILD/win64" -j "$JOBS" || exit 1

# Beside the tests, at the lowest priority: a second compiler over the
# programs' sources (clang for x86_64-w64-mingw32, standing in for MSVC),
# then the fuzz targets. Their output is shown when the tests are done.
mkdir -p "$BUILD"
clang_log="$BUILD/check-clang.log"
fuzz_log="$BUILD/fuzz-summary.log"
(
    renice -n 19 -p "$BASHPID" >/dev/null 2>&1
    BRIM_CHECK_BUILD_DIR="$BUILD/win64" "$ROOT/scripts/check-clang.sh" >"$clang_log" 2>&1
    BRIM_FUZZ_BUILD_DIR="$BUILD/fuzz" BRIM_JOBS=1 "$ROOT/scripts/fuzz.sh" >"$fuzz_log" 2>&1
) &
fuzz_job=$!

# Also beside them: the 32-bit build (a release artifact, made on every
# machine, at a low priority) and then, where 32-bit programs run, its
# suites, so that its longest tests wait alongside the 64-bit ones.
win32_log="$BUILD/win32-tests.log"
win32_state="$BUILD/win32-state"
rm -f "$win32_state"
(
    if nice -n 10 cmake -S "$ROOT" -B "$BUILD/win32" -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/mingw-w64-i686.cmake" \
            -DCMAKE_BUILD_TYPE=MinSizeRel -DBRIM_OTHER_BUILD_DIR="$BUILD/win64" >/dev/null &&
        nice -n 10 cmake --build "$BUILD/win32" -j 1; then
        if [ -z "$wine32_problem" ]; then
            echo tested >"$win32_state"
            rm -f "$BUILD/win32/ctest-junit.xml"
            (cd "$BUILD/win32" && ctest --output-on-failure --output-junit "$BUILD/win32/ctest-junit.xml" \
                -j "$E2E_JOBS" -E '^e2e[.]test_(harness|installer)[.]')
        else
            echo "skipped: $wine32_problem" >"$win32_state"
        fi
    else
        echo "build failed" >"$win32_state"
    fi
) >"$win32_log" 2>&1 &
win32_job=$!

# The Windows unit tests share one throw-away prefix for this run; the
# end-to-end tests make their own.
UNIT_DIR=$(mktemp -d /tmp/brim-unit.XXXXXX)
export WINEPREFIX="$UNIT_DIR/prefix"
brim_wine_environment
cleanup() {
    kill "$fuzz_job" "$win32_job" 2>/dev/null
    WINEPREFIX="$UNIT_DIR/prefix" "$BRIM_WINESERVER" -k >/dev/null 2>&1 || true
    rm -rf "$UNIT_DIR"
}
trap cleanup EXIT
"$BRIM_WINE64" wineboot.exe -i >/dev/null 2>&1
"$BRIM_WINESERVER" -p >/dev/null 2>&1

summary=()
total_passed=0
total_failed=0
# Counts one CTest run from the JUnit file it wrote (ctest --output-junit):
# a test that ran and passed counts as passed; one that failed, timed out
# or did not run (a missing program, a skip) as failed; a disabled one not
# at all. No file, or no test in it, is one failure: CTest got no further.
record_ctest() {
    local name=$1 junit=$2 counts passed=0 failed=1
    if counts=$(python3 - "$junit" 2>/dev/null <<'PYTHON'
import sys
import xml.etree.ElementTree as ElementTree

statuses = [case.get("status") for case in ElementTree.parse(sys.argv[1]).getroot().iter("testcase")
            if case.get("status") != "disabled"]
if not statuses:
    sys.exit(1)
print(statuses.count("run"), len(statuses) - statuses.count("run"))
PYTHON
    ); then
        read -r passed failed <<<"$counts"
    fi
    summary+=("$name: $passed passed, $failed failed")
    total_passed=$((total_passed + passed))
    total_failed=$((total_failed + failed))
}
run_ctest() {
    local name=$1 dir=$2
    shift 2
    step "tests: $name"
    rm -f "$dir/ctest-junit.xml"
    (cd "$dir" && ctest --output-on-failure --output-junit "$dir/ctest-junit.xml" "$@")
    record_ctest "$name" "$dir/ctest-junit.xml"
}

# Signing: the release's signing script signs copies of the 64-bit programs,
# the package's DLL and the package with a throw-away code-signing
# certificate; each copy must verify against it, and an unsigned program
# must not pass the script's own verification.
step "signing (scripts/sign.sh, throw-away certificate)"
check_signing() {
    local dir=$UNIT_DIR/signing package=$BUILD/win64/package file
    mkdir -p "$dir" && cp "$package"/{BrimWatch,BrimSet,VelloranUpdater}.exe "$package/BrimSetCheck.dll" \
        "$BUILD"/win64/*.msi "$dir/" || return 1
    openssl req -x509 -newkey rsa:2048 -nodes -keyout "$dir/key.pem" -out "$dir/cert.pem" -days 2 \
        -subj "/CN=Brimline test signer" -addext "extendedKeyUsage=codeSigning" 2>/dev/null &&
        openssl pkcs12 -export -in "$dir/cert.pem" -inkey "$dir/key.pem" -out "$dir/signer.pfx" -passout pass:test &&
        export BRIM_SIGN_PFX="$dir/signer.pfx" BRIM_SIGN_PASSWORD=test || return 1
    "$ROOT/scripts/sign.sh" "$dir"/*.exe "$dir"/*.dll "$dir"/*.msi || return 1
    for file in "$dir"/*.exe "$dir"/*.dll "$dir"/*.msi; do
        osslsigncode verify -CAfile "$dir/cert.pem" -in "$file" >/dev/null || { echo "$file: not verified"; return 1; }
    done
    if "$ROOT/scripts/sign.sh" --verify "$package/BrimWatch.exe" >/dev/null 2>&1; then
        echo "an unsigned program passed the signing script's verification"
        return 1
    fi
}
if (check_signing); then
    summary+=("signing: programs, DLL and package signed and verified")
    total_passed=$((total_passed + 1))
else
    summary+=("signing: failed")
    total_failed=$((total_failed + 1))
fi

run_ctest "native" "$BUILD/native" -j "$JOBS"
# The test of the two builds together runs with the 32-bit suite.
run_ctest "windows (under Wine)" "$BUILD/win64" -j "$E2E_JOBS" -E '^e2e[.]test_bitness[.]'

step "second compiler and fuzz targets (beside the Windows suites)"
wait "$fuzz_job"
cat "$clang_log"
clang_line=$(grep -E "^check-clang: [0-9]+ sources compiled, [0-9]+ failed" "$clang_log" | tail -1)
if [ -n "$clang_line" ] && echo "$clang_line" | grep -q " 0 failed"; then
    summary+=("second compiler (clang): ${clang_line#check-clang: }")
    total_passed=$((total_passed + 1))
else
    summary+=("second compiler (clang): failed: ${clang_line#check-clang: }")
    total_failed=$((total_failed + 1))
fi
cat "$fuzz_log"
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

# The 32-bit build's suite runs in the same 64-bit prefixes (Wine's WoW64):
# the unit tests and the end-to-end tests of the programs, plus the
# cross-bitness test against build/win64; the tests of the harness itself
# and of the installer are not repeated.
step "Windows build (i686, mingw-w64) and its tests"
wait "$win32_job"
cat "$win32_log"
state=$(cat "$win32_state" 2>/dev/null || echo "build failed")
case "$state" in
    tested)
        record_ctest "windows 32-bit (under Wine)" "$BUILD/win32/ctest-junit.xml" ;;
    skipped:*)
        summary+=("windows 32-bit (under Wine): built; tests ${state}") ;;
    *)
        summary+=("windows 32-bit (under Wine): build failed")
        total_failed=$((total_failed + 1)) ;;
esac

step "summary"
printf '%s\n' "${summary[@]}"
echo "Artifacts (screenshots): $BUILD/win64/artifacts, $BUILD/win32/artifacts"
echo "$total_passed passed, $total_failed failed in $(( ($(date +%s) - STARTED) / 60 )) min $(( ($(date +%s) - STARTED) % 60 )) s"
[ "$total_failed" -eq 0 ]
