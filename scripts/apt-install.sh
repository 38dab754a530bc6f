# Sourced by bootstrap.sh: installs Debian packages that are missing, with one index update first.
# A mirror that is mid-sync serves one index with the wrong size for a while and heals by itself:
# the update is tried VRL_APT_TRIES times, VRL_APT_PAUSE seconds apart, and then apt goes on with
# the indexes it has. Only a failing install stops, naming the index that failed as well.
# apt's own verification is never relaxed.

VRL_APT_TRIES=${VRL_APT_TRIES:-4}
VRL_APT_PAUSE=${VRL_APT_PAUSE:-45}
VRL_APT_LOGS=${VRL_APT_LOGS:-/tmp}
apt_updated=0
apt_stale_index=""

say()  { printf 'bootstrap: %s\n' "$*"; }
fail() { printf 'bootstrap: FAILED: %s\n' "$*" >&2; exit 1; }

# The indexes apt could not fetch, one per line, from its log.
failed_indexes() { sed -n 's/^[EW]: Failed to fetch \([^ ]*\).*/\1/p' "$1" | sort -u; }

apt_update() {
    [ "$apt_updated" -eq 0 ] || return 0
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

# apt_install [APT-GET OPTIONS...] PACKAGES...: updates the indexes once, then installs.
apt_install() {
    local log=$VRL_APT_LOGS/vrlcom-apt-install.log
    apt_update
    say "installing $*"
    if ! apt-get install -y -q --no-install-recommends "$@" >"$log" 2>&1; then
        tail -n 30 "$log" >&2
        [ -z "$apt_stale_index" ] || say "the last apt-get update could not fetch: $apt_stale_index" >&2
        fail "apt-get install $*"
    fi
}

# install_packages PACKAGES...: installs those not installed yet; touches no network when none is missing.
install_packages() {
    local p todo=()
    for p in "$@"; do
        installed "$p" || todo+=("$p")
    done
    [ "${#todo[@]}" -eq 0 ] || apt_install "${todo[@]}"
}
