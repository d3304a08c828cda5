# Runs tessaline-doctor as an operator would: a bad option is a usage error
# (2), --help says that it only reads, a password over the limit is refused;
# on Linux also the laid-out sample with the passwords on standard input, the
# caller's first, in lines ended by LF or CR LF: a missing one is a usage
# error that still prints the report.
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

string(REPEAT "x" 1024 longest)
file(WRITE ${input} "${longest}y\n")
run_doctor(2 "the password for admin@example.com is longer than the 1024 bytes the doctor reads"
           --check-caller admin@example.com)
file(WRITE ${input} "admin-pass\n${longest}y")
run_doctor(2 "the password for ann.lee@example.com is longer than the 1024 bytes the doctor reads"
           --check-caller admin@example.com --check-auth ann.lee@example.com)
file(WRITE ${input} "admin-pass\n")

if(NOT WINDOWS)
    execute_process(COMMAND sh ${LAY_OUT} ${WORK_DIR}/sample ${LIBRARY_DIR} OUTPUT_VARIABLE registry
                    OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
    set(ENV{VELMORA_REGISTRY_FILE} ${registry})
    run_doctor(0 "\"loads\": true.*\"caller\": \"ok\"" --json --check-caller admin@example.com)
    run_doctor(1 "FAIL  caller: ann.lee@example.com may not call the extension \\(401\\): the account lacks"
               --check-caller ann.lee@example.com)

    file(WRITE ${input} "admin-pass\nann-pass\n")
    run_doctor(0 "\"caller\": \"ok\", \"auth\": \"ok\"" --json --check-caller admin@example.com
               --check-auth ann.lee@example.com)
    file(WRITE ${input} "admin-pass\r\nann-pass\r\n")
    run_doctor(0 "\"caller\": \"ok\", \"auth\": \"ok\"" --json --check-caller admin@example.com
               --check-auth ann.lee@example.com)
    # The longest password is taken, and checked.
    file(WRITE ${input} "${longest}\r\n")
    run_doctor(1 "\"caller\": \"wrong-password\"" --json --check-caller admin@example.com)
    file(WRITE ${input} "admin-pass\n")
    run_doctor(2 "ok    caller: admin@example.com may call the extension\nFAIL  auth: not checked: standard input gave no password for it.*two lines, the caller's password first"
               --check-caller admin@example.com --check-auth ann.lee@example.com)
    run_doctor(2 "\"caller\": \"ok\", \"auth\": \"no-password\"" --json --check-caller admin@example.com
               --check-auth ann.lee@example.com)
endif()
