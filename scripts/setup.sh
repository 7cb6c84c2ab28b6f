#!/usr/bin/env bash
# Installs every Debian package the build, the tests and the demo need, when
# missing. Safe to run again: it does nothing once all are present.
set -euo pipefail

source "$(dirname "${BASH_SOURCE[0]}")/wine.sh"

PACKAGES=(
    cmake make g++ python3
    googletest libgtest-dev
    g++-mingw-w64-x86-64 binutils-mingw-w64-x86-64
    g++-mingw-w64-i686 binutils-mingw-w64-i686
    wine wine64
    xvfb xauth x11-utils imagemagick
    fonts-wqy-microhei
    msitools wixl
    osslsigncode openssl
    clang libclang-rt-14-dev
)

# 32-bit Wine runs the 32-bit build's tests, on machines whose kernel runs
# 32-bit programs; elsewhere it could not start, and installing it would
# only take over Debian's plain `wine`.
WANT_WINE32=0
if brim_kernel_runs_32bit; then
    WANT_WINE32=1
    PACKAGES+=(wine32:i386)
fi

missing=()
for package in "${PACKAGES[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$package")
    fi
done

if [ ${#missing[@]} -eq 0 ]; then
    exit 0
fi

echo "setup: installing ${missing[*]}"
SUDO=""
if [ "$(id -u)" -ne 0 ]; then
    if command -v sudo >/dev/null; then
        SUDO="sudo"
    else
        echo "setup: these packages are missing and installing them needs root: ${missing[*]}" >&2
        exit 1
    fi
fi
export DEBIAN_FRONTEND=noninteractive
# 32-bit Wine's packages come from the i386 architecture.
if [ "$WANT_WINE32" -eq 1 ] && ! dpkg --print-foreign-architectures | grep -qx i386; then
    $SUDO dpkg --add-architecture i386
fi
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq "${missing[@]}" >/dev/null
echo "setup: done"
