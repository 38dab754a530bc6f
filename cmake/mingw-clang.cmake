# The Windows toolchains: clang and lld for VRL_MINGW (i686- or x86_64-w64-mingw32), which write the
# debug information as CodeView into PDBs, the format Windows debuggers read; the SDK, the C++
# library, libssp and the threads library are the MinGW GCC's, linked statically as before, and
# widl, windres and objdump its binutils'.
set(CMAKE_C_COMPILER   clang)
set(CMAKE_CXX_COMPILER clang++)
set(CMAKE_C_COMPILER_TARGET   ${VRL_MINGW})
set(CMAKE_CXX_COMPILER_TARGET ${VRL_MINGW})
set(CMAKE_RC_COMPILER  ${VRL_MINGW}-windres)
set(CMAKE_OBJDUMP      ${VRL_MINGW}-objdump)
set(VRL_WIDL           ${VRL_MINGW}-widl)

# clang does not take Debian's GCC folder (named 12-posix) for a version: its C++ headers and
# libraries are named here, the headers as system ones so that their warnings are not ours. GCC
# predefines for these targets that type_info's equality is not inline, as libstdc++ was built:
# clang is told so too, or its inline copy collides with libstdc++'s.
file(GLOB vrl_gcc_dirs /usr/lib/gcc/${VRL_MINGW}/*-posix)
list(GET vrl_gcc_dirs -1 vrl_gcc)
set(vrl_cxx ${vrl_gcc}/include/c++)
set(CMAKE_CXX_FLAGS_INIT "-isystem ${vrl_cxx} -isystem ${vrl_cxx}/${VRL_MINGW} -isystem ${vrl_cxx}/backward")
string(APPEND CMAKE_CXX_FLAGS_INIT " -D__GXX_TYPEINFO_EQUALITY_INLINE=0")
# -B: GCC's crtbegin.o and crtend.o too, not the MinGW runtime's own: on x86 they register the DWARF
# unwind tables with libgcc's unwinder, without which no C++ exception is ever caught.
foreach(kind EXE SHARED MODULE)
    set(CMAKE_${kind}_LINKER_FLAGS_INIT "-fuse-ld=lld -L${vrl_gcc} -B${vrl_gcc}")
endforeach()

set(CMAKE_FIND_ROOT_PATH /usr/${VRL_MINGW})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
