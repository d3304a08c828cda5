# What the compiler and linker add against memory corruption, for every
# program and library the project builds: a stack cookie in each function
# that holds an array or lets a local's address escape, and checked versions
# of the C library's copying calls wherever the compiler knows the sizes.
#
# _FORTIFY_SOURCE takes effect only in optimised builds (and glibc warns
# without optimisation), so a Debug build, such as the sanitizer build, goes
# without it; the sanitizers check the same calls more thoroughly there.
add_compile_options(-fstack-protector-strong)
add_compile_definitions($<$<NOT:$<CONFIG:Debug>>:_FORTIFY_SOURCE=2>)
# At link time the flag makes GCC add its stack-protector library where the
# C library does not provide it: on Windows mingw-w64's libssp, linked
# statically like the rest of the runtime, which also holds the checked
# copying calls that _FORTIFY_SOURCE names.
add_link_options(-fstack-protector-strong)

if(NOT WIN32)
    # Relocations resolved at load and then made read-only, so that no
    # function pointer of the GOT can be overwritten later; and a stack that
    # is never executable, whatever an object file asks for.
    add_link_options(LINKER:-z,relro LINKER:-z,now LINKER:-z,noexecstack)
endif()
# Windows images keep ASLR with high-entropy addresses and NX, which the
# mingw-w64 linker sets by default. Control Flow Guard is not among what
# GCC can give: it neither emits the guard checks nor the tables.
