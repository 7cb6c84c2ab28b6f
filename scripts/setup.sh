#!/usr/bin/env bash
# Installs every Debian package the build, the tests and the demo need, when
# missing. Safe to run again: it does nothing once all are present.
set -euo pipefail

PACKAGES=(
    cmake make g++ python3
    googletest libgtest-dev
    g++-mingw-w64-x86-64 binutils-mingw-w64-x86-64
    wine wine64
    xvfb xauth x11-utils imagemagick
    clang
)

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
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq "${missing[@]}" >/dev/null
echo "setup: done"
