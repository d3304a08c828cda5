# Read by cpack before it stages the package. Every time stamp the package
# holds is SOURCE_DATE_EPOCH, by default the time of the commit being packaged.
# It goes into the environment because strip, run while staging, writes it
# into the PE headers in place of the current time.
if(NOT DEFINED ENV{SOURCE_DATE_EPOCH})
    execute_process(COMMAND git log -1 --format=%ct
                    WORKING_DIRECTORY ${CPACK_TESSALINE_SOURCE_DIR}
                    OUTPUT_VARIABLE commit_time OUTPUT_STRIP_TRAILING_WHITESPACE
                    RESULT_VARIABLE failed)
    if(failed OR NOT commit_time MATCHES "^[0-9]+$")
        message(FATAL_ERROR "No commit time for the package's time stamps in "
                            "${CPACK_TESSALINE_SOURCE_DIR}; set SOURCE_DATE_EPOCH.")
    endif()
    set(ENV{SOURCE_DATE_EPOCH} ${commit_time})
endif()
