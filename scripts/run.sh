#!/usr/bin/env bash
# Builds the programs and runs them under Wine: a small drive low on space,
# BrimWatch warning about it, BrimSet open. With DISPLAY set they appear on
# that display; without one, screenshots are written to build/demo/.
set -euo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
BUILD=${BRIM_BUILD_ROOT:-$ROOT/build}

"$ROOT/scripts/setup.sh"
cmake -S "$ROOT" -B "$BUILD/win64" -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/mingw-w64-x86_64.cmake" \
    -DCMAKE_BUILD_TYPE=MinSizeRel >/dev/null
cmake --build "$BUILD/win64" -j "${BRIM_JOBS:-2}"
echo "Built: $BUILD/win64/monitor/BrimWatch.exe and $BUILD/win64/config/BrimSet.exe"

BRIM_BUILD_DIR="$BUILD/win64" BRIM_SOURCE_DIR="$ROOT" BRIM_DEMO_DIR="$BUILD/demo" \
    exec python3 "$ROOT/scripts/demo.py"
