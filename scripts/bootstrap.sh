#!/usr/bin/env bash
# Installs everything the project needs on a Debian bookworm machine, run as root.
# Idempotent: packages already present are left alone, and 32-bit emulation is set up
# only where the kernel cannot run 32-bit programs itself.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=apt-install.sh
. "$here/apt-install.sh"

[ "$(id -u)" -eq 0 ] || fail "run as root (apt-get and binfmt_misc need it)"
command -v apt-get >/dev/null || fail "apt-get not found: this script targets Debian"

export DEBIAN_FRONTEND=noninteractive

# The Debian mirror this machine already uses (deb822 or one-line format).
debian_mirror() {
    local f uri
    for f in /etc/apt/sources.list.d/*.sources; do
        [ -f "$f" ] || continue
        uri=$(awk '/^URIs:/{u=$2} /^Suites:/{ if ($0 ~ /bookworm( |$)/ && u != "") { print u; exit } }' "$f")
        [ -n "$uri" ] && { echo "$uri"; return; }
    done
    for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
        [ -f "$f" ] || continue
        uri=$(awk '$1=="deb" && $0 ~ / bookworm / { for (i=2;i<=NF;i++) if ($i ~ /^[a-z]+:\/\//) { print $i; exit } }' "$f")
        [ -n "$uri" ] && { echo "$uri"; return; }
    done
}

if ! dpkg --print-foreign-architectures | grep -qx i386; then
    say "adding the i386 architecture"
    dpkg --add-architecture i386
    apt_updated=0
fi

install_packages cmake ninja-build make g++ clang libclang-rt-14-dev llvm \
    googletest libbenchmark-dev libasio-dev python3 \
    g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix mingw-w64-tools binutils-mingw-w64 \
    wine wine64 wine32:i386 zip unzip procps wixl osslsigncode openssl

# Can this kernel run 32-bit programs? Debian's 32-bit Wine loader is one.
runs_32bit() { /usr/lib/wine/wine --version >/dev/null 2>&1; }

if ! runs_32bit; then
    say "the kernel cannot run 32-bit programs: setting up qemu-user's i386 emulator"
    if ! apt-cache policy 2>/dev/null | grep -q 'bookworm-backports'; then
        mirror=$(debian_mirror)
        [ -n "$mirror" ] || fail "no Debian bookworm mirror found in the apt sources to add bookworm-backports from"
        say "adding bookworm-backports from $mirror"
        cat >/etc/apt/sources.list.d/vrlcom-backports.sources <<SRC
Types: deb
URIs: $mirror
Suites: bookworm-backports
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
SRC
        apt_updated=0
    fi
    qemu_ver=$(dpkg-query -W -f='${Version}' qemu-user 2>/dev/null || true)
    if [ -z "$qemu_ver" ] || dpkg --compare-versions "$qemu_ver" lt 1:10; then
        apt_install -t bookworm-backports qemu-user
    fi
    qemu=$(command -v qemu-i386 || command -v qemu-i386-static || true)
    [ -n "$qemu" ] || fail "qemu-i386 not found after installing qemu-user"
    if [ ! -e /proc/sys/fs/binfmt_misc/register ]; then
        mount -t binfmt_misc binfmt_misc /proc/sys/fs/binfmt_misc \
            || fail "cannot mount binfmt_misc"
    fi
    for old in /proc/sys/fs/binfmt_misc/qemu-i386 /proc/sys/fs/binfmt_misc/vrlcom-i386; do
        [ -e "$old" ] && echo -1 >"$old"
    done
    # i386 ELF executables and shared objects (e_type 2 or 3), opened now (F) so it works in any mount namespace.
    magic='\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00'
    mask='\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff'
    printf ':vrlcom-i386:M::%s:%s:%s:F\n' "$magic" "$mask" "$qemu" >/proc/sys/fs/binfmt_misc/register \
        || fail "cannot register $qemu with binfmt_misc"
    runs_32bit || fail "32-bit programs still do not run through $qemu"
    say "32-bit programs run through $qemu"
fi

say "ready"
