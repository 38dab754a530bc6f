#!/usr/bin/env bash
# Runs every test of the project on a Debian machine, as root: installs what is missing, builds the
# native, win32 and win64 presets, runs their tests (the Windows ones under Wine) and a short fuzz run.
# Building takes both cores, so the presets are built one after another; the win32 and win64 suites
# spend most of their time waiting on Wine, so they run side by side; the fuzz run comes last, alone.
set -uo pipefail
cd "$(dirname "$0")/.."
logs=$(mktemp -d)
# The Wine servers of the test prefixes, and their services, would outlive the run.
trap 'bash scripts/stop-wineservers.sh build/win32 build/win64; rm -rf "$logs"' EXIT

bash scripts/bootstrap.sh || exit 1

passed=0 failed=0 broken=()
build_preset() {
    local preset=$1 log=$logs/$1.build.log
    echo "== $preset: configure and build"
    if ! cmake --preset "$preset" >"$log" 2>&1 || ! cmake --build --preset "$preset" >>"$log" 2>&1; then
        tail -n 60 "$log"
        broken+=("$preset build")
        failed=$((failed + 1))
        return 1
    fi
}
test_preset() {
    ctest --preset "$1" >"$logs/$1.test.log" 2>&1
}
# Prints a preset's test log and adds up its results.
count_tests() {
    local preset=$1 log=$logs/$1.test.log line total fails
    echo "== $preset: tests"
    cat "$log"
    line=$(grep -E 'tests passed, [0-9]+ tests? failed out of [0-9]+' "$log" | tail -n 1)
    if [ -z "$line" ]; then
        broken+=("$preset tests")
        return
    fi
    total=$(sed -E 's/.* out of ([0-9]+).*/\1/' <<<"$line")
    fails=$(sed -E 's/.*, ([0-9]+) tests? failed.*/\1/' <<<"$line")
    passed=$((passed + total - fails))
    failed=$((failed + fails))
    [ "$fails" -eq 0 ] || broken+=("$preset tests")
}

if build_preset native; then
    test_preset native
    count_tests native
fi
windows=()
for preset in win32 win64; do
    build_preset "$preset" && windows+=("$preset")
done
for preset in "${windows[@]}"; do
    test_preset "$preset" &
done
wait
for preset in "${windows[@]}"; do
    count_tests "$preset"
done

if [ -x scripts/fuzz.sh ]; then
    echo "== fuzz: short bounded run"
    if scripts/fuzz.sh "${VRL_FUZZ_SECONDS:-20}"; then
        passed=$((passed + 1))
    else
        failed=$((failed + 1))
        broken+=("fuzz")
    fi
fi

echo
if [ "${#broken[@]}" -gt 0 ]; then
    echo "failing: ${broken[*]}"
fi
echo "${passed} passed, ${failed} failed"
[ "${#broken[@]}" -eq 0 ]
