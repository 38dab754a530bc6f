# The version block that every shipped file carries (resources/version.rc.in): the product's name
# and version, which are the project's description and version, and its language, which the DLL's
# other resources take too (VRL_LANGUAGE_PRIMARY and VRL_LANGUAGE_SUB in a resource script).
set(VRL_LANGUAGE 0404)  # Chinese (Traditional)
math(EXPR VRL_LANGUAGE_PRIMARY "0x${VRL_LANGUAGE} & 0x3FF" OUTPUT_FORMAT HEXADECIMAL)
math(EXPR VRL_LANGUAGE_SUB "0x${VRL_LANGUAGE} >> 10" OUTPUT_FORMAT HEXADECIMAL)
add_compile_definitions($<$<COMPILE_LANGUAGE:RC>:VRL_LANGUAGE_PRIMARY=${VRL_LANGUAGE_PRIMARY}>
    $<$<COMPILE_LANGUAGE:RC>:VRL_LANGUAGE_SUB=${VRL_LANGUAGE_SUB}>)

# vrl_version_block(TARGET FILE_NAME DESCRIPTION): on Windows, TARGET's file, FILE_NAME, carries the
# version block with DESCRIPTION, kept as TARGET's property VRL_FILE_DESCRIPTION for the install check.
function(vrl_version_block target file_name description)
    if(NOT WIN32)
        return()
    endif()
    get_filename_component(VRL_INTERNAL_NAME ${file_name} NAME_WE)
    set(VRL_FILE_NAME ${file_name})
    set(VRL_FILE_DESCRIPTION ${description})
    string(REPLACE "." ", " VRL_VERSION_NUMBERS ${PROJECT_VERSION})
    set(VRL_FILE_TYPE VFT_APP)
    set(VRL_SELF_REGISTER "")
    if(file_name MATCHES "\\.DLL$")
        set(VRL_FILE_TYPE VFT_DLL)
        # "OLESelfRegister" tells installers that the library registers itself.
        set(VRL_SELF_REGISTER "\n            VALUE \"OLESelfRegister\", \"\"")
    endif()
    configure_file(${CMAKE_SOURCE_DIR}/resources/version.rc.in ${CMAKE_CURRENT_BINARY_DIR}/${target}.version.rc
        @ONLY)
    target_sources(${target} PRIVATE ${CMAKE_CURRENT_BINARY_DIR}/${target}.version.rc)
    set_property(TARGET ${target} PROPERTY VRL_FILE_DESCRIPTION ${description})
endfunction()
