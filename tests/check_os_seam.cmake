# Checks that the extension's objects and its platform layer reach the
# operating system only through the table of OS calls: every symbol an
# object needs from outside must be defined by the objects of its own layer,
# be the table (gOs), or be one of the runtime's own that touch no file,
# registry, library or error state. Only the table's file names the system.
#
#   cmake -DNM=<nm> -DEXTENSION=<objects> -DPLATFORM=<objects> -P check_os_seam.cmake
#
# EXTENSION and PLATFORM list object files, separated by "|".
cmake_policy(VERSION 3.25)
string(REPLACE "|" ";" extension "${EXTENSION}")
string(REPLACE "|" ";" platform "${PLATFORM}")
set(table_file_pattern "/os_calls\\.cpp\\.o(bj)?$")

# What the compilers' runtimes give that does no I/O: unwinding, guards,
# thread-local access, operator new and delete, the standard library's
# exceptions and type records, the sanitizers' hooks, and the C library's
# memory and string functions.
set(runtime_patterns
    "^__(asan|ubsan|tsan|sanitizer)_"
    "^_GLOBAL_OFFSET_TABLE_$"
    "^__tls_get_addr$"
    "^__errno_location$"
    "^_Unwind_Resume$"
    "^__gxx_personality_(v0|seh0)$"
    "^__cxa_[a-z_]+$"
    "^__stack_chk_(fail|guard)$"
    "^(__imp_)?(memchr|memcmp|memcpy|memmove|memset|snprintf|explicit_bzero)$"
    "^(__imp_)?(strchr|strcmp|strlen|strncpy|strnlen|strpbrk|strtok_r|strtok_s)$"
    "^__(memcpy|memmove|memset|snprintf|explicit_bzero)_chk$"
    "^__mingw_snprintf$"
    "^_Zn[wa][my]$"
    "^_Zd[la]Pv"
    "^_ZSt[0-9]+__throw_[a-z_]+"
    "^_ZNSaIcE[CD][12]"
    "^_ZNSt[0-9]+length_errorC"
    "^_ZNSt[0-9]+length_errorD"
    "^_ZTISt[0-9]+length_error$"
    "^_ZTVN10__cxxabiv1[0-9]+[a-z_]+type_infoE$"
)

function(symbols_of object kind out)
    execute_process(COMMAND ${NM} ${kind} ${object} OUTPUT_VARIABLE listing RESULT_VARIABLE failed)
    if(failed)
        message(FATAL_ERROR "could not list the symbols of ${object}")
    endif()
    # Lines "                 U memcpy" or "0000000000000000 T _Z9ParseFormPcRSt6vector...".
    string(REGEX MATCHALL "[A-Za-z] [^\n ]+\n" rows "${listing}")
    set(names "")
    foreach(row IN LISTS rows)
        string(REGEX REPLACE "^[A-Za-z] ([^\n ]+)\n$" "\\1" name "${row}")
        list(APPEND names "${name}")
    endforeach()
    set(${out} "${names}" PARENT_SCOPE)
endfunction()

function(defined_by objects out)
    set(all "")
    foreach(object IN LISTS objects)
        if(NOT object MATCHES "${table_file_pattern}")
            symbols_of(${object} --defined-only names)
            list(APPEND all ${names})
        endif()
    endforeach()
    set(${out} "${all}" PARENT_SCOPE)
endfunction()

defined_by("${extension}" extension_defined)
defined_by("${platform}" platform_defined)

set(strays "")
function(check objects defined)
    foreach(object IN LISTS objects)
        if(object MATCHES "${table_file_pattern}")
            continue()
        endif()
        symbols_of(${object} -u needed)
        foreach(name IN LISTS needed)
            if(name STREQUAL "gOs" OR name IN_LIST defined)
                continue()
            endif()
            set(runtime FALSE)
            foreach(pattern IN LISTS runtime_patterns)
                if(name MATCHES "${pattern}")
                    set(runtime TRUE)
                    break()
                endif()
            endforeach()
            if(NOT runtime)
                get_filename_component(file ${object} NAME)
                list(APPEND strays "${file}: ${name}")
            endif()
        endforeach()
    endforeach()
    set(strays "${strays}" PARENT_SCOPE)
endfunction()

check("${extension}" "${extension_defined}")
check("${platform}" "${platform_defined}")
if(strays)
    list(JOIN strays "\n  " text)
    message(FATAL_ERROR "calls outside the table of OS calls (platform/os_calls.h):\n  ${text}")
endif()
