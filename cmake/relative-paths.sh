#!/usr/bin/env bash
# relative-paths.sh SOURCE BUILD COMMAND [ARGS...]
# Runs a compile or link of the Windows builds with every path into the build tree made relative to
# it (the commands run there) and every path into the source tree made relative to src, the link to
# it in the build tree. The compiler and the linker write their command lines into the debug
# information: so that no folder of the machine does, and the same commit gives the same PDBs
# wherever it is built. Macro definitions keep their paths: tests name files they open at run time,
# from another folder, and what ships defines none.
source=$1 build=$2
shift 2
args=()
for arg in "$@"; do
    if [[ $arg != -D* ]]; then
        arg=${arg//"$build/"/}
        arg=${arg//"$source/"/src/}
    fi
    args+=("$arg")
done
exec "${args[@]}"
