// Every operating-system call the extension makes goes through this one
// table, so that a test can make any of them fail and then put the system's
// own back. On Windows the slots hold the Win32 functions; on Linux the
// project's implementations of them.
#pragma once

#include "platform/win32.h"

#define OS_CALLS(X)                                                            \
    X(RegOpenKeyExA)                                                           \
    X(RegQueryValueExA)                                                        \
    X(RegCloseKey)                                                             \
    X(GetPrivateProfileStringA)                                                \
    X(WritePrivateProfileStringA)                                              \
    X(LoadLibraryExA)                                                          \
    X(GetProcAddress)                                                          \
    X(FreeLibrary)                                                             \
    X(MultiByteToWideChar)                                                     \
    X(WideCharToMultiByte)                                                     \
    X(OpenSharedForReading)                                                    \
    X(fread)                                                                   \
    X(fclose)

// NOLINTNEXTLINE(bugprone-macro-parentheses): the argument is a name, declared
#define OS_SLOT(name) decltype(&::name) name;
struct OsCalls {
    OS_CALLS(OS_SLOT)
};
#undef OS_SLOT

extern OsCalls gOs;

// The table as the system provides it.
OsCalls SystemOsCalls() noexcept;
