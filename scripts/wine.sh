# Sourced by the project's shell scripts, and read once by the end-to-end
# harness (tests/e2e/brimharness.py): which Wine loader runs what, and the
# environment every Windows program of the project runs with. This is the
# one place both are written.
#
# Debian's plain `wine` and `wineboot` pick the 32-bit loader whenever
# wine32 is installed, even on a kernel that cannot run it. Nothing in the
# project calls them: each use names the loader of the bitness it means,
# and WINELOADER tells Wine itself to do the same for the programs it
# starts. BRIM_WINE32_LOADER points at another 32-bit loader (a test of a
# machine where the 32-bit one fails, say).

BRIM_WINE64=/usr/lib/wine/wine64
BRIM_WINE32=${BRIM_WINE32_LOADER:-/usr/lib/wine/wine}
BRIM_WINESERVER=/usr/lib/wine/wineserver
export WINELOADER=$BRIM_WINE64

# Exports the environment the project's Windows programs run with: 64-bit
# prefixes, no debug output, and none of Wine's offers to install Mono or
# Gecko nor menu entries for what a program installs. A WINEDLLOVERRIDES
# the caller set is kept.
brim_wine_environment() {
    export WINEARCH=win64 WINEDEBUG=-all
    export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=;winemenubuilder.exe=d}"
}

# Succeeds when the kernel runs 32-bit x86 Linux programs. Not every kernel
# of our machines does, and the package list cannot tell: this runs a
# 96-byte static i386 program that only exits with status 7.
brim_kernel_runs_32bit() {
    local probe status
    probe=$(mktemp /tmp/brim-i386-probe.XXXXXX) || return 1
    printf '\x7f\x45\x4c\x46\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00\x01\x00\x00\x00\x54\x80\x04\x08\x34\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x34\x00\x20\x00\x01\x00\x00\x00\x00\x00\x00\x00\x01\x00\x00\x00\x00\x00\x00\x00\x00\x80\x04\x08\x00\x80\x04\x08\x60\x00\x00\x00\x60\x00\x00\x00\x05\x00\x00\x00\x00\x10\x00\x00\xb8\x01\x00\x00\x00\xbb\x07\x00\x00\x00\xcd\x80' >"$probe"
    chmod +x "$probe"
    "$probe" 2>/dev/null
    status=$?
    rm -f "$probe"
    [ "$status" -eq 7 ]
}

# Prints why 32-bit Windows programs cannot run here and fails, or succeeds
# silently when the 32-bit loader starts.
brim_wine32_problem() {
    local output
    if [ ! -e "$BRIM_WINE32" ]; then
        if brim_kernel_runs_32bit; then
            echo "32-bit Wine ($BRIM_WINE32) is not installed"
        else
            echo "this machine's kernel runs no 32-bit programs, so 32-bit Wine is not installed"
        fi
        return 1
    fi
    if ! output=$("$BRIM_WINE32" --version 2>&1); then
        echo "the 32-bit Wine loader $BRIM_WINE32 fails: $(echo "$output" | tail -1)"
        return 1
    fi
    return 0
}

# Picks the loader for a Windows program from its PE header's machine
# field: each loader hands a program of the other bitness to start.exe,
# which cannot reach a host path once the prefix has no z:. Built-in
# programs (reg, msiexec) and anything that is not a PE file run 64-bit.
brim_loader_for() {
    local pe machine
    if [ -f "$1" ]; then
        pe=$(od -An -tu4 -j60 -N4 "$1" 2>/dev/null | tr -d ' ')
        machine=$(od -An -tx2 -j$((pe + 4)) -N2 "$1" 2>/dev/null | tr -d ' ')
        if [ "$machine" = "014c" ]; then
            echo "$BRIM_WINE32"
            return
        fi
    fi
    echo "$BRIM_WINE64"
}
