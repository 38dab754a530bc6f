# What ships to integrators: the DLL and its type library per architecture (x86/, x64/), the x86
# gateway simulator and client (tools/), the C/C++ header with the id file, the examples and the
# README. `cmake --install` puts one architecture's share under the prefix; scripts/package.sh
# installs both and makes the ZIP with CPack (VRL_PACKAGE_WITH names the other architecture's build
# tree), the MSIs and the symbols ZIP.
if(NOT WIN32)
    return()
endif()

include(cmake/ComponentIds.cmake)

# What ships carries no debug information and no symbol table: each file's goes to FILE.debug,
# which the stripped file names in its .gnu_debuglink section. Beside the DLL, the assembly manifest
# for registration-free use, and an application's manifest that depends on it (for the tests and
# as an example). The programs for integrators go to release/tools.
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
    add_custom_command(
        OUTPUT ${folder}/${file} ${folder}/${file}.debug
        COMMAND ${CMAKE_COMMAND} -E make_directory ${folder}
        COMMAND ${CMAKE_OBJCOPY} --only-keep-debug $<TARGET_FILE:${target}> ${folder}/${file}.debug
        COMMAND ${CMAKE_OBJCOPY} --strip-all --add-gnu-debuglink=${file}.debug
                $<TARGET_FILE:${target}> ${file}
        DEPENDS ${target}
        WORKING_DIRECTORY ${folder}
        COMMENT "${file} without debug information, and ${file}.debug"
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
    set(folder ${CMAKE_BINARY_DIR}/${target})
    configure_file(${CMAKE_SOURCE_DIR}/resources/VRLCOM.wxs.in ${folder}/VRLCOM.wxs @ONLY)
    # wixl takes its sources relative to where it runs: the files are gathered there first.
    add_custom_command(
        OUTPUT ${msi}
        COMMAND ${CMAKE_COMMAND} -E copy ${VRL_RELEASE_DIR}/VRLCOM.DLL ${CMAKE_BINARY_DIR}/include/VRLCOM.tlb
                ${CMAKE_SOURCE_DIR}/README.md ${vrl_programs} ${folder}
        COMMAND ${VRL_WIXL} -a ${VRL_ARCH} -o ${msi} VRLCOM.wxs
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
