#!/usr/bin/env bash
# sign.sh CERTIFICATE KEY FILE...
# Signs each FILE (DLL or MSI) in place with Authenticode through osslsigncode: CERTIFICATE is the
# PEM certificate (with its chain, if any), KEY its PEM private key; VRL_SIGN_PASSWORD, when set,
# unlocks the key; VRL_SIGN_TIMESTAMP, when set, is the URL of a time-stamping server.
set -euo pipefail
[ $# -ge 3 ] || { echo "usage: sign.sh CERTIFICATE KEY FILE..." >&2; exit 2; }
certificate=$1 key=$2; shift 2
options=(-certs "$certificate" -key "$key" -h sha256 -n "VRLCOM Module")
[ -n "${VRL_SIGN_PASSWORD:-}" ] && options+=(-pass "$VRL_SIGN_PASSWORD")
[ -n "${VRL_SIGN_TIMESTAMP:-}" ] && options+=(-ts "$VRL_SIGN_TIMESTAMP")
for file in "$@"; do
    osslsigncode sign "${options[@]}" -in "$file" -out "$file.signed" >/dev/null \
        || { rm -f "$file.signed"; echo "sign.sh: cannot sign $file" >&2; exit 1; }
    mv "$file.signed" "$file"
done
