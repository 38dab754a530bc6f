#!/usr/bin/env bash
# stop-wineservers.sh FOLDER...
# Stops the Wine server of every private prefix the project made in or at the given folders (build
# trees, or prefixes), and with it every Wine process of that prefix. A server waits a while for
# further programs, and the services it started (services.exe, winedevice.exe, ...) outlive the last
# program; on some machines they never leave. cmake/wine-run.sh and cmake/fresh-prefix.sh
# mark the prefixes they made with .vrl-ready; a pristine prefix is stopped when it has booted.
# VRL_WINESERVER names another wineserver.
wineserver=${VRL_WINESERVER:-/usr/lib/wine/wineserver}
for tree in "$@"; do
    [ -d "$tree" ] || continue
    # Wine takes only an absolute WINEPREFIX.
    find "$(realpath "$tree")" -maxdepth 4 -name .vrl-ready -printf '%h\n' 2>/dev/null | while read -r prefix; do
        WINEPREFIX=$prefix "$wineserver" -k >/dev/null 2>&1 || true
    done
done
