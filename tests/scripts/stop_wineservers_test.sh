#!/usr/bin/env bash
# stop-wineservers.sh against a stand-in wineserver that records the prefix of each call: every
# prefix the project made in the given folders is stopped, by its absolute path, and nothing else.
# Usage: stop_wineservers_test.sh STOP_WINESERVERS_SH WORKDIR
set -euo pipefail
script=$1 work=$2
rm -rf "$work" && mkdir -p "$work"
cd "$work"
printf '#!/bin/sh\necho "$WINEPREFIX $*" >>"%s/calls"\n' "$work" >wineserver
chmod +x wineserver
for prefix in a/wineprefix a/tests/registration/hostsprefix b/wineprefix not-ours/wineprefix; do
    mkdir -p "$prefix/drive_c"
done
touch a/wineprefix/.vrl-ready a/tests/registration/hostsprefix/.vrl-ready b/wineprefix/.vrl-ready
VRL_WINESERVER=$work/wineserver bash "$script" a "$work/b" missing not-ours
expected=$(printf '%s -k\n' "$work/a/tests/registration/hostsprefix" "$work/a/wineprefix" "$work/b/wineprefix")
if [ "$(sort calls)" != "$expected" ]; then
    printf 'FAIL: stopped\n%s\nexpected\n%s\n' "$(sort calls)" "$expected"
    exit 1
fi
echo "stop-wineservers: every prefix of ours stopped"
