# Runs tessaline-doctor as an operator would: a bad option is a usage error
# (2), --help says that it only reads; on Linux also the laid-out sample with
# the caller's password on standard input.
function(run_doctor expected_status pattern)
    execute_process(COMMAND ${RUNNER} ${DOCTOR} ${ARGN} RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err
                    INPUT_FILE ${input})
    if(NOT status EQUAL expected_status OR NOT "${out}${err}" MATCHES "${pattern}")
        message(FATAL_ERROR "tessaline-doctor ${ARGN}: exit ${status}, wanted ${expected_status} and "
                            "\"${pattern}\"; it wrote:\n${out}${err}")
    endif()
endfunction()

file(REMOVE_RECURSE ${WORK_DIR})
file(MAKE_DIRECTORY ${WORK_DIR})
set(input ${WORK_DIR}/password)
file(WRITE ${input} "admin-pass\n")

run_doctor(2 "unknown argument: --frobnicate" --frobnicate)
run_doctor(2 "--check-auth needs a value" --check-auth)
run_doctor(0 "It only reads. It never writes the settings file or anything else" --help)

if(NOT WINDOWS)
    execute_process(COMMAND sh ${LAY_OUT} ${WORK_DIR}/sample ${LIBRARY_DIR} OUTPUT_VARIABLE registry
                    OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
    set(ENV{VELMORA_REGISTRY_FILE} ${registry})
    run_doctor(0 "\"loads\": true.*\"caller\": \"ok\"" --json --check-caller admin@example.com)
    run_doctor(1 "FAIL  caller: ann.lee@example.com may not call the extension \\(401\\): the account lacks"
               --check-caller ann.lee@example.com)
endif()
