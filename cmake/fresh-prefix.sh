#!/usr/bin/env bash
# fresh-prefix.sh ARCH PRISTINE PREFIX [PROGRAM [ARGS...]]
# Runs PROGRAM through wine-run.sh in PREFIX (without PROGRAM, only makes PREFIX), made anew for the
# run as a copy of PRISTINE: a prefix in which nothing was ever registered or installed. PRISTINE is
# booted once per build tree and never runs anything itself; a copy takes seconds where a new
# wineboot takes minutes. The system DLL folders, which nothing here writes to, are hard links into
# PRISTINE; the registry and the rest are real copies.
set -u
arch=$1 pristine=$2 prefix=$3; shift 3
here=$(cd "$(dirname "$0")" && pwd)
case "$arch" in
    win32) wine=/usr/lib/wine/wine ;;
    win64) wine=/usr/lib/wine/wine64 ;;
    *) echo "fresh-prefix.sh: unknown architecture $arch" >&2; exit 2 ;;
esac
wineserver=/usr/lib/wine/wineserver
shared=(drive_c/windows/system32 drive_c/windows/syswow64 drive_c/windows/winsxs)

mkdir -p "$(dirname "$pristine")"
(
    flock 9
    if [ ! -f "$pristine/.vrl-pristine" ]; then
        rm -rf "$pristine"
        WINEPREFIX=$pristine WINEARCH=$arch WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" \
            "$wine" wineboot -i >"$pristine.boot.log" 2>&1 </dev/null
        # A program that crashes prints its backtrace and ends, instead of waiting on Wine's crash
        # dialog, which nobody can close here, until the test times out.
        WINEPREFIX=$pristine WINEARCH=$arch WINEDEBUG=-all "$wine" reg add 'HKCU\Software\Wine\WineDbg' \
            /v ShowCrashDialog /t REG_DWORD /d 0 /f >>"$pristine.boot.log" 2>&1 </dev/null
        WINEPREFIX=$pristine "$wineserver" -w
        [ -f "$pristine/system.reg" ] || { echo "fresh-prefix.sh: wineboot failed, see $pristine.boot.log" >&2; exit 1; }
        touch "$pristine/.vrl-pristine"
    fi
    # The previous run's server may still be waiting in PREFIX: stop it before the prefix goes.
    [ -d "$prefix" ] && WINEPREFIX=$prefix "$wineserver" -k 2>/dev/null
    rm -rf "$prefix"
    mkdir -p "$prefix"
    excludes=()
    for dir in "${shared[@]}"; do
        excludes+=(--exclude="./$dir")
    done
    tar -C "$pristine" "${excludes[@]}" --exclude=./.vrl-pristine -cf - . | tar -C "$prefix" -xf - || exit 1
    for dir in "${shared[@]}"; do
        [ -d "$pristine/$dir" ] && { cp -al "$pristine/$dir" "$prefix/$dir" || exit 1; }
    done
    # wine-run.sh takes a prefix with this mark as booted.
    touch "$prefix/.vrl-ready"
) 9>"$pristine.lock" || exit 1

[ $# -gt 0 ] || exit 0
exec "$here/wine-run.sh" "$arch" "$prefix" "$@"
