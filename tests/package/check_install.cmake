# Installs a built tree into a fresh directory and checks that everything an integrator needs is
# there: the DLL and type library of this architecture, the header, the id file, the examples and
# the README. Run with -DBUILD_DIR=<tree> -DDLL=<built DLL> -DARCH=<x86|x64> -DOUT=<scratch directory>.
file(REMOVE_RECURSE ${OUT})
execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${OUT}
    RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output)
if(NOT result EQUAL 0)
    message(FATAL_ERROR "cmake --install failed:\n${output}")
endif()
foreach(file
        ${ARCH}/VRLCOM.DLL ${ARCH}/VRLCOM.tlb
        include/VRLCOM.h include/VRLCOM_i.c include/vrl_platform.h
        examples/send_and_query.vbs examples/send_and_query.js examples/cpp/early_bound_client.cpp
        examples/snippets/vba_module.bas examples/snippets/powershell.ps1 examples/snippets/dotnet.cs
        README.md)
    if(NOT EXISTS ${OUT}/${file})
        message(FATAL_ERROR "not installed: ${file}")
    endif()
endforeach()
# The installed DLL is the built one, and nothing of the build (tests, libraries) came along.
file(SHA256 ${OUT}/${ARCH}/VRLCOM.DLL installed)
file(SHA256 ${DLL} built)
if(NOT installed STREQUAL built)
    message(FATAL_ERROR "the installed VRLCOM.DLL differs from the built one")
endif()
file(GLOB_RECURSE everything RELATIVE ${OUT} ${OUT}/*)
foreach(file ${everything})
    if(file MATCHES "\\.(exe|a|obj)$" OR file MATCHES "CMakeLists.txt$")
        message(FATAL_ERROR "installed by mistake: ${file}")
    endif()
endforeach()
file(REMOVE_RECURSE ${OUT})
