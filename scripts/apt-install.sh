# Sourced by bootstrap.sh: installs Debian packages that are missing, with one index update first.
# A mirror can serve one index stale for hours: the update is tried VRL_APT_TRIES times,
# VRL_APT_PAUSE seconds apart, and then apt goes on with the indexes it has. If the install then
# fails, it is tried once more against the release itself (-t <code name>), when apt's simulation of
# that removes and downgrades nothing: the security suite's versions whose multi-arch twins sit in
# the missing index are then left for later. Otherwise the install stops, naming the index that
# failed. apt's own verification is never relaxed.

say()  { printf 'bootstrap: %s\n' "$*"; }
fail() { printf 'bootstrap: FAILED: %s\n' "$*" >&2; exit 1; }

VRL_APT_TRIES=${VRL_APT_TRIES:-2}
VRL_APT_PAUSE=${VRL_APT_PAUSE:-20}
VRL_APT_LOGS=${VRL_APT_LOGS:-/tmp}
[[ $VRL_APT_TRIES =~ ^[1-9][0-9]*$ ]] || fail "VRL_APT_TRIES must be a whole number of tries, 1 or more, not '$VRL_APT_TRIES'"
[[ $VRL_APT_PAUSE =~ ^[0-9]+$ ]] || fail "VRL_APT_PAUSE must be a whole number of seconds, not '$VRL_APT_PAUSE'"
apt_updated=0
apt_stale_index=""

# The machine's release code name (bookworm, ...); VRL_OS_RELEASE names another os-release file.
release_codename() {
    (. "${VRL_OS_RELEASE:-/etc/os-release}" && echo "${VERSION_CODENAME:-}")
}

# The indexes apt could not fetch, one per line, from its log.
failed_indexes() { sed -n 's/^[EW]: Failed to fetch \([^ ]*\).*/\1/p' "$1" | sort -u; }

apt_logs() {
    mkdir -p "$VRL_APT_LOGS" 2>/dev/null || fail "cannot create VRL_APT_LOGS, the folder for apt's logs: $VRL_APT_LOGS"
}

apt_update() {
    [ "$apt_updated" -eq 0 ] || return 0
    apt_logs
    local try log=$VRL_APT_LOGS/vrlcom-apt-update.log
    for ((try = 1; ; try++)); do
        say "apt-get update"
        if apt-get update -qq >"$log" 2>&1 && [ -z "$(failed_indexes "$log")" ]; then
            apt_stale_index=""
            break
        fi
        apt_stale_index=$(failed_indexes "$log")
        [ -n "$apt_stale_index" ] || apt_stale_index="(see $log)"
        if [ "$try" -ge "$VRL_APT_TRIES" ]; then
            say "apt-get update still fails after $try tries, on: $apt_stale_index"
            say "going on with the indexes apt has"
            break
        fi
        say "apt-get update failed on: $apt_stale_index; trying again in ${VRL_APT_PAUSE} s ($try of $VRL_APT_TRIES)"
        sleep "$VRL_APT_PAUSE"
    done
    apt_updated=1
}

installed() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'; }

# apt_release_install LOG PACKAGES...: the install against the release itself, after an index could
# not be fetched; only when apt's simulation of it removes and downgrades nothing.
apt_release_install() {
    local log=$1 codename sim=$VRL_APT_LOGS/vrlcom-apt-simulate.log behind
    shift
    codename=$(release_codename)
    [ -n "$codename" ] || return 1
    say "trying the install against the release $codename itself (-t $codename)"
    apt-get -s install -y -q --no-install-recommends -t "$codename" "$@" >"$sim" 2>&1 || { cat "$sim" >>"$log"; return 1; }
    if grep -qE '^Remv |^The following packages will be (REMOVED|DOWNGRADED)' "$sim"; then
        awk '/^The following packages will be (REMOVED|DOWNGRADED)/ { p = 1; print; next } /^  / { if (p) print; next } { p = 0 }' \
            "$sim" >>"$log"
        say "not going on: against $codename, apt would remove or downgrade installed packages" >&2
        return 1
    fi
    grep -E '^[0-9]+ upgraded, ' "$sim" | sed 's/^/bootstrap: simulated: /'
    apt-get install -y -q --no-install-recommends --no-remove -t "$codename" "$@" >"$log" 2>&1 || return 1
    # Of the packages this install touched, those a security suite has a newer version of.
    behind=$(apt list --upgradable 2>/dev/null | sed -n 's|^\([^/]*\)/[^ ]*-security .*|\1|p' | sort -u \
        | comm -12 - <(sed -n 's/^Inst \([^ :]*\).*/\1/p' "$sim" | sort -u) | tr '\n' ' ')
    if [ -n "$behind" ]; then
        say "installed; these stand behind their security suite's version: $behind"
        say "once the index can be fetched again: apt-get update && apt-get install --only-upgrade -y $behind"
    fi
}

# apt_install [APT-GET OPTIONS...] PACKAGES...: updates the indexes once, then installs.
apt_install() {
    local log=$VRL_APT_LOGS/vrlcom-apt-install.log
    apt_update
    say "installing $*"
    apt-get install -y -q --no-install-recommends "$@" >"$log" 2>&1 && return 0
    [ -n "$apt_stale_index" ] && apt_release_install "$log" "$@" && return 0
    tail -n 30 "$log" >&2
    [ -z "$apt_stale_index" ] || say "the last apt-get update could not fetch: $apt_stale_index" >&2
    fail "apt-get install $*"
}

# install_packages PACKAGES...: installs those not installed yet; touches no network when none is missing.
install_packages() {
    local p todo=()
    for p in "$@"; do
        installed "$p" || todo+=("$p")
    done
    [ "${#todo[@]}" -eq 0 ] || apt_install "${todo[@]}"
}
