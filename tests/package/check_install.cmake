# Installs a built tree into a fresh directory and checks that everything an integrator needs is
# there: the stripped DLL with its assembly manifest and the type library of this architecture, the
# header, the id file, the examples and the README; that the DLL exports the five entry points by
# their plain names and carries no debug information but a link to its debug file, which has it;
# that the DLL and the programs are hardened.
# Run with -DBUILD_DIR=<tree> -DRELEASE_DIR=<tree>/release -DARCH=<x86|x64> -DOBJDUMP=<objdump>
# -DNM=<nm> -DPROGRAMS=<executables> -DOUT=<scratch directory>.
file(REMOVE_RECURSE ${OUT})
execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${OUT}
    RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output)
if(NOT result EQUAL 0)
    message(FATAL_ERROR "cmake --install failed:\n${output}")
endif()
foreach(file
        ${ARCH}/VRLCOM.DLL ${ARCH}/VRLCOM.tlb ${ARCH}/VRLCOM.manifest
        include/VRLCOM.h include/VRLCOM_i.c include/vrl_platform.h
        examples/send_and_query.vbs examples/send_and_query.js examples/cpp/early_bound_client.cpp
        examples/snippets/vba_module.bas examples/snippets/powershell.ps1 examples/snippets/dotnet.cs
        README.md)
    if(NOT EXISTS ${OUT}/${file})
        message(FATAL_ERROR "not installed: ${file}")
    endif()
endforeach()
# The installed DLL is the stripped one, and nothing of the build (tests, libraries, debug files)
# came along.
file(SHA256 ${OUT}/${ARCH}/VRLCOM.DLL installed)
file(SHA256 ${RELEASE_DIR}/VRLCOM.DLL built)
if(NOT installed STREQUAL built)
    message(FATAL_ERROR "the installed VRLCOM.DLL differs from ${RELEASE_DIR}/VRLCOM.DLL")
endif()
file(GLOB_RECURSE everything RELATIVE ${OUT} ${OUT}/*)
foreach(file ${everything})
    if(file MATCHES "\\.(exe|a|obj|debug)$" OR file MATCHES "CMakeLists.txt$")
        message(FATAL_ERROR "installed by mistake: ${file}")
    endif()
endforeach()

function(vrl_objdump option file out)
    execute_process(COMMAND ${OBJDUMP} ${option} ${file} RESULT_VARIABLE result OUTPUT_VARIABLE text
        ERROR_VARIABLE text)
    if(NOT result EQUAL 0)
        message(FATAL_ERROR "objdump ${option} ${file} failed:\n${text}")
    endif()
    set(${out} "${text}" PARENT_SCOPE)
endfunction()

vrl_objdump(-h ${OUT}/${ARCH}/VRLCOM.DLL sections)
if(sections MATCHES "\\.debug_")
    message(FATAL_ERROR "the shipped VRLCOM.DLL carries debug information:\n${sections}")
endif()
if(NOT sections MATCHES "\\.gnu_debuglink")
    message(FATAL_ERROR "the shipped VRLCOM.DLL has no link to its debug file:\n${sections}")
endif()
vrl_objdump(-h ${RELEASE_DIR}/VRLCOM.DLL.debug debug_sections)
if(NOT debug_sections MATCHES "\\.debug_info")
    message(FATAL_ERROR "VRLCOM.DLL.debug holds no debug information")
endif()
vrl_objdump("-s;--section=.gnu_debuglink" ${OUT}/${ARCH}/VRLCOM.DLL link)
if(NOT link MATCHES "VRLCOM\\.DLL\\.debug")
    message(FATAL_ERROR "the debug link does not name VRLCOM.DLL.debug:\n${link}")
endif()

# Exactly the five entry points, undecorated on both architectures.
vrl_objdump(-p ${OUT}/${ARCH}/VRLCOM.DLL headers)
string(FIND "${headers}" "[Ordinal/Name Pointer] Table" start)
string(SUBSTRING "${headers}" ${start} -1 headers)
string(FIND "${headers}" "\n\n" end)
string(SUBSTRING "${headers}" 0 ${end} headers)
string(REGEX MATCHALL "\\[ *[0-9]+\\] [A-Za-z_@0-9]+" exports "${headers}")
list(TRANSFORM exports REPLACE "\\[ *[0-9]+\\] " "")
list(SORT exports)
if(NOT exports STREQUAL "DllCanUnloadNow;DllGetClassObject;DllInstall;DllRegisterServer;DllUnregisterServer")
    message(FATAL_ERROR "exports: ${exports}")
endif()

# Hardened: the loader flags DYNAMIC_BASE (0x40) and NX_COMPAT (0x100), on x64 HIGH_ENTROPY_VA (0x20)
# too; no MinGW runtime DLL imported; calls to __stack_chk_fail (its address from the symbols, the
# DLL's in its debug file), more than libssp's own one.
set(loader_flags_x86 0x140)
set(loader_flags_x64 0x160)
foreach(binary ${OUT}/${ARCH}/VRLCOM.DLL ${PROGRAMS})
    string(REPLACE ${OUT}/${ARCH}/VRLCOM.DLL ${RELEASE_DIR}/VRLCOM.DLL.debug symbols ${binary})
    vrl_objdump(-p ${binary} headers)
    string(REGEX MATCH "DllCharacteristics\t+([0-9a-f]+)" flags "${headers}")
    math(EXPR missing "${loader_flags_${ARCH}} & ~0x${CMAKE_MATCH_1}")
    if(NOT missing EQUAL 0 OR headers MATCHES "DLL Name: (lib[^\n]*)")
        message(FATAL_ERROR "${binary}: ${flags}, missing ${missing}; imports ${CMAKE_MATCH_1}")
    endif()
    execute_process(COMMAND ${NM} ${symbols} OUTPUT_VARIABLE symbol_table)
    string(REGEX MATCH "0*([1-9a-f][0-9a-f]*) T _?__stack_chk_fail\n" found "${symbol_table}")
    execute_process(COMMAND ${OBJDUMP} -d ${binary} COMMAND grep -cE "call +(0x)?${CMAKE_MATCH_1}( |$)"
        OUTPUT_VARIABLE calls OUTPUT_STRIP_TRAILING_WHITESPACE)
    if(NOT found OR NOT calls GREATER 1)
        message(FATAL_ERROR "${binary}: ${calls} calls to __stack_chk_fail (${found})")
    endif()
endforeach()
file(REMOVE_RECURSE ${OUT})
