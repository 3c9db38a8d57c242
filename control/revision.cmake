# Writes OUTPUT with the first eight hex digits of the source tree's revision (00000000 when the tree is not
# under git), rewriting it only when the revision changed so that nothing rebuilds needlessly.
execute_process(COMMAND git rev-parse HEAD
                WORKING_DIRECTORY ${SOURCE_DIR}
                OUTPUT_VARIABLE revision
                OUTPUT_STRIP_TRAILING_WHITESPACE
                RESULT_VARIABLE failed
                ERROR_QUIET)
if(failed OR NOT revision MATCHES "^[0-9a-f]+$")
    set(revision 00000000)
endif()
string(SUBSTRING "${revision}00000000" 0 8 revision)
set(content "#pragma once\n#define QX_REVISION \"${revision}\"\n")
if(EXISTS ${OUTPUT})
    file(READ ${OUTPUT} old)
endif()
if(NOT "${old}" STREQUAL "${content}")
    file(WRITE ${OUTPUT} "${content}")
endif()
