# What ships to integrators: the DLL and its type library per architecture (x86/, x64/), the C/C++
# header with the id file, the examples and the README. `cmake --install` puts one architecture's
# share under the prefix; scripts/package.sh installs both and makes the ZIP with CPack
# (VRL_PACKAGE_WITH names the other architecture's build tree).
if(NOT WIN32)
    return()
endif()

install(FILES $<TARGET_FILE:vrlcom> ${CMAKE_BINARY_DIR}/include/VRLCOM.tlb DESTINATION ${VRL_ARCH})
install(FILES
    ${CMAKE_BINARY_DIR}/include/VRLCOM.h
    ${CMAKE_BINARY_DIR}/include/VRLCOM_i.c
    ${CMAKE_BINARY_DIR}/include/vrl_platform.h
    DESTINATION include)
install(DIRECTORY ${CMAKE_SOURCE_DIR}/examples/ DESTINATION examples
    PATTERN CMakeLists.txt EXCLUDE)
install(FILES ${CMAKE_SOURCE_DIR}/README.md DESTINATION .)

set(VRL_PACKAGE_WITH "" CACHE PATH "Build tree of the other architecture, packaged alongside this one")
set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME VRLCOM)
set(CPACK_PACKAGE_VENDOR VRLCOM)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "VRLCOM Module: send short text messages through a gateway from COM hosts")
set(CPACK_PACKAGE_FILE_NAME VRLCOM-${PROJECT_VERSION})
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
set(CPACK_INSTALL_CMAKE_PROJECTS "${CMAKE_BINARY_DIR};VRLCOM;ALL;/")
if(VRL_PACKAGE_WITH)
    list(APPEND CPACK_INSTALL_CMAKE_PROJECTS "${VRL_PACKAGE_WITH};VRLCOM;ALL;/")
endif()
include(CPack)
