#!/usr/bin/env bash
# Builds the submit benchmark without sanitizers and runs it: GatewayConnection against a bare
# socket client on the same loopback server, interleaved repetitions, medians compared. Pinned
# to one core (client and server take turns on it), the timings vary far less on a busy machine.
# Usage: scripts/gateway-bench.sh [BUILD_DIR] [REPETITIONS] [CPU]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build/bench}
reps=${2:-30}
cpu=${3:-1}

cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVRL_NO_SANITIZE=ON >/dev/null
cmake --build "$build" -j2 --target gateway_bench >/dev/null
json=$(mktemp)
trap 'rm -f "$json"' EXIT
taskset -c "$cpu" "$build/tests/bench/gateway_bench" --benchmark_repetitions="$reps" \
    --benchmark_enable_random_interleaving=true --benchmark_report_aggregates_only=true \
    --benchmark_format=json --benchmark_out="$json" --benchmark_out_format=json >/dev/null
python3 - "$json" <<'PY'
import json, sys
rows = {b["run_name"].split("/")[0]: b for b in json.load(open(sys.argv[1]))["benchmarks"]
        if b.get("aggregate_name") == "median"}
conn, bare = (rows[n] for n in ("BM_GatewayConnectionSubmit", "BM_BareSocketSubmit"))
for name, b in (("GatewayConnection", conn), ("bare socket", bare)):
    print(f"{name:18} median {b['real_time']:9.0f} ns real  {b['cpu_time']:8.0f} ns cpu  "
          f"allocations per submit {b['allocs_per_submit']:g}")
print(f"ratio to the bare socket (median real time) {conn['real_time'] / bare['real_time']:.3f}")
PY
