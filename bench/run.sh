#!/usr/bin/env bash
# Brimline's benchmark: builds the programs (x86_64, MinSizeRel) and the
# bench's own Windows programs into build/bench-win64 and its native
# forecast program into build/bench-win64/bench-native, then measures every
# figure beside its floor and prints a Markdown table, also written to
# bench/results/latest.md. Needs root (tmpfs drives), like the end-to-end
# tests, for every figure but the forecast; scripts/setup.sh installs the
# rest.
#
#   bash bench/run.sh                        everything, 3 idle runs of 10 minutes
#   BENCH_IDLE_SECONDS=60 bash bench/run.sh  a shorter idle time
#   BENCH_ONLY=scan,footprint bash bench/run.sh
#   BENCH_ONLY=forecast bash bench/run.sh    the forecast alone: native, no Wine, no root
set -euo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
BUILD=${BENCH_BUILD_DIR:-$ROOT/build/bench-win64}
JOBS=${BRIM_JOBS:-2}
TOOLCHAIN=$ROOT/cmake/mingw-w64-x86_64.cmake

if [ "${BENCH_SKIP_SETUP:-0}" != 1 ]; then
    "$ROOT/scripts/setup.sh" >/dev/null
fi

ONLY=${BENCH_ONLY:-reaction,scan,idle,footprint,forecast}
wants() {
    case ",$ONLY," in *",$1,"*) return 0 ;; esac
    return 1
}

if wants reaction || wants scan || wants idle || wants footprint; then
    cmake -S "$ROOT" -B "$BUILD" -DCMAKE_TOOLCHAIN_FILE="$TOOLCHAIN" -DCMAKE_BUILD_TYPE=MinSizeRel >/dev/null
    cmake --build "$BUILD" -j "$JOBS" --target BrimWatch BrimSet BrimDriver >/dev/null
    cmake -S "$ROOT/bench" -B "$BUILD/bench-tools" -DCMAKE_TOOLCHAIN_FILE="$TOOLCHAIN" \
        -DCMAKE_BUILD_TYPE=MinSizeRel >/dev/null
    cmake --build "$BUILD/bench-tools" -j "$JOBS" >/dev/null
fi
if wants forecast; then
    # The forecast replays traces through the pass's pure logic: a native
    # build, as the native tests are.
    cmake -S "$ROOT/bench" -B "$BUILD/bench-native" -DCMAKE_BUILD_TYPE=Release >/dev/null
    cmake --build "$BUILD/bench-native" -j "$JOBS" --target ForecastBench >/dev/null
fi

export BRIM_BUILD_DIR=$BUILD BRIM_SOURCE_DIR=$ROOT BENCH_TOOLS_DIR=$BUILD/bench-tools \
    BENCH_FORECAST=$BUILD/bench-native/ForecastBench BENCH_ONLY=$ONLY
exec python3 "$ROOT/bench/bench.py"
