#!/usr/bin/env bash
# Builds the 64-bit and the 32-bit Windows trees (MinSizeRel) and gathers a
# release in one folder:
#
#   build/release/Brimline-<version>-x64.msi
#   build/release/Brimline-<version>-x86.msi
#   build/release/x64/BrimWatch.exe, BrimSet.exe, VelloranUpdater.exe  (stripped)
#   build/release/x86/BrimWatch.exe, BrimSet.exe, VelloranUpdater.exe  (stripped)
#   build/release/docs/Brimline*.html                    (the help page in each language)
#   build/release/docs/policy/                          (the administrative templates)
#   build/release/SHA256SUMS                            (sha256sum -c reads it)
#
# The trees are build/win64 and build/win32 (under BRIM_BUILD_ROOT when set);
# the release folder is replaced as a whole. Installs what it needs first.
#
# Signing: with BRIM_SIGN_PFX (the maker's certificate and key, PKCS#12),
# BRIM_SIGN_PASSWORD (its password) and, optionally, BRIM_SIGN_TIMESTAMP_URL
# (an RFC 3161 time-stamping server, reached over the network), the build
# signs every program, the package's DLL and both packages with Authenticode
# through scripts/sign.sh, which verifies each signature; the files gathered
# here are verified once more, and any failure fails the release. Without
# BRIM_SIGN_PFX the release is built unsigned, and says so.
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

SIGN_SCRIPT=""
if [ -n "${BRIM_SIGN_PFX:-}" ]; then
    if [ ! -f "$BRIM_SIGN_PFX" ]; then
        echo "release: BRIM_SIGN_PFX: $BRIM_SIGN_PFX is not a file" >&2
        exit 1
    fi
    # The build runs the signing script in folders of its own.
    BRIM_SIGN_PFX=$(realpath "$BRIM_SIGN_PFX")
    export BRIM_SIGN_PFX
    SIGN_SCRIPT=$ROOT/scripts/sign.sh
    echo "release: signing with $BRIM_SIGN_PFX${BRIM_SIGN_TIMESTAMP_URL:+, timestamps from $BRIM_SIGN_TIMESTAMP_URL}"
else
    echo "release: BRIM_SIGN_PFX is not set: this release is UNSIGNED"
fi

# The signing script is named (or, unsigned, cleared) at every configure, so
# that a tree signs exactly when this release does. A signed release makes
# the package anew, so that everything in it carries the certificate given
# now.
build_tree() {
    local dir=$1 toolchain=$2
    echo "==== $dir"
    cmake -S "$ROOT" -B "$dir" -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/$toolchain" \
        -DCMAKE_BUILD_TYPE=MinSizeRel -DBRIM_SIGN_SCRIPT="$SIGN_SCRIPT" >/dev/null
    if [ -n "$SIGN_SCRIPT" ]; then
        rm -rf "$dir/package" "$dir/$PRODUCT-$VERSION-"*.msi
    fi
    cmake --build "$dir" -j "$JOBS"
}

build_tree "$BUILD/win64" mingw-w64-x86_64.cmake
build_tree "$BUILD/win32" mingw-w64-i686.cmake

# Each tree's package folder holds the stripped programs and the help page
# exactly as its MSI installs them.
rm -rf "$RELEASE"
mkdir -p "$RELEASE/docs"
signed=()
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
    signed+=("$RELEASE/$(basename "$msi")" "$RELEASE/$arch/"*.exe "$tree/package/BrimSetCheck.dll")
done
cp "$ROOT"/docs/Brimline*.html "$ROOT/docs/Brimline.css" "$RELEASE/docs/"
cp -r "$ROOT/docs/policy" "$RELEASE/docs/"

if [ -n "$SIGN_SCRIPT" ]; then
    echo
    echo "Signatures of the release (and of each package's DLL):"
    "$SIGN_SCRIPT" --verify "${signed[@]}"
fi

(cd "$RELEASE" && find . -type f ! -name SHA256SUMS | sed 's|^\./||' | LC_ALL=C sort |
    xargs -d '\n' sha256sum > SHA256SUMS)

echo
echo "Release $VERSION in $RELEASE:"
(cd "$RELEASE" && cat SHA256SUMS)
if [ -n "$SIGN_SCRIPT" ]; then
    echo "Signed with $BRIM_SIGN_PFX; every signature verified."
else
    echo "UNSIGNED: BRIM_SIGN_PFX was not set, so no program or package of this release is signed."
fi
