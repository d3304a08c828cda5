#include "platform/linux/last_error.h"

#include <cerrno>

namespace {

thread_local DWORD tLastError = ERROR_SUCCESS;

} // namespace

DWORD GetLastError()
{
    return tLastError;
}

void SetLastError(DWORD error)
{
    tLastError = error;
}

DWORD ErrorFromErrno(int error)
{
    switch (error) {
    case 0: return ERROR_SUCCESS;
    case ENOENT: return ERROR_FILE_NOT_FOUND;
    case ENOTDIR: return ERROR_PATH_NOT_FOUND;
    case EACCES:
    case EPERM:
    case EISDIR:
    case EROFS: return ERROR_ACCESS_DENIED;
    case ENOSPC:
    case EDQUOT: return ERROR_DISK_FULL;
    default: return ERROR_GEN_FAILURE;
    }
}
