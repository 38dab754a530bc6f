#!/usr/bin/env bash
# gateway_simulator and gateway_client as programs: start the simulator on a free port, read the
# port from its first line, run client sessions against it, stop it with SIGTERM and SIGINT.
# Usage: gateway_programs_test.sh SIMULATOR CLIENT WORKDIR
set -u
simulator=$1 client=$2 work=$3
mkdir -p "$work"
failures=0
check() {  # check NAME EXPECTED ACTUAL
    if [ "$2" != "$3" ]; then
        printf 'FAIL %s\n  expected: %s\n  actual:   %s\n' "$1" "$2" "$3"
        failures=$((failures + 1))
    fi
}

start_simulator() {  # start_simulator ARGS...; sets sim_pid and port
    # A stale first line from the previous simulator must not be taken for this one's port.
    rm -f "$work/sim.out"
    "$simulator" --port 0 "$@" >"$work/sim.out" 2>"$work/sim.err" &
    sim_pid=$!
    port=
    for _ in $(seq 100); do
        port=$(sed -n '1s/^listening on 127\.0\.0\.1:\([0-9]\+\)$/\1/p' "$work/sim.out" 2>/dev/null)
        [ -n "$port" ] && return 0
        sleep 0.05
    done
    echo "FAIL simulator did not report its port"; cat "$work/sim.err"
    exit 1
}

stop_simulator() {  # stop_simulator SIGNAL
    kill -s "$1" "$sim_pid"
    wait "$sim_pid"
    check "simulator exit after SIG$1" 0 $?
}

start_simulator --account alice:pw --trace "$work/trace.jsonl"
out=$("$client" --server 127.0.0.1 --port "$port" --user alice --password pw \
      send 0912345678 hello send-at 0912345678 later 20270101083000 query 0912345678 1000001)
check "session exit code" 0 $?
check "session output" "$(printf 'login 0\nsend 0 1000001\nsend-at 0 1000002\nquery 0 DELIVERED')" "$out"

out=$("$client" --server 127.0.0.1 --port "$port" --user alice --password wrong send 0912345678 hi)
check "refused login exit code" 1 $?
check "refused login output" "login 1" "$out"

out=$("$client" --server 127.0.0.1 --port "$port" --user alice --password pw send-at 0912345678 hi 2027)
check "bad time exit code" 1 $?
check "bad time output" "$(printf 'login 0\nsend-at 4 malformed send time, expected YYYYMMDDhhmmss')" "$out"

out=$(printf 'pw\n' | "$client" --server 127.0.0.1 --port "$port" --user alice --password - send 0912345678 a)
check "password from standard input" "$(printf 'login 0\nsend 0 1000003')" "$out"
out=$(VRL_PASSWORD=pw "$client" --server 127.0.0.1 --port "$port" --user alice send 0912345678 b)
check "password from the environment" "$(printf 'login 0\nsend 0 1000004')" "$out"
</dev/null "$client" --server 127.0.0.1 --port "$port" --user alice --password - send 0912345678 c >/dev/null 2>&1
check "no password on standard input exit code" 3 $?

env -u VRL_PASSWORD "$client" --server 127.0.0.1 --port "$port" --user alice send 1 x >/dev/null 2>&1
check "usage exit code" 3 $?
stop_simulator TERM
# Eleven requests above (4 + 1 + 2 + 2 + 2), each answered: one line in, one line out.
check "trace lines" 22 "$(wc -l <"$work/trace.jsonl")"
check "trace directions" 11 "$(grep -c '^{"dir":"out"' "$work/trace.jsonl")"
check "passwords masked" 5 "$(grep -c '"fields":\["alice","\*\*\*"\]' "$work/trace.jsonl")"
check "no password in the trace" 0 "$(grep -c '"pw"\|"wrong"\|70770' "$work/trace.jsonl")"

# A password given on the command line leaves the process list once the client has read it: it
# is gone by the time its login reaches the simulator (which never answers, so the client waits).
start_simulator --fault no-reply --trace "$work/waiting.jsonl"
"$client" --server 127.0.0.1 --port "$port" --user demo --password visible-secret send 1 x >/dev/null &
client_pid=$!
for _ in $(seq 200); do
    grep -q '"command":0' "$work/waiting.jsonl" 2>/dev/null && break
    sleep 0.05
done
check "login arrived" 1 "$(grep -c '"command":0' "$work/waiting.jsonl")"
check "password gone from the process list" 0 "$(tr '\0' ' ' </proc/$client_pid/cmdline | grep -c visible-secret)"
kill "$client_pid"
wait "$client_pid" 2>/dev/null
stop_simulator TERM

# A trace into a pipe whose reader has gone: the write fails (no SIGPIPE death), is reported once,
# and the simulator goes on serving.
rm -f "$work/trace.fifo"
mkfifo "$work/trace.fifo"
head -c 1 "$work/trace.fifo" >/dev/null &
reader_pid=$!
start_simulator --trace "$work/trace.fifo"
for n in 1 2 3; do
    out=$("$client" --server 127.0.0.1 --port "$port" --user demo --password demo send 0912345678 "m$n")
    check "serving after the trace pipe closed ($n)" "$(printf 'login 0\nsend 0 %s' $((1000000 + n)))" "$out"
    # The reader has taken its byte of the first session's trace and gone: later lines fail.
    [ "$n" = 1 ] && wait "$reader_pid"
done
stop_simulator TERM
check "trace failure reported once" 1 "$(grep -c 'tracing stopped' "$work/sim.err")"

start_simulator --fault close-after=1
"$client" --server 127.0.0.1 --port "$port" --user demo --password demo --receive-timeout 2000 \
    send 0912345678 hello >"$work/client.out"
check "server closing exit code" 2 $?
check "server closing output" "$(printf 'login 0\nsend -5 socket receive error!')" "$(cat "$work/client.out")"
stop_simulator INT

"$client" --server 127.0.0.1 --port "$port" --user demo --password demo send 1 x >/dev/null
check "nothing listening exit code" 2 $?

"$simulator" --fault nonsense >/dev/null 2>&1
check "bad simulator option exit code" 2 $?

echo "$failures failure(s)"
exit "$failures"
