#!/usr/bin/env bash
# Brimline's benchmark: builds the programs (x86_64, MinSizeRel) and the
# bench's own Windows programs into build/bench-win64, then measures every
# figure beside its floor and prints a Markdown table, also written to
# bench/results/latest.md. Needs root (tmpfs drives), like the end-to-end
# tests; scripts/setup.sh installs the rest.
#
#   bash bench/run.sh                        everything, 10 idle minutes
#   BENCH_IDLE_SECONDS=60 bash bench/run.sh  a shorter idle time
#   BENCH_ONLY=scan,footprint bash bench/run.sh
set -euo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
BUILD=${BENCH_BUILD_DIR:-$ROOT/build/bench-win64}
JOBS=${BRIM_JOBS:-2}
TOOLCHAIN=$ROOT/cmake/mingw-w64-x86_64.cmake

if [ "${BENCH_SKIP_SETUP:-0}" != 1 ]; then
    "$ROOT/scripts/setup.sh" >/dev/null
fi

cmake -S "$ROOT" -B "$BUILD" -DCMAKE_TOOLCHAIN_FILE="$TOOLCHAIN" -DCMAKE_BUILD_TYPE=MinSizeRel >/dev/null
cmake --build "$BUILD" -j "$JOBS" --target BrimWatch BrimSet BrimDriver >/dev/null
cmake -S "$ROOT/bench" -B "$BUILD/bench-tools" -DCMAKE_TOOLCHAIN_FILE="$TOOLCHAIN" \
    -DCMAKE_BUILD_TYPE=MinSizeRel >/dev/null
cmake --build "$BUILD/bench-tools" -j "$JOBS" >/dev/null

export BRIM_BUILD_DIR=$BUILD BRIM_SOURCE_DIR=$ROOT BENCH_TOOLS_DIR=$BUILD/bench-tools
exec python3 "$ROOT/bench/bench.py"
