#!/usr/bin/env bash
# zip_test.sh FRESH_PREFIX ARCH PRISTINE PREFIX BUILD_DIR WORK_DIRECTORY
# The README's quick start as an integrator runs it: the ZIP that CPack makes from BUILD_DIR (as
# scripts/package.sh does) is unpacked to C:\ of a fresh prefix, and every command of "Trying it
# against the simulator", read from the unpacked README, runs as written there, with a free port for
# 7000 and, in a 32-bit prefix, System32 for SysWOW64 (the README's rule for 32-bit Windows). The
# simulator runs beside them until Ctrl+C (SIGINT, which Wine hands to the program as the console's
# CTRL_C_EVENT); its trace must then be whole.
set -u
fresh_prefix=$1 arch=$2 pristine=$3 prefix=$4 build=$5 work=$6
fail() { echo "zip_test: $*" >&2; exit 1; }
wine=/usr/lib/wine/wine64
[ "$arch" = win32 ] && wine=/usr/lib/wine/wine

rm -rf "$work"
mkdir -p "$work"
(cd "$build" && cpack -G ZIP -B "$work" >"$work/cpack.log" 2>&1) || { cat "$work/cpack.log"; fail "cpack"; }
zip=$(echo "$work"/VRLCOM-*.zip)
"$fresh_prefix" "$arch" "$pristine" "$prefix" || fail "no fresh prefix"
export WINEPREFIX=$prefix WINEARCH=$arch WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
/usr/lib/wine/wineserver -p 20 >/dev/null 2>&1 </dev/null

start=$(date +%s%N)
unzip -q "$zip" -d "$prefix/drive_c" || fail "unzip $zip"
mapfile -t commands < <(sed -n '/^### Trying it against the simulator/,/^#/s/^    //p' \
    "$prefix/drive_c/$(basename "$zip" .zip)/README.md")
[ "${#commands[@]}" -ge 6 ] || fail "the README's quick start has only ${#commands[@]} commands"

set -f
sim="" port="" output=$work/output
for line in "${commands[@]}"; do
    [ "$arch" = win32 ] && line=${line//SysWOW64/System32}
    case "$line" in
        "cd /d C:\\"*) folder=${line#cd /d C:\\}; cd "$prefix/drive_c/${folder//\\//}" || fail "$line" ;;
        "set "*=*) export "${line#set }" ;;
        *gateway_simulator.exe*)
            $wine ${line/--port 7000/--port 0} >"$work/simulator.out" 2>&1 </dev/null &
            sim=$!
            for _ in $(seq 600); do
                port=$(sed -n 's/^listening on 127\.0\.0\.1:\([0-9]*\)\r*$/\1/p' "$work/simulator.out")
                [ -n "$port" ] && break
                sleep 0.1
            done
            [ -n "$port" ] || { cat "$work/simulator.out"; fail "the simulator did not say its port"; } ;;
        *)
            $wine cmd.exe /c ${line//7000/$port} <<<"secret" >"$work/step" 2>&1 \
                || { cat "$work/step"; fail "'$line' failed"; }
            [[ "$line" == *cscript* ]] && echo "zip_test: unpacked to the example's end in $(( ($(date +%s%N) - start) / 1000000 )) ms"
            tr -d '\r' <"$work/step" >>"$output" ;;
    esac
done

kill -INT "$sim"
wait "$sim"
[ $? -eq 0 ] || { cat "$work/simulator.out"; fail "the simulator did not stop cleanly on Ctrl+C"; }
expected="regsvr32: Successfully registered DLL 'x86\\VRLCOM.DLL'
StartCon 127.0.0.1:$port: status 0, text \"\"
SendMsg: status 0, text \"1000001\"
SendMsg_Order: status 0, text \"1000002\"
QueryMsg 1000001: status 0, text \"DELIVERED\"
QueryMsg 1000002: status 0, text \"SCHEDULED 20261225120000\"
EndCon
login 0
send 0 1000003
query 0 DELIVERED
login 0
query 0 DELIVERED
regsvr32: Successfully unregistered DLL 'x86\\VRLCOM.DLL'"
[ "$(cat "$output")" = "$expected" ] || { cat "$output"; fail "unexpected output"; }
# Ten requests, each answered: one whole line per frame, and no password.
trace=$prefix/drive_c/$(basename "$zip" .zip)/frames.jsonl
[ "$(grep -c '^{"dir":"\(in\|out\)",.*}$' "$trace")" = 20 ] && [ "$(wc -l <"$trace")" = 20 ] \
    && [ -z "$(tail -c 1 "$trace")" ] || { cat "$trace"; fail "the trace is not whole"; }
grep -q secret "$trace" && fail "the password is in the trace"
echo "zip_test: the quick start ran from $(basename "$zip")"
