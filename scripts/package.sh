#!/usr/bin/env bash
# Builds VRLCOM.DLL for x86 and x64 and makes what ships to integrators, in build/package:
#   VRLCOM-<version>.zip          both DLLs (without debug information) with their assembly
#                                 manifests and type libraries, the x86 gateway simulator and
#                                 client (tools/), the C/C++ header and id file, the examples and
#                                 the README
#   VRLCOM-<version>-x86.msi      the installers, one per architecture, each with the programs
#   VRLCOM-<version>-x64.msi      of its architecture
#   VRLCOM-<version>-symbols.zip  the PDBs of both DLLs and of both architectures' programs, in the
#                                 layout a symbol server serves (VRLCOM.pdb/<GUID><age>/VRLCOM.pdb)
#   SHA256SUMS                    the SHA-256 of each of the four
#
#   bash scripts/package.sh [--certificate CERT.pem --key KEY.pem]
#   bash scripts/package.sh --check-reproducible
# With a certificate and its key, the DLLs, the programs and the MSIs are signed with Authenticode
# (scripts/sign.sh; VRL_SIGN_PASSWORD and VRL_SIGN_TIMESTAMP are passed on); without, nothing is
# signed. VRL_BUILD_ROOT picks another directory for the build trees (default: build). The same
# commit makes the same bytes: file times are the commit's (SOURCE_DATE_EPOCH, from the commit when
# not set). --check-reproducible packages the commit checked out (unsigned) twice, from two copies
# in two folders, one built inside its copy and one outside, and compares what they made.
set -euo pipefail
cd "$(dirname "$0")/.."

certificate="" key="" reproducible=0
while [ $# -gt 0 ]; do
    case "$1" in
        --certificate) certificate=$(realpath "$2"); shift 2 ;;
        --key) key=$(realpath "$2"); shift 2 ;;
        --check-reproducible) reproducible=1; shift ;;
        *) echo "usage: package.sh [--certificate CERT.pem --key KEY.pem] [--check-reproducible]" >&2; exit 2 ;;
    esac
done
if { [ -n "$certificate" ] && [ -z "$key" ]; } || { [ -z "$certificate" ] && [ -n "$key" ]; }; then
    echo "package.sh: --certificate and --key go together" >&2
    exit 2
fi
export SOURCE_DATE_EPOCH=${SOURCE_DATE_EPOCH:-$(git log -1 --format=%ct)}

if [ "$reproducible" = 1 ]; then
    commit=$(git rev-parse HEAD)
    work=$(mktemp -d)
    trap 'rm -rf "$work"' EXIT
    mkdir -p "$work/one" "$work/second/VRLCOM-copy"
    for copy in one second/VRLCOM-copy; do
        root=$work/$copy/build
        [ "$copy" = one ] || root=$work/second-build
        git archive "$commit" | tar -x -C "$work/$copy"
        echo "package: $commit in $work/$copy, built in $root"
        VRL_BUILD_ROOT=$root bash "$work/$copy/scripts/package.sh" >"$work/$(basename "$copy").log" 2>&1 \
            || { tail -n 40 "$work/$(basename "$copy").log"; exit 1; }
        (cd "$root" && sha256sum package/VRLCOM-* win{32,64}/release/VRLCOM.DLL win{32,64}/release/tools/*.exe \
            $(find win32/release/symbols win64/release/symbols -type f | LC_ALL=C sort)) >"$work/$(basename "$copy").sums"
    done
    cat "$work/one.sums"
    diff "$work/one.sums" "$work/VRLCOM-copy.sums" || { echo "package: the two builds differ" >&2; exit 1; }
    echo "package: both builds of $commit are byte for byte the same"
    exit 0
fi

bash scripts/bootstrap.sh >/dev/null
root=$(realpath -m "${VRL_BUILD_ROOT:-build}")
out=$root/package
staging=""
# Nothing of the build trees' Wine is left running, on success or failure.
trap 'rm -rf "$staging"; bash scripts/stop-wineservers.sh "$root/win32" "$root/win64"' EXIT
mkdir -p "$out"
log=$out/package.log
: >"$log"
fail() { tail -n 40 "$log"; echo "package: $*" >&2; exit 1; }

for preset in win64 win32; do
    extra=()
    # The x86 tree makes the ZIP and takes the x64 tree's files along.
    [ "$preset" = win32 ] && extra=(-DVRL_PACKAGE_WITH="$root/win64")
    echo "package: building $preset"
    # What ships is made anew from the build, so that no earlier signature stays on it.
    rm -f "$root/$preset/release/VRLCOM.DLL" "$root/$preset"/release/tools/*.exe
    cmake --preset "$preset" -B "$root/$preset" "${extra[@]}" >>"$log" 2>&1 \
        && cmake --build "$root/$preset" -j2 --target vrlcom vrl_release >>"$log" 2>&1 \
        || fail "building $preset"
done

sign() {
    [ -n "$certificate" ] || return 0
    echo "package: signing $(basename -a "$@" | tr '\n' ' ')"
    bash scripts/sign.sh "$certificate" "$key" "$@" >>"$log" 2>&1 || fail "signing"
}

# The DLLs and programs are signed before the MSIs take them in.
sign "$root"/win{32,64}/release/VRLCOM.DLL "$root"/win{32,64}/release/tools/gateway_{simulator,client}.exe
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$root/win32/CMakeCache.txt")
for preset in win64 win32; do
    cmake --build "$root/$preset" -j2 --target vrl_msi >>"$log" 2>&1 || fail "building the $preset MSI"
done
cp "$root/win32/package/VRLCOM-$version-x86.msi" "$root/win64/package/VRLCOM-$version-x64.msi" "$out/"
sign "$out/VRLCOM-$version-x86.msi" "$out/VRLCOM-$version-x64.msi"

# A ZIP of FOLDER's files, made the same from the same files: by name in byte order, each with the
# commit's time (in UTC) and the same permissions, and no extra fields (owner, other times).
zip_same() {
    local zip=$1 folder=$2
    rm -f "$zip"
    chmod -R u=rwX,go=rX "$folder"
    find "$folder" -exec touch -h -d "@$SOURCE_DATE_EPOCH" {} +
    (cd "$folder" && find . -type f | sed 's|^\./||' | LC_ALL=C sort | TZ=UTC zip -q -9 -X -D "$zip" -@)
}
staging=$(mktemp -d)
echo "package: cpack"
zip_file=$out/VRLCOM-$version.zip
symbols=$out/VRLCOM-$version-symbols.zip
(cd "$root/win32" && cpack -G ZIP -B "$staging/cpack" >>"$log" 2>&1) || fail "cpack"
unzip -q "$staging/cpack/VRLCOM-$version.zip" -d "$staging/zip" || fail "cpack's ZIP"
zip_same "$zip_file" "$staging/zip" || fail "ZIP"

# The PDBs of both trees, in one symbol server layout: the GUIDs keep the architectures apart.
mkdir -p "$staging/symbols"
cp -R "$root"/win32/release/symbols/. "$root"/win64/release/symbols/. "$staging/symbols/"
zip_same "$symbols" "$staging/symbols" || fail "symbols ZIP"

# The package must hold both architectures' DLLs and the x86 programs, each of its own machine type
# and stripped, and the symbols ZIP the PDB that each of them and the x64 programs name.
listing=$(unzip -Z1 "$zip_file")
top=VRLCOM-$version
for file in x86/VRLCOM.DLL x86/VRLCOM.tlb x86/VRLCOM.manifest x64/VRLCOM.DLL x64/VRLCOM.tlb \
            x64/VRLCOM.manifest include/VRLCOM.h include/VRLCOM_i.c include/vrl_platform.h \
            examples/send_and_query.vbs examples/send_and_query.js examples/cpp/early_bound_client.cpp README.md \
            tools/gateway_simulator.exe tools/gateway_client.exe; do
    grep -qx "$top/$file" <<<"$listing" || fail "$file missing from $zip_file"
done
symbols_listing=$(unzip -Z1 "$symbols")
check=$staging/check
unzip -q "$zip_file" "$top/x86/VRLCOM.DLL" "$top/x64/VRLCOM.DLL" "$top/tools/*" -d "$check"
for file in x86/VRLCOM.DLL x64/VRLCOM.DLL tools/gateway_simulator.exe tools/gateway_client.exe \
            "$root"/win64/release/tools/gateway_{simulator,client}.exe; do
    path=$check/$top/$file
    [ "${file:0:1}" = / ] && path=$file file=x64/${file##*/}
    objdump=i686-w64-mingw32-objdump format=pei-i386
    [ "${file%%/*}" = x64 ] && objdump=x86_64-w64-mingw32-objdump format=pei-x86-64
    "$objdump" -f "$path" | grep -q "file format $format" || fail "$file is no $format file"
    "$objdump" -h "$path" | grep -q '\.debug_' && fail "$file carries debug information"
    record=$("$objdump" -p "$path" | sed -n 's/.*format RSDS signature \([0-9a-f]*\) age \([0-9]*\) pdb \([^)]*\)).*/\3\/\1\2\/\3/p')
    [ -n "$record" ] && grep -qix "$record" <<<"$symbols_listing" || fail "$file: its PDB ($record) is missing from $symbols"
done

artifacts=("VRLCOM-$version.zip" "VRLCOM-$version-x86.msi" "VRLCOM-$version-x64.msi" "VRLCOM-$version-symbols.zip")
(cd "$out" && sha256sum "${artifacts[@]}" >SHA256SUMS && sha256sum --quiet -c SHA256SUMS) || fail "SHA256SUMS"

echo "package: $out"
(cd "$out" && ls -l "${artifacts[@]}" SHA256SUMS) | sed "s|^|  |"
