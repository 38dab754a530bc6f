# Puts a PDB where a symbol server serves it and debuggers look for it: STORE/NAME/<GUID><age>/NAME,
# with the GUID (32 upper-case hex digits) and the age (hex) that the PDB's own header holds, the
# PDB's earlier builds removed.
# Run with -DPDB=<file> -DPDBUTIL=<llvm-pdbutil> -DSTORE=<folder>.
execute_process(COMMAND ${PDBUTIL} dump -summary ${PDB} RESULT_VARIABLE result OUTPUT_VARIABLE summary
    ERROR_VARIABLE summary)
if(NOT result EQUAL 0 OR NOT summary MATCHES "Age: ([0-9]+)\n +GUID: {([-0-9A-F]+)}")
    message(FATAL_ERROR "llvm-pdbutil dump -summary ${PDB}:\n${summary}")
endif()
string(REPLACE "-" "" guid ${CMAKE_MATCH_2})
math(EXPR age ${CMAKE_MATCH_1} OUTPUT_FORMAT HEXADECIMAL)
string(REGEX REPLACE "^0x" "" age ${age})
string(TOUPPER ${age} age)
get_filename_component(name ${PDB} NAME)
file(REMOVE_RECURSE ${STORE}/${name})
file(COPY ${PDB} DESTINATION ${STORE}/${name}/${guid}${age})
