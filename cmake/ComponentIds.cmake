# The component's ids and names, read from the two files that define them: the interface definition
# (component/VRLCOM.idl: class, interface and type library ids, the library's version and help
# string) and the registry script (resources/VRLCOM.rgs: ProgIDs, class description, threading
# model). The installer's source and the assembly manifest are generated from these, so no id is
# ever written twice; a registry script whose ids differ from the interface definition's stops the
# configuration.

# The first group of `pattern` in `text` (the content of `file`), which must match.
function(vrl_match file text pattern out)
    string(REGEX MATCH "${pattern}" found "${text}")
    if(NOT found)
        message(FATAL_ERROR "${file}: nothing matches '${pattern}'")
    endif()
    set(${out} "${CMAKE_MATCH_1}" PARENT_SCOPE)
endfunction()

# An attribute of a declaration of the interface definition: uuid(...), version(...) or
# helpstring("...").
function(vrl_idl_attribute idl what declaration out)
    vrl_match(component/VRLCOM.idl "${idl}" "${what}\\(\"?([^\")]+)\"?\\)[^]]*\\][ \t\r\n]*${declaration}" value)
    set(${out} "${value}" PARENT_SCOPE)
endfunction()

set(VRL_INTERFACE IVorel)
file(READ ${CMAKE_SOURCE_DIR}/component/VRLCOM.idl vrl_idl_text)
vrl_idl_attribute("${vrl_idl_text}" uuid "coclass[ \t]+Vorel" VRL_CLSID)
vrl_idl_attribute("${vrl_idl_text}" uuid "interface[ \t]+${VRL_INTERFACE}" VRL_IID)
vrl_idl_attribute("${vrl_idl_text}" uuid "library[ \t]+VRLCOMLib" VRL_LIBID)
vrl_idl_attribute("${vrl_idl_text}" version "library[ \t]+VRLCOMLib" VRL_LIB_VERSION)
vrl_idl_attribute("${vrl_idl_text}" helpstring "library[ \t]+VRLCOMLib" VRL_LIB_HELP)
foreach(id VRL_CLSID VRL_IID VRL_LIBID)
    string(TOUPPER "{${${id}}}" ${id})
endforeach()

file(READ ${CMAKE_SOURCE_DIR}/resources/VRLCOM.rgs vrl_rgs_text)
vrl_match(resources/VRLCOM.rgs "${vrl_rgs_text}" "ForceRemove ({[^}]+}) = s" vrl_rgs_clsid)
vrl_match(resources/VRLCOM.rgs "${vrl_rgs_text}" "'TypeLib' = s '({[^}]+})'" vrl_rgs_libid)
if(NOT vrl_rgs_clsid STREQUAL VRL_CLSID OR NOT vrl_rgs_libid STREQUAL VRL_LIBID)
    message(FATAL_ERROR "resources/VRLCOM.rgs registers ${vrl_rgs_clsid} / ${vrl_rgs_libid}, "
        "component/VRLCOM.idl defines ${VRL_CLSID} / ${VRL_LIBID}")
endif()
vrl_match(resources/VRLCOM.rgs "${vrl_rgs_text}" "ForceRemove {[^}]+} = s '([^']+)'" VRL_CLASS_NAME)
vrl_match(resources/VRLCOM.rgs "${vrl_rgs_text}" "\tProgID = s '([^']+)'" VRL_PROGID)
vrl_match(resources/VRLCOM.rgs "${vrl_rgs_text}" "VersionIndependentProgID = s '([^']+)'" VRL_VI_PROGID)
vrl_match(resources/VRLCOM.rgs "${vrl_rgs_text}" "ThreadingModel = s '([^']+)'" VRL_THREADING_MODEL)
