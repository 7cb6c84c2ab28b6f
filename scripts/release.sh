#!/usr/bin/env bash
# Builds the 64-bit and the 32-bit Windows trees (MinSizeRel) and gathers a
# release in one folder:
#
#   build/release/Brimline-<version>-x64.msi
#   build/release/Brimline-<version>-x86.msi
#   build/release/x64/BrimWatch.exe, BrimSet.exe, VelloranUpdater.exe  (stripped)
#   build/release/x86/BrimWatch.exe, BrimSet.exe, VelloranUpdater.exe  (stripped)
#   build/release/docs/Brimline.html
#   build/release/SHA256SUMS                            (sha256sum -c reads it)
#
# The trees are build/win64 and build/win32 (under BRIM_BUILD_ROOT when set);
# the release folder is replaced as a whole. Installs what it needs first.
set -euo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
BUILD=${BRIM_BUILD_ROOT:-$ROOT/build}
JOBS=${BRIM_JOBS:-2}
RELEASE=$BUILD/release

"$ROOT/scripts/setup.sh"
if ! command -v wixl >/dev/null; then
    echo "release: wixl (Debian package wixl) is needed for the MSI packages" >&2
    exit 1
fi

VERSION=$(sed -n 's/^#define BRIM_VERSION_TEXT "\(.*\)"$/\1/p' "$ROOT/common/Version.h")
PRODUCT=$(sed -n 's/^#define BRIM_PRODUCT_NAME "\(.*\)"$/\1/p' "$ROOT/common/Version.h")
if [ -z "$VERSION" ] || [ -z "$PRODUCT" ]; then
    echo "release: no version or product name in common/Version.h" >&2
    exit 1
fi

build_tree() {
    local dir=$1 toolchain=$2
    echo "==== $dir"
    cmake -S "$ROOT" -B "$dir" -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/$toolchain" \
        -DCMAKE_BUILD_TYPE=MinSizeRel >/dev/null
    cmake --build "$dir" -j "$JOBS"
}

build_tree "$BUILD/win64" mingw-w64-x86_64.cmake
build_tree "$BUILD/win32" mingw-w64-i686.cmake

# Each tree's package folder holds the stripped programs and the help page
# exactly as its MSI installs them.
rm -rf "$RELEASE"
mkdir -p "$RELEASE/docs"
for pair in x64:win64 x86:win32; do
    arch=${pair%%:*}
    tree=$BUILD/${pair#*:}
    msi=$tree/$PRODUCT-$VERSION-$arch.msi
    programs=("$tree/package/BrimWatch.exe" "$tree/package/BrimSet.exe" "$tree/package/VelloranUpdater.exe")
    for file in "$msi" "${programs[@]}"; do
        if [ ! -f "$file" ]; then
            echo "release: $file was not built" >&2
            exit 1
        fi
    done
    mkdir -p "$RELEASE/$arch"
    cp "$msi" "$RELEASE/"
    cp "${programs[@]}" "$RELEASE/$arch/"
done
cp "$ROOT/docs/Brimline.html" "$RELEASE/docs/"

(cd "$RELEASE" && find . -type f ! -name SHA256SUMS | sed 's|^\./||' | LC_ALL=C sort |
    xargs -d '\n' sha256sum > SHA256SUMS)

echo
echo "Release $VERSION in $RELEASE:"
(cd "$RELEASE" && cat SHA256SUMS)
