#!/usr/bin/env bash
# Builds the dispatch benchmark for x64 and runs it under 64-bit Wine: a by-name call against the
# platform's ITypeInfo::Invoke on our object and the same call through the table of methods (our
# own share of the by-name call follows), and the cached name look-up against the type
# information's own, each group interleaved in one run; then the heap allocations of a call.
# Usage: scripts/dispatch-bench.sh [BUILD_DIR] [CALLS_PER_BATCH] [BATCHES]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
# Wine takes only an absolute prefix.
build=$(realpath -m "${1:-$root/build/win64}")
calls=${2:-20000}
batches=${3:-15}

# The prefix's Wine server and its services would outlive the run.
trap 'bash "$root/scripts/stop-wineservers.sh" "$build"' EXIT

cmake --preset win64 -S "$root" -B "$build" >/dev/null
cmake --build "$build" -j2 --target dispatch_bench vrlcom >/dev/null
"$root/cmake/wine-run.sh" win64 "$build/wineprefix" "$build/tests/bench/dispatch_bench.exe" \
    "Z:$build/server/module/VRLCOM.DLL" "$calls" "$batches"
