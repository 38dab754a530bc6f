#!/usr/bin/env bash
# The main job: builds VRLCOM.DLL (x86) and the gateway simulator, registers the DLL with regsvr32
# in a private Wine prefix, starts the simulator on a free loopback port, runs the VBScript example
# against it under cscript (send a message, schedule one, query both), prints what it did and what
# the gateway saw, then unregisters the DLL and stops the simulator and the prefix's Wine processes.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/bootstrap.sh
root=$(pwd)
logs=$(mktemp -d)
build() {
    local preset=$1; shift
    cmake --preset "$preset" >"$logs/$preset.configure.log" 2>&1 \
        || { cat "$logs/$preset.configure.log"; exit 1; }
    cmake --build "build/$preset" -j2 --target "$@" >"$logs/$preset.build.log" 2>&1 \
        || { tail -n 40 "$logs/$preset.build.log"; exit 1; }
}
echo "demo: building VRLCOM.DLL (x86) and the gateway simulator"
build win32 vrlcom
build native gateway_simulator

dll=build/win32/server/module/VRLCOM.DLL
prefix=$root/build/win32/wineprefix-demo
wine_run() { cmake/wine-run.sh win32 "$prefix" "$@"; }
simulator=build/native/tools/gateway_simulator/gateway_simulator
sim_pid=
cleanup() {
    [ -n "$sim_pid" ] && { kill "$sim_pid" 2>/dev/null || true; wait "$sim_pid" 2>/dev/null || true; }
    bash scripts/stop-wineservers.sh "$prefix"
    rm -rf "$logs"
}
trap cleanup EXIT

echo "demo: regsvr32 /s $dll (private Wine prefix ${prefix#"$root"/})"
wine_run regsvr32 /s "$dll" || { echo "demo: registration failed (regsvr32 exit code $?)"; exit 1; }

"$simulator" --port 0 --trace "$logs/trace.jsonl" >"$logs/simulator.out" 2>&1 &
sim_pid=$!
for _ in $(seq 100); do
    grep -q '^listening on ' "$logs/simulator.out" 2>/dev/null && break
    sleep 0.1
done
port=$(sed -n 's/^listening on [0-9.]*:\([0-9]*\).*/\1/p' "$logs/simulator.out")
[ -n "$port" ] || { echo "demo: the simulator did not start"; cat "$logs/simulator.out"; exit 1; }
echo "demo: gateway simulator listening on 127.0.0.1:$port (account demo/demo)"

script="Z:$root/examples/send_and_query.vbs"
echo "--- cscript examples/send_and_query.vbs 127.0.0.1 $port demo demo 0912345678"
status=0
wine_run cscript //nologo "${script//\//\\}" 127.0.0.1 "$port" demo demo 0912345678 || status=$?

echo "--- what the gateway saw ($(wc -l <"$logs/trace.jsonl") frames)"
python3 - "$logs/trace.jsonl" <<'PY'
import json, sys
commands = {0: "login", 1: "submit", 2: "query"}
for line in open(sys.argv[1]):
    frame = json.loads(line)
    if frame["dir"] == "in":
        print(f"  -> {commands.get(frame.get('command'), frame.get('command'))} {' | '.join(frame.get('fields', []))}")
    else:
        print(f"  <- status {frame['status']} {frame['text']}")
PY

echo "demo: regsvr32 /u /s $dll"
wine_run regsvr32 /u /s "$dll"
if [ "$status" -ne 0 ]; then
    echo "demo: the script reported $status failed step(s)"
    exit 1
fi
echo "demo: done"
