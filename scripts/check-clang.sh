#!/usr/bin/env bash
# A second compiler over the programs' sources, standing in for MSVC, which
# this machine cannot run: clang compiles every C++ source of common/,
# monitor/, config/, updater/ and installer/ exactly as the Windows build compiles it (same
# definitions, include folders and options, from that build's
# compile_commands.json), but for clang's x86_64-w64-mingw32 target against
# the mingw-w64 headers and the C++ library headers of the mingw-w64 GCC.
# No code is generated; warnings are errors, pedantic ones included, so
# that a GNU extension MSVC lacks (a variable-length array, say) fails here.
#
#   scripts/check-clang.sh             the build tree build/win64 (configured
#                                      first when it has no compile_commands.json)
#   BRIM_CHECK_BUILD_DIR=dir scripts/check-clang.sh
#
# Prints one summary line, "check-clang: N sources compiled, M failed",
# after the compiler's messages for each failure; exits non-zero when any
# source fails or the check cannot run.
set -uo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
BUILD=${BRIM_CHECK_BUILD_DIR:-$ROOT/build/win64}
CLANG=${BRIM_CLANG_CXX:-clang++}

give_up() {
    echo "check-clang: $1" >&2
    echo "check-clang: 0 sources compiled, 1 failed ($1)"
    exit 1
}

command -v "$CLANG" >/dev/null || give_up "$CLANG not found"
command -v python3 >/dev/null || give_up "python3 not found"
if [ ! -f "$BUILD/compile_commands.json" ]; then
    cmake -S "$ROOT" -B "$BUILD" -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/mingw-w64-x86_64.cmake" \
        -DCMAKE_BUILD_TYPE=MinSizeRel >/dev/null || give_up "cannot configure $BUILD"
    [ -f "$BUILD/compile_commands.json" ] || give_up "$BUILD has no compile_commands.json"
fi

exec python3 - "$ROOT" "$BUILD/compile_commands.json" "$CLANG" <<'EOF'
import json
import os
import shlex
import subprocess
import sys

root, commands_file, clang = sys.argv[1:4]
folders = [os.path.join(root, name) + os.sep for name in ("common", "monitor", "config", "updater", "installer")]


def summary(compiled, failed, note=""):
    print("check-clang: %d sources compiled, %d failed%s" % (compiled, failed, note))
    sys.exit(1 if failed else 0)


with open(commands_file) as f:
    entries = json.load(f)
# The programs' own translation units; the lean runtime is GCC's alone.
entries = [e for e in entries
           if e["file"].endswith(".cpp") and any(e["file"].startswith(d) for d in folders)
           and os.path.basename(e["file"]) != "MinGwLeanRuntime.cpp"]
if not entries:
    print("check-clang: no program sources in " + commands_file, file=sys.stderr)
    summary(0, 1, " (nothing to check)")

# The target and the C++ library headers of the compiler the build uses.
gcc = shlex.split(entries[0]["command"])[0]
triple = os.path.basename(gcc).split("-g++")[0]
listing = subprocess.run([gcc, "-xc++", "-E", "-v", os.devnull], capture_output=True, text=True).stderr.splitlines()
searched = listing[listing.index("#include <...> search starts here:") + 1:listing.index("End of search list.")]
searched = [os.path.realpath(line.strip()) for line in searched]
headers = [d for d in searched if "/c++" in d] + [d for d in searched if d.endswith(triple + "/include")]
if len(headers) < 2:
    print("check-clang: no C++ library or mingw-w64 headers found for " + gcc, file=sys.stderr)
    summary(0, 1, " (no headers)")

compiled = failed = 0
for entry in entries:
    words = shlex.split(entry["command"])[1:]
    kept = []
    skip = False
    for word in words:
        if skip:
            skip = False
        elif word in ("-o", "-c"):
            skip = word == "-o"
        elif word != entry["file"]:
            kept.append(word)
    command = [clang, "--target=" + triple, "-fsyntax-only", "-Werror", "-Wpedantic", "-nostdinc++", "-nostdlibinc"]
    command += [flag for d in headers for flag in ("-isystem", d)]
    command += kept + [entry["file"]]
    if subprocess.run(command, cwd=entry["directory"]).returncode == 0:
        compiled += 1
    else:
        failed += 1
        print("check-clang: %s failed" % os.path.relpath(entry["file"], root), file=sys.stderr)
summary(compiled, failed, " (%s, %s, pedantic warnings as errors)" % (os.path.basename(clang), triple))
EOF
