# Installs a built tree into a fresh directory and checks that everything an integrator needs is
# there: the stripped DLL with its assembly manifest and the type library of this architecture, the
# header, the id file, the examples and the README, and in the x86 share the gateway simulator and
# client with the DLL's version block; that the DLL exports the five entry points by their plain
# names; that the DLL and the programs carry no debug information but a CodeView record naming
# their PDB, which the symbol server layout holds under that record's GUID and age; that the DLL
# and the programs of this architecture are hardened.
# Run with -DBUILD_DIR=<tree> -DRELEASE_DIR=<tree>/release -DARCH=<x86|x64> -DOBJDUMP=<objdump>
# -DPDBUTIL=<llvm-pdbutil> -DVERSION=<version> -DOUT=<scratch directory>.
cmake_policy(SET CMP0057 NEW)
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
# The installed DLL and programs are the stripped ones, and nothing else of the build (tests,
# libraries, debug files) came along.
set(shipped ${ARCH}/VRLCOM.DLL)
if(ARCH STREQUAL x86)
    list(APPEND shipped tools/gateway_simulator.exe tools/gateway_client.exe)
endif()
file(GLOB_RECURSE everything RELATIVE ${OUT} ${OUT}/*)
foreach(file ${everything})
    if((file MATCHES "\\.(exe|a|obj|debug)$" AND NOT file IN_LIST shipped) OR file MATCHES "CMakeLists.txt$")
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

foreach(file ${shipped})
    get_filename_component(name ${file} NAME)
    string(REGEX REPLACE "^x(86|64)/" "" built ${file})
    file(SHA256 ${OUT}/${file} installed_hash)
    file(SHA256 ${RELEASE_DIR}/${built} built_hash)
    if(NOT installed_hash STREQUAL built_hash)
        message(FATAL_ERROR "the installed ${file} differs from ${RELEASE_DIR}/${built}")
    endif()
    vrl_objdump(-h ${OUT}/${file} sections)
    if(sections MATCHES "\\.debug_")
        message(FATAL_ERROR "the shipped ${file} carries debug information:\n${sections}")
    endif()
    # The version block's texts: the product, its version, and the file's own name.
    file(STRINGS ${OUT}/${file} texts ENCODING UTF-16LE REGEX "^(VRLCOM Module|${VERSION}|${name})$")
    list(REMOVE_DUPLICATES texts)
    list(SORT texts)
    set(expected "VRLCOM Module" ${VERSION} ${name})
    list(SORT expected)
    if(NOT texts STREQUAL expected)
        message(FATAL_ERROR "the version block of ${file} holds ${texts}")
    endif()
    # The description that follows its key (among the texts that are plain words), and the fixed
    # part's file version: four little-endian words after its signature and layout version.
    file(STRINGS ${OUT}/${file} texts ENCODING UTF-16LE REGEX "^[A-Za-z][A-Za-z0-9 .,:_()-]*$")
    list(FIND texts FileDescription at)
    math(EXPR at "${at} + 1")
    list(GET texts ${at} description)
    file(READ ${OUT}/${file} image HEX)
    string(REGEX MATCH "bd04effe00000100(....)(....)(....)(....)" fixed "${image}")
    set(fixed_version)
    foreach(word ${CMAKE_MATCH_2} ${CMAKE_MATCH_1} ${CMAKE_MATCH_4} ${CMAKE_MATCH_3})
        string(REGEX REPLACE "(..)(..)" "0x\\2\\1" word ${word})
        math(EXPR word ${word})
        list(APPEND fixed_version ${word})
    endforeach()
    list(JOIN fixed_version . fixed_version)
    if(NOT description STREQUAL "${DESCRIPTION_${name}}" OR NOT fixed_version STREQUAL VERSION)
        message(FATAL_ERROR "${file}: FileDescription \"${description}\", FILEVERSION ${fixed_version}")
    endif()
endforeach()

# The assembly names the type library marshaler as IVorel's proxy, not the dispatch proxy.
file(READ ${OUT}/${ARCH}/VRLCOM.manifest manifest)
if(NOT manifest MATCHES "proxyStubClsid32=\"{00020424-0000-0000-C000-000000000046}\"")
    message(FATAL_ERROR "the assembly's proxy:\n${manifest}")
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
# too; no MinGW runtime DLL imported; calls to __stack_chk_fail (its address from the PDB's public
# symbols), more than libssp's own one. The programs are checked as both MSIs take them. Each names
# its PDB by file name alone, and the PDB at its symbol server path has the record's GUID and age.
set(loader_flags_x86 0x140)
set(loader_flags_x64 0x160)
foreach(binary VRLCOM.DLL tools/gateway_simulator.exe tools/gateway_client.exe)
    set(binary ${RELEASE_DIR}/${binary})
    vrl_objdump(-p ${binary} headers)
    string(REGEX MATCH "DllCharacteristics\t+([0-9a-f]+)" flags "${headers}")
    math(EXPR missing "${loader_flags_${ARCH}} & ~0x${CMAKE_MATCH_1}")
    if(NOT missing EQUAL 0 OR headers MATCHES "DLL Name: (lib[^\n]*)")
        message(FATAL_ERROR "${binary}: ${flags}, missing ${missing}; imports ${CMAKE_MATCH_1}")
    endif()
    get_filename_component(pdb ${binary} NAME_WE)
    string(REGEX MATCH "format RSDS signature ([0-9a-f]+) age ([0-9]+) pdb ([^)]*)\\)" record "${headers}")
    set(named "${CMAKE_MATCH_3}")
    string(TOUPPER "${CMAKE_MATCH_1}" guid)
    math(EXPR age "0${CMAKE_MATCH_2}" OUTPUT_FORMAT HEXADECIMAL)
    string(REGEX REPLACE "^0x" "" age ${age})
    string(TOUPPER ${age} age)
    set(stored ${RELEASE_DIR}/symbols/${pdb}.pdb/${guid}${age}/${pdb}.pdb)
    if(NOT named STREQUAL "${pdb}.pdb" OR NOT EXISTS ${stored})
        message(FATAL_ERROR "${binary}: CodeView records ${record}, no ${stored}")
    endif()
    execute_process(COMMAND ${PDBUTIL} dump -summary -publics ${stored} OUTPUT_VARIABLE pdb_dump)
    string(REGEX MATCH "Age: ([0-9]+)\n +GUID: {([-0-9A-F]+)}" summary "${pdb_dump}")
    string(REPLACE "-" "" pdb_guid "${CMAKE_MATCH_2}")
    if(NOT pdb_guid STREQUAL guid OR NOT CMAKE_MATCH_1 EQUAL 0x${age})
        message(FATAL_ERROR "${stored} has ${summary}, ${binary} ${record}")
    endif()
    string(REGEX MATCH "`_?__stack_chk_fail`\n +flags = function, addr = ([0-9]+):([0-9]+)" found "${pdb_dump}")
    math(EXPR section "0${CMAKE_MATCH_1} - 1")
    set(offset 0${CMAKE_MATCH_2})
    vrl_objdump(-h ${binary} sections)
    string(REGEX MATCH "\n +${section} [^ ]+ +[0-9a-f]+ +([0-9a-f]+)" start "${sections}")
    math(EXPR address "0x0${CMAKE_MATCH_1} + ${offset}" OUTPUT_FORMAT HEXADECIMAL)
    string(REGEX REPLACE "^0x" "" address ${address})
    execute_process(COMMAND ${OBJDUMP} -d ${binary} COMMAND grep -cE "call +(0x)?${address}( |$)"
        OUTPUT_VARIABLE calls OUTPUT_STRIP_TRAILING_WHITESPACE)
    if(NOT found OR NOT calls GREATER 1)
        message(FATAL_ERROR "${binary}: ${calls} calls to __stack_chk_fail (${found})")
    endif()
endforeach()
file(REMOVE_RECURSE ${OUT})
