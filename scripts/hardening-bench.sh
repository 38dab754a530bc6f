#!/usr/bin/env bash
# The cost of the stack protector and _FORTIFY_SOURCE: the submit benchmark (native) and the dispatch
# benchmark (x64, under Wine), each built with them and without (VRL_NO_HARDENING), run in turns in
# one run, the order swapped every round, so that both see the same load.
# Usage: scripts/hardening-bench.sh [ROUNDS] [BUILD_ROOT]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
rounds=${1:-3}
# Wine runs only in dispatch-bench.sh, which stops its prefix's servers; it needs absolute folders.
builds=$(realpath -m "${2:-$root/build}")

for variant in hardened plain; do
    no_hardening=$([ "$variant" = plain ] && echo ON || echo OFF)
    cmake -S "$root" -B "$builds/bench-$variant" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVRL_NO_SANITIZE=ON \
        -DVRL_NO_HARDENING="$no_hardening" >/dev/null
    cmake --preset win64 -S "$root" -B "$builds/win64-bench-$variant" -DVRL_NO_HARDENING="$no_hardening" >/dev/null
done
for round in $(seq "$rounds"); do
    order="hardened plain"
    [ $((round % 2)) -eq 0 ] && order="plain hardened"
    for variant in $order; do
        echo "== round $round, $variant: submit"
        "$root/scripts/gateway-bench.sh" "$builds/bench-$variant"
        echo "== round $round, $variant: dispatch"
        "$root/scripts/dispatch-bench.sh" "$builds/win64-bench-$variant"
    done
done
