#!/usr/bin/env bash
# Builds VRLCOM.DLL for x86 and x64 and makes the ZIP that ships to integrators: both DLLs with
# their type libraries, the C/C++ header and id file, the examples and the README.
#   bash scripts/package.sh            -> build/package/VRLCOM-<version>.zip
# VRL_BUILD_ROOT picks another directory for the build trees (default: build).
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/bootstrap.sh >/dev/null
root=$(realpath -m "${VRL_BUILD_ROOT:-build}")
mkdir -p "$root/package"
log=$root/package/package.log
: >"$log"

for preset in win64 win32; do
    extra=()
    # The x86 tree makes the package and takes the x64 tree's files along.
    [ "$preset" = win32 ] && extra=(-DVRL_PACKAGE_WITH="$root/win64")
    echo "package: building $preset"
    cmake --preset "$preset" -B "$root/$preset" "${extra[@]}" >>"$log" 2>&1 \
        && cmake --build "$root/$preset" -j2 --target vrlcom >>"$log" 2>&1 \
        || { tail -n 40 "$log"; exit 1; }
done

echo "package: cpack"
(cd "$root/win32" && cpack -G ZIP -B "$root/package" >>"$log" 2>&1) || { tail -n 40 "$log"; exit 1; }
zip_file=$(ls -t "$root"/package/VRLCOM-*.zip | head -n 1)

# The package must hold both architectures' DLLs, each of its own machine type.
listing=$(unzip -Z1 "$zip_file")
top=$(basename "$zip_file" .zip)
for file in x86/VRLCOM.DLL x86/VRLCOM.tlb x64/VRLCOM.DLL x64/VRLCOM.tlb include/VRLCOM.h \
            include/VRLCOM_i.c include/vrl_platform.h examples/send_and_query.vbs \
            examples/send_and_query.js examples/cpp/early_bound_client.cpp README.md; do
    grep -qx "$top/$file" <<<"$listing" || { echo "package: $file missing from $zip_file"; exit 1; }
done
check=$(mktemp -d)
trap 'rm -rf "$check"' EXIT
unzip -q "$zip_file" "$top/x86/VRLCOM.DLL" "$top/x64/VRLCOM.DLL" -d "$check"
i686-w64-mingw32-objdump -f "$check/$top/x86/VRLCOM.DLL" | grep -q 'file format pei-i386' \
    || { echo "package: x86/VRLCOM.DLL is no x86 DLL"; exit 1; }
x86_64-w64-mingw32-objdump -f "$check/$top/x64/VRLCOM.DLL" | grep -q 'file format pei-x86-64' \
    || { echo "package: x64/VRLCOM.DLL is no x64 DLL"; exit 1; }

echo "package: $zip_file"
sed "s|^|  |" <<<"$listing"
