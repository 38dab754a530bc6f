# Settings shared by every target of the project.

# Warnings are errors for our own code on every toolchain; third-party code is built without them.
add_library(vrl_warnings INTERFACE)
target_compile_options(vrl_warnings INTERFACE
    -Wall -Wextra -Wpedantic -Wshadow -Wconversion -Wsign-conversion -Wnon-virtual-dtor
    -Wold-style-cast -Wcast-align -Wnull-dereference -Werror)

option(VRL_NO_SANITIZE "Native build without AddressSanitizer and UBSan, for timing (benchmarks)" OFF)

# Native builds run everything under AddressSanitizer and UBSan, and with the standard library's own
# checks, which abort on an index past the end of a container that ASan cannot see (a std::deque's
# spare room); VRL_NO_SANITIZE turns all three off for timing. Fuzz builds add coverage
# instrumentation for libFuzzer to every library the fuzz targets link.
if(VRL_FUZZ)
    add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
    add_link_options(-fsanitize=address,undefined)
elseif(NOT WIN32 AND NOT VRL_NO_SANITIZE)
    add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
    add_compile_definitions(_GLIBCXX_ASSERTIONS)
    add_link_options(-fsanitize=address,undefined)
endif()

# The shipped binaries are hardened as integrators' scanners expect: a stack protector in every
# function with arrays or addresses of locals, and the checked forms of the C library's copies where
# the compiler knows a buffer's size (at -O1 and above). libssp provides both and is linked statically
# like the rest. Native timing builds get the same, so that the benchmarks measure what ships; the
# sanitizers' checks cover the other native builds. VRL_NO_HARDENING turns the two off, to measure
# their cost.
option(VRL_NO_HARDENING "Build without the stack protector and _FORTIFY_SOURCE, to measure their cost" OFF)
if(NOT VRL_NO_HARDENING AND (WIN32 OR VRL_NO_SANITIZE) AND NOT VRL_FUZZ)
    add_compile_options(-fstack-protector-strong)
    add_link_options(-fstack-protector-strong)
    add_compile_definitions(_FORTIFY_SOURCE=2)
endif()

if(WIN32)
    # Windows targets need no MinGW runtime DLLs beside them: the C++ library, libgcc and the threads
    # library that the C++ library calls are linked in.
    add_link_options(-static -static-libgcc -static-libstdc++ -pthread)
    # Debug information as CodeView, for the PDBs. Compiles and links see the build tree and the
    # source tree by relative paths alone (cmake/relative-paths.sh, src: the source tree), and the
    # debug information calls the build tree C:/vrlcom: no folder of the building machine is written
    # into a PDB. The link time stamp and the PDB's GUID are hashes of the content (-Brepro).
    add_compile_options($<$<COMPILE_LANGUAGE:C,CXX>:-gcodeview>
        $<$<COMPILE_LANGUAGE:C,CXX>:-ffile-compilation-dir=C:/vrlcom>)
    add_link_options(-Wl,--Xlink=-Brepro -Wl,--Xlink=-pdbsourcepath:C:/vrlcom)
    file(CREATE_LINK ${CMAKE_SOURCE_DIR} ${CMAKE_BINARY_DIR}/src SYMBOLIC)
    foreach(lang C CXX)
        set(CMAKE_${lang}_COMPILER_LAUNCHER ${CMAKE_SOURCE_DIR}/cmake/relative-paths.sh ${CMAKE_SOURCE_DIR} ${CMAKE_BINARY_DIR})
        set(CMAKE_${lang}_LINKER_LAUNCHER ${CMAKE_${lang}_COMPILER_LAUNCHER})
    endforeach()
    # ASLR and DEP, and on x64 ASLR over the whole address space: the linker's defaults, asked for
    # explicitly so that another linker's defaults cannot drop them.
    add_link_options(-Wl,--dynamicbase -Wl,--nxcompat)
    if(CMAKE_SIZEOF_VOID_P EQUAL 8)
        add_link_options(-Wl,--high-entropy-va)
    endif()
    add_compile_definitions(WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0601 WINVER=0x0601)
    # The time that generated files carry (the type library, the MSIs and their files): the
    # commit's, which scripts/package.sh sets, or else a fixed one (1980-01-01, the earliest that a
    # cabinet holds).
    set(VRL_SOURCE_DATE_EPOCH $ENV{SOURCE_DATE_EPOCH})
    if(NOT VRL_SOURCE_DATE_EPOCH)
        set(VRL_SOURCE_DATE_EPOCH 315532800)
    endif()
    # The architecture's folder in the package: x86 or x64.
    if(CMAKE_SIZEOF_VOID_P EQUAL 8)
        set(VRL_ARCH x64)
    else()
        set(VRL_ARCH x86)
    endif()
    # Test programs run under Wine, in a private prefix per architecture inside the build tree. The
    # tree's pristine prefix is booted once and never runs anything: every other prefix of the tree
    # is a copy of it, and the tests that register or install for real each get a copy of their own,
    # made afresh for each run.
    set(VRL_WINE_RUN ${CMAKE_SOURCE_DIR}/cmake/wine-run.sh)
    set(VRL_FRESH_PREFIX ${CMAKE_SOURCE_DIR}/cmake/fresh-prefix.sh)
    set(VRL_WINE_PREFIX ${CMAKE_BINARY_DIR}/wineprefix)
    set(VRL_PRISTINE_PREFIX ${CMAKE_BINARY_DIR}/wineprefix-pristine)
    set(CMAKE_CROSSCOMPILING_EMULATOR ${VRL_WINE_RUN} ${VRL_WINE_ARCH} ${VRL_WINE_PREFIX})
endif()

# vrl_add_test(NAME <name> SOURCES <files...> LIBS <targets...> [ENV <VAR=value...>] [LABELS <labels>])
# One GoogleTest program, registered with CTest as one test; on Windows toolchains it runs under Wine
# through the cross-compiling emulator.
function(vrl_add_test)
    cmake_parse_arguments(T "" "NAME;TIMEOUT" "SOURCES;LIBS;ENV;LABELS" ${ARGN})
    add_executable(${T_NAME} ${T_SOURCES})
    target_link_libraries(${T_NAME} PRIVATE ${T_LIBS} GTest::gtest_main vrl_warnings)
    add_test(NAME ${T_NAME} COMMAND ${T_NAME})
    if(NOT T_TIMEOUT)
        set(T_TIMEOUT 300)
    endif()
    set_tests_properties(${T_NAME} PROPERTIES TIMEOUT ${T_TIMEOUT})
    if(T_ENV)
        set_tests_properties(${T_NAME} PROPERTIES ENVIRONMENT "${T_ENV}")
    endif()
    if(T_LABELS)
        set_tests_properties(${T_NAME} PROPERTIES LABELS "${T_LABELS}")
    endif()
endfunction()
