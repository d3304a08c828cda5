# Checks that the extension exports exactly the three ISAPI entry points,
# under their plain names. Run with -DLISTER=<objdump or nm> -DLIBRARY=<file>.
if(LISTER MATCHES "objdump")
    execute_process(COMMAND ${LISTER} -p ${LIBRARY} OUTPUT_VARIABLE listing RESULT_VARIABLE failed)
    # The name-pointer table, its rows "[   0] GetExtensionVersion", ends at an empty line.
    string(REGEX MATCH "\\[Ordinal/Name Pointer\\] Table\n([^\n]+\n)*" table "${listing}")
    string(REGEX MATCHALL "\\[ *[0-9]+\\] [^\n]+" rows "${table}")
    string(REGEX REPLACE "\\[ *[0-9]+\\] " "" exports "${rows}")
    list(FILTER exports EXCLUDE REGEX "^_")
else()
    execute_process(COMMAND ${LISTER} -D --defined-only ${LIBRARY} OUTPUT_VARIABLE listing RESULT_VARIABLE failed)
    # Lines "0000000000002790 T GetExtensionVersion", code and data alike:
    # nothing of the project's own or of the standard library's inline code
    # may be found there by the host or the user library.
    string(REGEX MATCHALL "[0-9a-f]+ [A-Za-z] [^\n]+" rows "${listing}")
    string(REGEX REPLACE "[0-9a-f]+ [A-Za-z] " "" exports "${rows}")
endif()
if(failed)
    message(FATAL_ERROR "could not list the exports of ${LIBRARY}")
endif()
list(SORT exports)
set(expected GetExtensionVersion HttpExtensionProc TerminateExtension)
if(NOT exports STREQUAL expected)
    message(FATAL_ERROR "exports are '${exports}', expected '${expected}'")
endif()
