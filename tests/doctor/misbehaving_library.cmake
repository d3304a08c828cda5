# Runs tessaline-doctor against a user library that crashes, hangs, ends the
# process or prints in VL_ReloadUsers (or VL_FindFirst): the report keeps
# every step before, names the call and what happened in a last failed step,
# stays valid JSON, and the exit status is 1.
file(REMOVE_RECURSE ${WORK_DIR})
file(MAKE_DIRECTORY ${WORK_DIR})
file(WRITE ${WORK_DIR}/Velmora.ini "[Advanced]\r\nUserDllType=Misbehaving\r\n")
if(WINDOWS)
    # Wine's registry, which the doctor reads; drive Z: is the Unix root.
    foreach(value AppPath=${LIBRARY_DIR} IniPath=${WORK_DIR}/Velmora.ini)
        string(REPLACE "=" ";" value ${value})
        list(GET value 0 name)
        list(GET value 1 path)
        string(REPLACE "/" "\\" path "Z:${path}")
        execute_process(COMMAND ${RUNNER} reg add "HKLM\\Software\\Norvane\\Velmora" /v ${name} /d ${path} /f
                        OUTPUT_QUIET COMMAND_ERROR_IS_FATAL ANY)
    endforeach()
else()
    file(WRITE ${WORK_DIR}/registry.reg "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\Software\\Norvane\\Velmora]\n"
                                        "\"AppPath\"=\"${LIBRARY_DIR}\"\n\"IniPath\"=\"${WORK_DIR}/Velmora.ini\"\n")
    set(ENV{VELMORA_REGISTRY_FILE} ${WORK_DIR}/registry.reg)
endif()

# A crash must reach the doctor as the signal it is, not as AddressSanitizer's
# report and exit, when the doctor is built with it.
set(ENV{ASAN_OPTIONS} "$ENV{ASAN_OPTIONS}:handle_segv=0")

# The hang is given a short deadline.
function(run_doctor misbehaviour)
    set(ENV{VLUSER_MISBEHAVIOUR} ${misbehaviour})
    if(misbehaviour STREQUAL hang)
        list(APPEND ARGN --library-timeout 1)
    endif()
    execute_process(COMMAND ${RUNNER} ${DOCTOR} ${ARGN} RESULT_VARIABLE status
                    OUTPUT_VARIABLE out ERROR_VARIABLE err)
    set(status ${status} PARENT_SCOPE)
    set(out "${out}" PARENT_SCOPE)
    set(err "${err}" PARENT_SCOPE)
endfunction()

# The detail of the report's step of this name, or NOTFOUND.
function(step_detail name detail)
    set(found NOTFOUND)
    string(JSON count LENGTH "${out}" steps)
    math(EXPR last "${count} - 1")
    foreach(at RANGE ${last})
        string(JSON step GET "${out}" steps ${at} step)
        if(step STREQUAL name)
            string(JSON found GET "${out}" steps ${at} detail)
        endif()
    endforeach()
    set(${detail} "${found}" PARENT_SCOPE)
endfunction()

# expect(WHAT CONDITION...): fails with what was wanted unless the condition holds.
function(expect what)
    if(NOT (${ARGN}))
        message(FATAL_ERROR "VLUSER_MISBEHAVIOUR=${misbehaviour}: wanted ${what}; exit ${status}, it wrote:\n${out}${err}")
    endif()
endfunction()

if(WINDOWS)
    set(crashed "crashed in \\1 \\(exception 0xC0000005\\)")
else()
    set(crashed "crashed in \\1 \\(signal 11\\)")
endif()
set(ends ": IIS's worker process would end the same way")
# Misbehaviour, call, "loads", the last step's detail (\1 standing for the
# call) and the step just before it. In its initialisation or VL_ReloadUsers
# the library keeps the extension from loading; VL_FindFirst comes once it
# has.
set(cases
    "crash|VL_ReloadUsers|OFF|the user library ${crashed}${ends}|VL_GroupFindMember"
    "exit|VL_ReloadUsers|OFF|the user library ended the process in \\1 \\(exit status 0\\)${ends}|VL_GroupFindMember"
    "hang|VL_ReloadUsers|OFF|the user library did not return from \\1 within 1 s \\(--library-timeout\\), and the doctor ended its process|VL_GroupFindMember"
    "crash|VL_FindFirst|ON|the user library ${crashed}${ends}|settings-file")
# Wine's loader catches a crash in a DLL's initialisation and fails the load
# instead, which the load step reports.
if(NOT WINDOWS)
    list(APPEND cases "crash|LoadLibraryExA|OFF|the user library ${crashed}${ends}|library-path")
endif()
foreach(case IN LISTS cases)
    string(REPLACE "|" ";" case "${case}")
    list(GET case 0 misbehaviour)
    list(GET case 1 call)
    list(GET case 2 loads_wanted)
    list(GET case 3 detail)
    list(GET case 4 step_before)
    string(REPLACE "LoadLibraryExA" "LoadLibraryExA, its own initialisation" shown "${call}")
    string(REPLACE "\\1" "${shown}" detail "${detail}")
    set(ENV{VLUSER_MISBEHAVING_CALL} ${call})
    run_doctor(${misbehaviour} --json)
    string(JSON loads ERROR_VARIABLE invalid GET "${out}" loads)
    expect("valid JSON (${invalid})" NOT invalid)
    expect("exit status 1" status EQUAL 1)
    expect("\"loads\": ${loads_wanted}" loads STREQUAL loads_wanted)
    string(JSON count LENGTH "${out}" steps)
    math(EXPR last "${count} - 1")
    string(JSON step GET "${out}" steps ${last} step)
    string(JSON text GET "${out}" steps ${last} detail)
    expect("the last step user-library: ${detail}" step STREQUAL user-library AND text MATCHES "^${detail}")
    # Every step up to the call.
    math(EXPR previous "${count} - 2")
    string(JSON step GET "${out}" steps ${previous} step)
    expect("the step ${step_before} just before it" step STREQUAL step_before)
endforeach()
unset(ENV{VLUSER_MISBEHAVING_CALL})

# The plain report says the same, and that the extension would not load.
run_doctor(crash)
string(REPLACE "\\1" VL_ReloadUsers crash "${crashed}")
expect("the plain report's last step" status EQUAL 1 AND
       out MATCHES "FAIL  user-library: the user library ${crash}${ends}\n\nThe extension would NOT load.\n$")

# What the library prints goes to standard error, the report stays whole.
run_doctor(print --json)
string(JSON loads ERROR_VARIABLE invalid GET "${out}" loads)
step_detail(reload reload)
expect("valid JSON with the reload step" NOT invalid AND reload MATCHES "^VL_ReloadUsers called once")
expect("the library's words on standard error" err MATCHES "the user library speaks" AND NOT out MATCHES "speaks")
