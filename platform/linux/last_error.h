// The thread's last error, as Windows keeps it: the only report of why a call
// that gives a default instead of failing (a profile read) did so.
#pragma once

#include "platform/linux/win32_types.h"

#define ERROR_INVALID_FUNCTION 1L
#define ERROR_PATH_NOT_FOUND 3L
#define ERROR_ACCESS_DENIED 5L
#define ERROR_GEN_FAILURE 31L
#define ERROR_SHARING_VIOLATION 32L
#define ERROR_DISK_FULL 112L
#define ERROR_FILE_TOO_LARGE 223L

DWORD GetLastError();
void SetLastError(DWORD error);

// The Windows error that stands for an errno value of a file operation.
DWORD ErrorFromErrno(int error);
