# What ships to integrators: the DLL and its type library per architecture (x86/, x64/), the x86
# gateway simulator and client (tools/), the C/C++ header with the id file, the examples and the
# README. `cmake --install` puts one architecture's share under the prefix; scripts/package.sh
# installs both and makes the ZIP with CPack (VRL_PACKAGE_WITH names the other architecture's build
# tree), the MSIs and the symbols ZIP.
if(NOT WIN32)
    return()
endif()

include(cmake/ComponentIds.cmake)

# What ships carries no debug information and no symbol table: the linker writes each file's into a
# PDB and names it, by file name alone, in the file's CodeView record (GUID and age); the DWARF that
# the MinGW runtime's own objects bring along is stripped, and nothing reads it. The PDBs go to
# release/symbols in the layout a symbol server serves (NAME.pdb/<GUID><age>/NAME.pdb), which the
# symbols ZIP holds. Beside the DLL, the assembly manifest for registration-free use, and an
# application's manifest that depends on it (for the tests and as an example). The programs for
# integrators go to release/tools.
find_program(VRL_PDBUTIL llvm-pdbutil)
if(NOT VRL_PDBUTIL)
    message(FATAL_ERROR "llvm-pdbutil not found: run scripts/bootstrap.sh")
endif()
set(VRL_RELEASE_DIR ${CMAKE_BINARY_DIR}/release)
if(VRL_ARCH STREQUAL x64)
    set(VRL_MANIFEST_ARCH amd64)
else()
    set(VRL_MANIFEST_ARCH x86)
endif()
# The platform's proxy for automation-compatible interfaces, which registering the type library
# names for IVorel, and which the assembly manifest names for it as well.
set(VRL_AUTOMATION_PROXY "{00020424-0000-0000-C000-000000000046}")
configure_file(${CMAKE_SOURCE_DIR}/resources/VRLCOM.manifest.in ${VRL_RELEASE_DIR}/VRLCOM.manifest @ONLY)
configure_file(${CMAKE_SOURCE_DIR}/resources/client.exe.manifest.in ${VRL_RELEASE_DIR}/client.exe.manifest @ONLY)
set(vrl_stripped)
set(vrl_programs)
foreach(target vrlcom gateway_simulator gateway_client)
    if(target STREQUAL vrlcom)
        set(file VRLCOM.DLL)
        set(folder ${VRL_RELEASE_DIR})
    else()
        set(file ${target}.exe)
        set(folder ${VRL_RELEASE_DIR}/tools)
        list(APPEND vrl_programs ${folder}/${file})
    endif()
    target_link_options(${target} PRIVATE -Wl,--pdb= -Wl,--Xlink=-pdbaltpath:%_PDB%)
    set(pdb $<TARGET_FILE_DIR:${target}>/$<TARGET_FILE_BASE_NAME:${target}>.pdb)
    add_custom_command(
        OUTPUT ${folder}/${file}
        COMMAND ${CMAKE_COMMAND} -E make_directory ${folder}
        COMMAND ${CMAKE_OBJCOPY} --strip-all $<TARGET_FILE:${target}> ${folder}/${file}
        COMMAND ${CMAKE_COMMAND} -DPDB=${pdb} -DPDBUTIL=${VRL_PDBUTIL} -DSTORE=${VRL_RELEASE_DIR}/symbols
                -P ${CMAKE_SOURCE_DIR}/cmake/symbol-store.cmake
        DEPENDS ${target}
        COMMENT "${file}, and its PDB in release/symbols"
        VERBATIM)
    list(APPEND vrl_stripped ${folder}/${file})
endforeach()
add_custom_target(vrl_release ALL DEPENDS ${vrl_stripped})

# The MSI of this architecture, built with wixl from a source generated here. Its upgrade code and
# component ids are name-based ids in the type library's namespace: fixed for every build, distinct
# per architecture, and written nowhere by hand.
find_program(VRL_WIXL wixl)
if(NOT VRL_WIXL)
    message(FATAL_ERROR "wixl not found: run scripts/bootstrap.sh")
endif()
string(REGEX REPLACE "[{}]" "" vrl_namespace ${VRL_LIBID})
foreach(id UPGRADE_CODE LIBRARY_COMPONENT TLB_COMPONENT README_COMPONENT SIMULATOR_COMPONENT CLIENT_COMPONENT)
    string(UUID VRL_${id} NAMESPACE ${vrl_namespace} NAME "VRLCOM ${VRL_ARCH} ${id}" TYPE SHA1 UPPER)
    set(VRL_${id} "{${VRL_${id}}}")
endforeach()
if(VRL_ARCH STREQUAL x64)
    set(VRL_PROGRAM_FILES ProgramFiles64Folder)
    set(VRL_WIN64 yes)
    set(VRL_SYSKIND win64)
else()
    set(VRL_PROGRAM_FILES ProgramFilesFolder)
    set(VRL_WIN64 no)
    set(VRL_SYSKIND win32)
endif()
# The library's flags as the platform registers a library loaded from a file: none of its own, and
# LIBFLAG_FHASDISKIMAGE (8).
set(VRL_LIB_FLAGS 8)

# vrl_add_msi(TARGET VERSION MSI): the MSI of this architecture for product version VERSION, built
# by TARGET from a source generated in a folder of its own.
function(vrl_add_msi target version msi)
    set(PROJECT_VERSION ${version})
    # The product and package codes follow the version and the architecture: a new version is a new
    # product (which the major upgrade replaces), and one version's package is made anew the same.
    foreach(id PRODUCT_CODE PACKAGE_CODE)
        string(UUID VRL_${id} NAMESPACE ${vrl_namespace} NAME "VRLCOM ${VRL_ARCH} ${version} ${id}" TYPE SHA1 UPPER)
        set(VRL_${id} "{${VRL_${id}}}")
    endforeach()
    set(folder ${CMAKE_BINARY_DIR}/${target})
    configure_file(${CMAKE_SOURCE_DIR}/resources/VRLCOM.wxs.in ${folder}/VRLCOM.wxs @ONLY)
    # wixl takes its sources relative to where it runs: the files are gathered there first, with
    # the commit's time, which the cabinet keeps. wixl's package code and times are then replaced.
    add_custom_command(
        OUTPUT ${msi}
        COMMAND ${CMAKE_COMMAND} -E copy ${VRL_RELEASE_DIR}/VRLCOM.DLL ${CMAKE_BINARY_DIR}/include/VRLCOM.tlb
                ${CMAKE_SOURCE_DIR}/README.md ${vrl_programs} ${folder}
        COMMAND touch -d @${VRL_SOURCE_DATE_EPOCH} VRLCOM.DLL VRLCOM.tlb README.md gateway_simulator.exe
                gateway_client.exe
        COMMAND ${CMAKE_COMMAND} -E env TZ=UTC ${VRL_WIXL} -a ${VRL_ARCH} -o ${msi} VRLCOM.wxs
        COMMAND ${CMAKE_SOURCE_DIR}/cmake/msi-summary.py ${msi} ${VRL_PACKAGE_CODE} ${VRL_SOURCE_DATE_EPOCH}
        DEPENDS vrl_release ${vrl_stripped} ${folder}/VRLCOM.wxs ${CMAKE_SOURCE_DIR}/README.md vrl_typelib
        WORKING_DIRECTORY ${folder}
        COMMENT "wixl: ${msi}"
        VERBATIM)
    add_custom_target(${target} ALL DEPENDS ${msi})
endfunction()

set(VRL_MSI ${CMAKE_BINARY_DIR}/package/VRLCOM-${PROJECT_VERSION}-${VRL_ARCH}.msi)
vrl_add_msi(vrl_msi ${PROJECT_VERSION} ${VRL_MSI})

install(FILES ${VRL_RELEASE_DIR}/VRLCOM.DLL ${VRL_RELEASE_DIR}/VRLCOM.manifest
    ${CMAKE_BINARY_DIR}/include/VRLCOM.tlb DESTINATION ${VRL_ARCH})
install(FILES
    ${CMAKE_BINARY_DIR}/include/VRLCOM.h
    ${CMAKE_BINARY_DIR}/include/VRLCOM_i.c
    ${CMAKE_BINARY_DIR}/include/vrl_platform.h
    DESTINATION include)
install(DIRECTORY ${CMAKE_SOURCE_DIR}/examples/ DESTINATION examples
    PATTERN CMakeLists.txt EXCLUDE)
install(FILES ${CMAKE_SOURCE_DIR}/README.md DESTINATION .)
# The x86 programs run on every Windows: only they ship in the ZIP (each MSI carries its own).
if(VRL_ARCH STREQUAL x86)
    install(FILES ${vrl_programs} DESTINATION tools)
endif()

set(VRL_PACKAGE_WITH "" CACHE PATH "Build tree of the other architecture, packaged alongside this one")
set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME VRLCOM)
set(CPACK_PACKAGE_VENDOR VRLCOM)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}: send short text messages through a gateway from COM hosts")
set(CPACK_PACKAGE_FILE_NAME VRLCOM-${PROJECT_VERSION})
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
set(CPACK_INSTALL_CMAKE_PROJECTS "${CMAKE_BINARY_DIR};VRLCOM;ALL;/")
if(VRL_PACKAGE_WITH)
    list(APPEND CPACK_INSTALL_CMAKE_PROJECTS "${VRL_PACKAGE_WITH};VRLCOM;ALL;/")
endif()
include(CPack)
