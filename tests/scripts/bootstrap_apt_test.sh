#!/usr/bin/env bash
# The bootstrap's package step against a stand-in apt-get that fails the first N index updates
# (as a mirror mid-sync does) and, if told, the install.
# Usage: bootstrap_apt_test.sh APT_INSTALL_SH WORKDIR
set -u
steps=$1 work=$2
rm -rf "$work" && mkdir -p "$work/bin"
failures=0
stale=http://mirror.invalid/debian-security/dists/bookworm-security/main/binary-i386/Packages.xz

cat >"$work/bin/apt-get" <<STUB
#!/bin/sh
echo "\$1" >>"$work/calls"
case "\$1" in
    update)
        if [ "\$(grep -c '^update' "$work/calls")" -le "\$FAILING_UPDATES" ]; then
            echo "E: Failed to fetch $stale  File has unexpected size (374820 != 376004). Mirror sync in progress?"
            echo "E: Some index files failed to download. They have been ignored, or old ones used instead."
            exit 100
        fi ;;
    install)
        [ "\$INSTALL_FAILS" = 0 ] || { echo "E: Unable to correct problems, you have held broken packages."; exit 100; } ;;
esac
STUB
# Every package is missing but "present".
printf '#!/bin/sh\n[ "$3" = present ] && echo "install ok installed"\n' >"$work/bin/dpkg-query"
chmod +x "$work/bin/apt-get" "$work/bin/dpkg-query"

# run CASE FAILING_UPDATES INSTALL_FAILS EXPECTED_EXIT EXPECTED_CALLS PACKAGES...
run() {
    local name=$1 updates=$2 install=$3 want_rc=$4 want_calls=$5; shift 5
    rm -f "$work/calls"; touch "$work/calls"
    PATH="$work/bin:$PATH" FAILING_UPDATES=$updates INSTALL_FAILS=$install VRL_APT_TRIES=3 VRL_APT_PAUSE=0 \
        VRL_APT_LOGS=$work bash -c '. "$1"; shift; install_packages "$@"' _ "$steps" "$@" >"$work/out" 2>&1
    local rc=$? calls
    calls=$(tr '\n' ' ' <"$work/calls")
    if [ "$rc" -ne "$want_rc" ] || [ "$calls" != "$want_calls" ]; then
        printf 'FAIL %s: exit %s (expected %s), apt-get calls "%s" (expected "%s")\n' \
            "$name" "$rc" "$want_rc" "$calls" "$want_calls"
        sed 's/^/  | /' "$work/out"
        failures=$((failures + 1))
    fi
}
expect_output() {  # expect_output CASE PATTERN
    grep -qF -- "$2" "$work/out" || { printf 'FAIL %s: no "%s" in\n' "$1" "$2"; sed 's/^/  | /' "$work/out"; failures=$((failures + 1)); }
}

run "nothing missing" 0 0 0 "" present
run "the second update heals" 1 0 0 "update update install " wine32:i386
expect_output "the second update heals" "apt-get update failed on: $stale"
run "every update fails, the install does not" 9 0 0 "update update update install " wine32:i386
expect_output "every update fails, the install does not" "going on with the indexes apt has"
run "the install fails" 9 1 1 "update update update install " wine32:i386
expect_output "the install fails" "E: Unable to correct problems, you have held broken packages."
expect_output "the install fails" "the last apt-get update could not fetch: $stale"

[ "$failures" -eq 0 ] && echo "bootstrap apt step: all cases passed"
exit "$failures"
