#!/usr/bin/env bash
# Runs one Windows test program under Wine for CTest and passes its exit code
# on. Without a WINEPREFIX of the caller's, the programs share one prefix,
# "${BRIM_WINE_UNIT_PREFIX:-$PWD/wine-unit}", made on first use.
source "$(dirname "${BASH_SOURCE[0]}")/../scripts/wine.sh"
brim_wine_environment
if [ -z "${WINEPREFIX:-}" ]; then
    WINEPREFIX="${BRIM_WINE_UNIT_PREFIX:-$PWD/wine-unit}"
    export WINEPREFIX
fi
# Tests run in parallel: the first one makes the prefix, under a lock, and
# the others wait for it instead of racing it.
if [ ! -f "$WINEPREFIX/system.reg" ]; then
    mkdir -p "$(dirname "$WINEPREFIX")"
    flock "$WINEPREFIX.lock" bash -c '
        if [ ! -f "$WINEPREFIX/system.reg" ]; then
            "$0" wineboot.exe -i >/dev/null 2>&1
            "$1" -w
        fi' "$BRIM_WINE64" "$BRIM_WINESERVER"
fi
exec "$(brim_loader_for "$1")" "$@"
