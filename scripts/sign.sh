#!/usr/bin/env bash
# Signs Windows programs, DLLs and Windows Installer packages with
# Authenticode (SHA-256, osslsigncode) in place, and verifies each signature
# before the signed file replaces the unsigned one:
#
#   BRIM_SIGN_PFX=maker.pfx [BRIM_SIGN_PASSWORD=...] [BRIM_SIGN_TIMESTAMP_URL=...] \
#       scripts/sign.sh FILE...
#   BRIM_SIGN_PFX=maker.pfx scripts/sign.sh --verify FILE...    (verifies only)
#
# BRIM_SIGN_PFX is the maker's certificate and private key (PKCS#12),
# BRIM_SIGN_PASSWORD its password (none when unset), BRIM_SIGN_TIMESTAMP_URL
# an RFC 3161 time-stamping server; a timestamp keeps a signature valid after
# the certificate expires, and fetching it needs the network.
#
# A signature passes when the file's digest matches it, its certificate chain
# ends at a certificate of the PKCS#12 file or at one of the system's
# certificate authorities, and its signer is the PKCS#12 file's own
# certificate. Exits non-zero, leaving the file as it was, when signing or
# verifying any file fails. The release (scripts/release.sh, through the
# build's BRIM_SIGN_SCRIPT) and the test command both sign through here.
set -euo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

fail() {
    echo "sign: $*" >&2
    exit 1
}

verify_only=0
if [ "${1:-}" = "--verify" ]; then
    verify_only=1
    shift
fi
[ $# -gt 0 ] || fail "usage: sign.sh [--verify] FILE..."
[ -n "${BRIM_SIGN_PFX:-}" ] || fail "BRIM_SIGN_PFX (the maker's PKCS#12 file) is not set" \
    "(a build tree configured with BRIM_SIGN_SCRIPT signs its package until configured with -DBRIM_SIGN_SCRIPT=)"
[ -f "$BRIM_SIGN_PFX" ] || fail "$BRIM_SIGN_PFX: no such file"
for tool in osslsigncode openssl; do
    command -v "$tool" >/dev/null || fail "$tool is missing (scripts/setup.sh installs it)"
done

PRODUCT=$(sed -n 's/^#define BRIM_PRODUCT_NAME "\(.*\)"$/\1/p' "$ROOT/common/Version.h")
URL=$(sed -n 's/^#define BRIM_WEB_SITE_URL L\?"\(.*\)"$/\1/p' "$ROOT/common/Version.h")

WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
# The password reaches the tools through a private file and the environment,
# never on a command line that other users could read.
export BRIM_SIGN_PASSWORD=${BRIM_SIGN_PASSWORD:-}
password=()
if [ -n "$BRIM_SIGN_PASSWORD" ]; then
    (umask 077 && printf '%s' "$BRIM_SIGN_PASSWORD" > "$WORK/password")
    password=(-readpass "$WORK/password")
fi

# The certificates of the PKCS#12 file, and its own (the one with the key)
# apart. Files exported by Windows may use ciphers OpenSSL 3 keeps in its
# legacy provider.
pkcs12() {
    openssl pkcs12 -in "$BRIM_SIGN_PFX" -passin env:BRIM_SIGN_PASSWORD -nokeys "$@" 2>/dev/null ||
        openssl pkcs12 -legacy -in "$BRIM_SIGN_PFX" -passin env:BRIM_SIGN_PASSWORD -nokeys "$@"
}
pkcs12 -out "$WORK/chain.pem" || fail "cannot read $BRIM_SIGN_PFX (wrong BRIM_SIGN_PASSWORD?)"
pkcs12 -clcerts -out "$WORK/signer.pem" || fail "no certificate with a key in $BRIM_SIGN_PFX"
LEAF_HASH=$(openssl x509 -in "$WORK/signer.pem" -outform DER | sha256sum | cut -d' ' -f1)
if [ -f /etc/ssl/certs/ca-certificates.crt ]; then
    cat /etc/ssl/certs/ca-certificates.crt >> "$WORK/chain.pem"
fi

verify() {
    local log
    if ! log=$(osslsigncode verify -CAfile "$WORK/chain.pem" -require-leaf-hash "sha256:$LEAF_HASH" \
            -in "$1" 2>&1); then
        echo "$log" >&2
        return 1
    fi
}

timestamp=()
if [ -n "${BRIM_SIGN_TIMESTAMP_URL:-}" ]; then
    timestamp=(-ts "$BRIM_SIGN_TIMESTAMP_URL")
fi

for file in "$@"; do
    [ -f "$file" ] || fail "$file: no such file"
    if [ "$verify_only" -eq 1 ]; then
        verify "$file" || fail "$file: signature does not verify"
        echo "sign: $file: signature verified"
        continue
    fi
    # Signed beside the file and moved over it only once verified, so that
    # a failed run leaves no half-signed file behind.
    signed="$file.signing"
    rm -f "$signed"
    if ! osslsigncode sign -pkcs12 "$BRIM_SIGN_PFX" "${password[@]}" -h sha256 \
            -n "$PRODUCT" -i "$URL" "${timestamp[@]}" -in "$file" -out "$signed" >"$WORK/sign.log" 2>&1; then
        cat "$WORK/sign.log" >&2
        rm -f "$signed"
        fail "$file: signing failed"
    fi
    if ! verify "$signed"; then
        rm -f "$signed"
        fail "$file: the new signature does not verify"
    fi
    chmod --reference="$file" "$signed"
    mv -f "$signed" "$file"
    echo "sign: $file: signed and verified"
done
