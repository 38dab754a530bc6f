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

codename=$(release_codename)
[ -n "$codename" ] || fail "no VERSION_CODENAME in /etc/os-release"

# The Debian mirror this machine already uses for its release (deb822 or one-line format).
debian_mirror() {
    local f uri
    for f in /etc/apt/sources.list.d/*.sources; do
        [ -f "$f" ] || continue
        uri=$(awk -v r="$codename" '/^URIs:/{u=$2} /^Suites:/{ if ($0 ~ (r "( |$)") && u != "") { print u; exit } }' "$f")
        [ -n "$uri" ] && { echo "$uri"; return; }
    done
    for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
        [ -f "$f" ] || continue
        uri=$(awk -v r="$codename" '$1=="deb" && $0 ~ (" " r " ") { for (i=2;i<=NF;i++) if ($i ~ /^[a-z]+:\/\//) { print $i; exit } }' "$f")
        [ -n "$uri" ] && { echo "$uri"; return; }
    done
}

# Does this kernel refuse 32-bit x86 programs ("Exec format error"), with no emulator registered for
# them? Asked of the smallest such program (it exits 0 at once), before anything is installed.
refuses_32bit() {
    local probe out
    probe=$(mktemp) || return 1
    printf '\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00\x01\x00\x00\x00\x54\x80\x04\x08'\
'\x34\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x34\x00\x20\x00\x01\x00\x00\x00\x00\x00\x00\x00\x01\x00\x00\x00'\
'\x00\x00\x00\x00\x00\x80\x04\x08\x00\x80\x04\x08\x5b\x00\x00\x00\x5b\x00\x00\x00\x05\x00\x00\x00\x00\x10\x00\x00'\
'\x31\xdb\x31\xc0\x40\xcd\x80' >"$probe"
    chmod +x "$probe"
    out=$(LC_ALL=C; "$probe" 2>&1) || true
    rm -f "$probe"
    [[ $out == *"Exec format error"* ]]
}

# Everything the sources need is in place before the one index update: the i386 architecture, and,
# where the kernel needs qemu-user's emulator for 32-bit Wine, the backports suite for a qemu-user
# fast enough to start Wine.
if ! dpkg --print-foreign-architectures | grep -qx i386; then
    say "adding the i386 architecture"
    dpkg --add-architecture i386
fi
packages=(cmake ninja-build make g++ clang libclang-rt-14-dev llvm lld
    googletest libbenchmark-dev libasio-dev python3
    g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix mingw-w64-tools binutils-mingw-w64
    wine wine64 wine32:i386 zip unzip procps wixl osslsigncode openssl faketime)
needs_qemu=0
if refuses_32bit; then
    needs_qemu=1
    say "the kernel cannot run 32-bit programs: 32-bit Wine needs qemu-user's i386 emulator"
    if ! grep -qs "$codename-backports" /etc/apt/sources.list /etc/apt/sources.list.d/*.list /etc/apt/sources.list.d/*.sources; then
        mirror=$(debian_mirror)
        [ -n "$mirror" ] || fail "no Debian $codename mirror found in the apt sources to add $codename-backports from"
        say "adding $codename-backports from $mirror"
        cat >/etc/apt/sources.list.d/vrlcom-backports.sources <<SRC
Types: deb
URIs: $mirror
Suites: $codename-backports
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
SRC
    fi
    qemu_ver=$(dpkg-query -W -f='${Version}' qemu-user 2>/dev/null || true)
    if [ -z "$qemu_ver" ] || dpkg --compare-versions "$qemu_ver" lt 1:10; then
        packages+=("qemu-user/$codename-backports")
    fi
fi

install_packages "${packages[@]}"

if [ "$needs_qemu" -eq 1 ]; then
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
    say "32-bit programs run through $qemu"
fi
# Debian's 32-bit Wine loader must start, natively or emulated.
/usr/lib/wine/wine --version >/dev/null 2>&1 || fail "32-bit Wine does not start"

say "ready"
