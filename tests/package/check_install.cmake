# Installs a built tree into a fresh directory and checks that everything an integrator needs is
# there: the stripped DLL with its assembly manifest and the type library of this architecture, the
# header, the id file, the examples and the README; that the DLL exports the five entry points by
# their plain names and carries no debug information but a link to its debug file, which has it;
# that the DLL and the programs are hardened.
# Run with -DBUILD_DIR=<tree> -DRELEASE_DIR=<tree>/release -DARCH=<x86|x64> -DOBJDUMP=<objdump>
# -DNM=<nm> -DSOURCE_DIR=<sources> -DPROGRAMS=<executables> -DOUT=<scratch directory>.
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

# ASLR and DEP (on x64 over the whole address space), no MinGW runtime DLL to import (libssp is
# linked in), every compile unit of ours built with the stack protector, and its check in the code:
# calls to __stack_chk_fail, more than libssp's own one.
function(vrl_check_hardened binary symbols)
    vrl_objdump(-p ${binary} headers)
    set(flags DYNAMIC_BASE NX_COMPAT)
    if(ARCH STREQUAL x64)
        list(APPEND flags HIGH_ENTROPY_VA)
    endif()
    foreach(flag ${flags})
        if(NOT headers MATCHES "\n\t+${flag}\n")
            message(FATAL_ERROR "${binary}: no ${flag} in DllCharacteristics")
        endif()
    endforeach()
    if(headers MATCHES "DLL Name: (lib[^\n]*)")
        message(FATAL_ERROR "${binary} imports ${CMAKE_MATCH_1}")
    endif()
    execute_process(COMMAND ${OBJDUMP} --dwarf=info ${symbols} COMMAND grep -E "DW_AT_(producer|name.*line string)"
        OUTPUT_VARIABLE units)
    string(FIND "${units}" ${SOURCE_DIR}/ ours)
    if(ours EQUAL -1)
        message(FATAL_ERROR "${symbols}: no compile unit of ours in its debug information")
    endif()
    string(REGEX MATCHALL "producer[^\n]*\n[^\n]*" units "${units}")
    foreach(unit ${units})
        string(FIND "${unit}" ${SOURCE_DIR}/ ours)
        if(ours GREATER -1 AND NOT unit MATCHES "-fstack-protector-strong")
            message(FATAL_ERROR "${symbols}: built without the stack protector:\n${unit}")
        endif()
    endforeach()
    execute_process(COMMAND ${NM} ${symbols} OUTPUT_VARIABLE symbol_table)
    if(NOT symbol_table MATCHES "0*([1-9a-f][0-9a-f]*) T _?__stack_chk_fail\n")
        message(FATAL_ERROR "${symbols}: no __stack_chk_fail")
    endif()
    execute_process(COMMAND ${OBJDUMP} -d ${binary} COMMAND grep -cE "call +(0x)?${CMAKE_MATCH_1}( |$)"
        OUTPUT_VARIABLE calls OUTPUT_STRIP_TRAILING_WHITESPACE)
    if(NOT calls GREATER 1)
        message(FATAL_ERROR "${binary}: ${calls} calls to __stack_chk_fail")
    endif()
endfunction()
vrl_check_hardened(${OUT}/${ARCH}/VRLCOM.DLL ${RELEASE_DIR}/VRLCOM.DLL.debug)
foreach(program ${PROGRAMS})
    vrl_check_hardened(${program} ${program})
endforeach()
file(REMOVE_RECURSE ${OUT})
