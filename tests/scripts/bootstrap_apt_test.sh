#!/usr/bin/env bash
# The bootstrap's package step against a stand-in apt-get that fails the first N index updates
# (as a mirror mid-sync does) and, if told, the install.
# Usage: bootstrap_apt_test.sh APT_INSTALL_SH WORKDIR
set -u
steps=$1 work=$2
rm -rf "$work" && mkdir -p "$work/bin"
failures=0
stale=http://mirror.invalid/debian-security/dists/bookworm-security/main/binary-i386/Packages.xz

# INSTALL: ok, fails, release (fails but against the release), downgrades (and its simulation
# downgrades). Calls are logged as the subcommand, with ":RELEASE" for -t RELEASE.
cat >"$work/bin/apt-get" <<STUB
#!/bin/sh
call=\$1 t=
[ "\$1" = -s ] && call=simulate
while [ \$# -gt 0 ]; do [ "\$1" = -t ] && t=":\$2"; shift; done
echo "\$call\$t" >>"$work/calls"
case "\$call" in
    update)
        if [ "\$(grep -c '^update' "$work/calls")" -le "\$FAILING_UPDATES" ]; then
            echo "E: Failed to fetch $stale  File has unexpected size (374820 != 376004). Mirror sync in progress?"
            echo "E: Some index files failed to download. They have been ignored, or old ones used instead."
            exit 100
        fi ;;
    simulate)
        [ "\$INSTALL" = downgrades ] && printf 'The following packages will be DOWNGRADED:\n  zlib1g\n'
        echo "Inst zlib1g [1:1.2.13-1+deb12u1] (1:1.2.13-1 Debian:12.5/stable [amd64])" ;;
    install)
        [ "\$INSTALL" = ok ] || { [ "\$INSTALL" = release ] && [ -n "\$t" ]; } \
            || { echo "E: Unable to correct problems, you have held broken packages."; exit 100; } ;;
esac
STUB
printf '#!/bin/sh\nprintf "zlib1g/stable-security 1.3 amd64 [upgradable from: 1.2]\\nperl/stable-security 5.2 amd64 [upgradable from: 5.1]\\n"\n' >"$work/bin/apt"
printf 'VERSION_CODENAME=frozen\n' >"$work/os-release"
# Every package is missing but "present".
printf '#!/bin/sh\n[ "$3" = present ] && echo "install ok installed"\n' >"$work/bin/dpkg-query"
chmod +x "$work/bin/apt-get" "$work/bin/apt" "$work/bin/dpkg-query"

# run CASE FAILING_UPDATES INSTALL EXPECTED_EXIT EXPECTED_CALLS PACKAGES...; TRIES overrides the 3 tries.
# Sourced as the bootstrap does, under set -euo pipefail; the log folder does not exist yet.
run() {
    local name=$1 updates=$2 install=$3 want_rc=$4 want_calls=$5; shift 5
    rm -rf "$work/calls" "$work/logs"; touch "$work/calls"
    PATH="$work/bin:$PATH" FAILING_UPDATES=$updates INSTALL=$install VRL_APT_TRIES=${TRIES:-3} VRL_APT_PAUSE=0 \
        VRL_APT_LOGS=$work/logs/apt VRL_OS_RELEASE=$work/os-release \
        bash -c 'set -euo pipefail; . "$1"; shift; install_packages "$@"' _ "$steps" "$@" >"$work/out" 2>&1
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

run "nothing missing" 0 ok 0 "" present
run "the second update heals" 1 ok 0 "update update install " wine32:i386
expect_output "the second update heals" "apt-get update failed on: $stale"
run "every update fails, the install does not" 9 ok 0 "update update update install " wine32:i386
expect_output "every update fails, the install does not" "going on with the indexes apt has"
run "the install fails" 9 fails 1 "update update update install simulate:frozen install:frozen " wine32:i386
expect_output "the install fails" "E: Unable to correct problems, you have held broken packages."
expect_output "the install fails" "the last apt-get update could not fetch: $stale"
run "the install passes against the release" 9 release 0 "update update update install simulate:frozen install:frozen " wine32:i386
expect_output "the install passes against the release" "stand behind their security suite's version: zlib1g "
run "the release would downgrade" 9 downgrades 1 "update update update install simulate:frozen " wine32:i386
expect_output "the release would downgrade" "  zlib1g"
run "the install fails with every index fetched" 0 release 1 "update install " wine32:i386
TRIES=often run "a number of tries that is no number" 0 ok 1 "" wine32:i386
expect_output "a number of tries that is no number" "VRL_APT_TRIES must be a whole number"

[ "$failures" -eq 0 ] && echo "bootstrap apt step: all cases passed"
exit "$failures"
