#!/bin/sh
# Runs one Windows test program under Wine for CTest and passes its exit code
# on. Without a WINEPREFIX of the caller's, the programs share one prefix,
# "${BRIM_WINE_UNIT_PREFIX:-$PWD/wine-unit}", made on first use.
export WINEDEBUG=-all
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=;winemenubuilder.exe=d}"
if [ -z "${WINEPREFIX:-}" ]; then
    WINEPREFIX="${BRIM_WINE_UNIT_PREFIX:-$PWD/wine-unit}"
    export WINEPREFIX
fi
# Tests run in parallel: the first one makes the prefix, under a lock, and
# the others wait for it instead of racing it.
if [ ! -f "$WINEPREFIX/system.reg" ]; then
    mkdir -p "$(dirname "$WINEPREFIX")"
    flock "$WINEPREFIX.lock" sh -c '
        if [ ! -f "$WINEPREFIX/system.reg" ]; then
            WINEARCH=win64 wineboot -i >/dev/null 2>&1
            wineserver -w
        fi'
fi
# Each Wine loader runs programs of its own bitness directly; Debian's plain
# `wine` is the 32-bit one once 32-bit Wine is installed.
loader=wine
if [ -f "$1" ]; then
    pe=$(od -An -tu4 -j60 -N4 "$1" 2>/dev/null | tr -d ' ')
    machine=$(od -An -tx2 -j$((pe + 4)) -N2 "$1" 2>/dev/null | tr -d ' ')
    case "$machine" in
        8664) [ -x /usr/lib/wine/wine64 ] && loader=/usr/lib/wine/wine64 ;;
        014c) [ -x /usr/lib/wine/wine ] && loader=/usr/lib/wine/wine ;;
    esac
fi
exec "$loader" "$@"
