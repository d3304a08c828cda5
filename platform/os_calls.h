// Every operating-system call of the extension and of its platform layer
// goes through this one table, so that a test can make any of them fail and
// then put the system's own back. On Windows the slots hold the Win32 and C
// runtime functions. On Linux the Win32 slots hold the project's
// implementations of them, which reach the system through the POSIX slots
// of the same table. Nothing else names an OS call: a test of the linked
// objects fails when a call outside this table appears.
#pragma once

#include "platform/win32.h"

#ifndef _WIN32
#include <dlfcn.h>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

// open with its mode always given: a slot cannot hold open itself, which
// takes a variable argument list.
int PosixOpen(const char* path, int flags, mode_t mode);

#define OS_CALLS_BENEATH(X)                                                    \
    X(PosixOpen)                                                               \
    X(read)                                                                    \
    X(write)                                                                   \
    X(fsync)                                                                   \
    X(fstat)                                                                   \
    X(stat)                                                                    \
    X(fchmod)                                                                  \
    X(fchown)                                                                  \
    X(close)                                                                   \
    X(rename)                                                                  \
    X(unlink)                                                                  \
    X(realpath)                                                                \
    X(getpid)                                                                  \
    X(getenv)                                                                  \
    X(fdopen)                                                                  \
    X(dlopen)                                                                  \
    X(dlsym)                                                                   \
    X(dlclose)
#else
#define OS_CALLS_BENEATH(X)
#endif

#define OS_CALLS(X)                                                            \
    X(RegOpenKeyExA)                                                           \
    X(RegQueryValueExA)                                                        \
    X(RegCloseKey)                                                             \
    X(GetPrivateProfileStringA)                                                \
    X(WritePrivateProfileStringA)                                              \
    X(GetLastError)                                                            \
    X(SetLastError)                                                            \
    X(LoadLibraryExA)                                                          \
    X(GetProcAddress)                                                          \
    X(FreeLibrary)                                                             \
    X(MultiByteToWideChar)                                                     \
    X(WideCharToMultiByte)                                                     \
    X(OpenSharedForReading)                                                    \
    X(fread)                                                                   \
    X(ftell)                                                                   \
    X(fseek)                                                                   \
    X(ferror)                                                                  \
    X(fclose)                                                                  \
    OS_CALLS_BENEATH(X)

// NOLINTNEXTLINE(bugprone-macro-parentheses): the argument is a name, declared
#define OS_SLOT(name) decltype(&::name) name;
struct OsCalls {
    OS_CALLS(OS_SLOT)
};
#undef OS_SLOT

extern OsCalls gOs;

// The table as the system provides it.
OsCalls SystemOsCalls() noexcept;
