#!/usr/bin/env bash
# The main job: starts the bundled gateway simulator on a free loopback port, then sends a message,
# schedules one and queries both with the command-line client, printing every step.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/bootstrap.sh
build=build/native
cmake --preset native >/tmp/vrlcom-demo-configure.log 2>&1 \
    || { cat /tmp/vrlcom-demo-configure.log; exit 1; }
cmake --build "$build" --target gateway_simulator gateway_client >/tmp/vrlcom-demo-build.log 2>&1 \
    || { tail -n 40 /tmp/vrlcom-demo-build.log; exit 1; }

simulator=$build/tools/gateway_simulator/gateway_simulator
client=$build/tools/gateway_client/gateway_client
work=$(mktemp -d)
trap 'kill "$sim_pid" 2>/dev/null || true; wait "$sim_pid" 2>/dev/null || true; rm -rf "$work"' EXIT

"$simulator" --port 0 --trace "$work/trace.jsonl" >"$work/simulator.out" 2>&1 &
sim_pid=$!
for _ in $(seq 100); do
    grep -q '^listening on ' "$work/simulator.out" 2>/dev/null && break
    sleep 0.1
done
port=$(sed -n 's/^listening on [0-9.]*:\([0-9]*\).*/\1/p' "$work/simulator.out")
[ -n "$port" ] || { echo "demo: the simulator did not start"; cat "$work/simulator.out"; exit 1; }
echo "gateway simulator listening on 127.0.0.1:$port (account demo/demo)"

connect=(--server 127.0.0.1 --port "$port" --user demo --password demo)
echo "--- send a message now, and one at Christmas noon"
"$client" "${connect[@]}" send 0912345678 "Hello from VRLCOM" \
    send-at 0912345678 "Merry Christmas" 20261225120000 | tee "$work/sent.out"
mapfile -t ids < <(sed -n 's/^send\(-at\)\{0,1\} 0 \([0-9]*\)$/\2/p' "$work/sent.out")
[ "${#ids[@]}" -eq 2 ] || { echo "demo: expected two message ids"; exit 1; }

echo "--- query both messages"
"$client" "${connect[@]}" query 0912345678 "${ids[0]}" query 0912345678 "${ids[1]}"

echo "--- frames the gateway saw: $(wc -l <"$work/trace.jsonl") (trace lines, one per frame)"
