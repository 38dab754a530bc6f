#!/usr/bin/env bash
# wine-run.sh ARCH PREFIX PROGRAM [ARGS...]
# Runs a Windows program under Wine of the given architecture (win32 or win64) in a private prefix,
# made on first use. Wine's output is collected in files (Wine's background processes
# inherit it and outlive the program) and printed with CR stripped; the program's exit code is kept.
set -u
arch=$1 prefix=$2; shift 2
case "$arch" in
    win32) wine=/usr/lib/wine/wine ;;
    win64) wine=/usr/lib/wine/wine64 ;;
    *) echo "wine-run.sh: unknown architecture $arch" >&2; exit 2 ;;
esac
export WINEPREFIX=$prefix WINEARCH=$arch WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
wineserver=/usr/lib/wine/wineserver

# A new prefix is a copy of the pristine one beside it, which is booted once: a copy takes a second
# where a boot takes many.
mkdir -p "$(dirname "$prefix")"
(
    flock 9
    if [ ! -f "$prefix/.vrl-ready" ]; then
        "$(dirname "$0")/fresh-prefix.sh" "$arch" "$(dirname "$prefix")/wineprefix-pristine" "$prefix" || exit 1
    fi
) 9>"$prefix.lock" || exit 1

# Keep one server alive between the programs of a test run; it must not hold our pipes.
"$wineserver" -p 20 >/dev/null 2>&1 </dev/null &

out=$(mktemp) err=$(mktemp)
trap 'rm -f "$out" "$err"' EXIT
"$wine" "$@" >"$out" 2>"$err" </dev/null
rc=$?
tr -d '\r' <"$out"
tr -d '\r' <"$err" >&2
# Once Wine's debugger has ended a program that crashed, its exit code may still be 0.
if [ "$rc" -eq 0 ] && grep -q '^wine: Unhandled ' "$err"; then
    rc=1
fi
exit $rc
