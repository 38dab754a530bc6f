#!/usr/bin/env bash
# fuzz.sh [SECONDS]
# Builds the fuzz preset (clang, libFuzzer, AddressSanitizer and UBSan) and runs every fuzz target
# <name>_fuzzer for SECONDS each (default 30), starting from its seed corpus tests/fuzz/corpus/<name>.
# New inputs go to a scratch corpus in the build tree, never into the repository; a crash, leak
# or sanitizer report is kept as an artifact there and makes the script exit nonzero.
# A longer run: scripts/fuzz.sh 3600   (build tree: VRL_FUZZ_BUILD, default build/fuzz)
set -uo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-30}
build=${VRL_FUZZ_BUILD:-build/fuzz}

mkdir -p "$build"
cmake --preset fuzz -B "$build" >"$build/fuzz-configure.log" 2>&1 \
    || { cat "$build/fuzz-configure.log"; echo "fuzz.sh: configure failed" >&2; exit 2; }
cmake --build "$build" -j2 >"$build/fuzz-build.log" 2>&1 \
    || { tail -n 60 "$build/fuzz-build.log"; echo "fuzz.sh: build failed" >&2; exit 2; }

status=0
found=0
for seeds in tests/fuzz/corpus/*/; do
    name=$(basename "$seeds")
    target="$build/tests/fuzz/${name}_fuzzer"
    [ -x "$target" ] || { echo "fuzz.sh: no target ${name}_fuzzer" >&2; status=1; continue; }
    found=$((found + 1))
    work="$build/fuzz-work/$name"
    mkdir -p "$work/corpus" "$work/artifacts"
    echo "== fuzz: ${name}_fuzzer for ${seconds} s"
    if ! "$target" -max_total_time="$seconds" -max_len=16384 -timeout=10 -rss_limit_mb=4096 \
            -print_final_stats=1 -artifact_prefix="$work/artifacts/" \
            "$work/corpus" "$seeds" >"$work/log" 2>&1; then
        tail -n 40 "$work/log"
        echo "fuzz.sh: ${name}_fuzzer found a fault; artifacts in $work/artifacts" >&2
        status=1
    fi
    grep -E '^(Done|stat::number_of_executed_units|stat::peak_rss_mb)' "$work/log" || true
done
[ "$found" -gt 0 ] || { echo "fuzz.sh: no fuzz target ran" >&2; status=1; }
exit $status
