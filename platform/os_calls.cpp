#include "platform/os_calls.h"

#ifndef _WIN32
int PosixOpen(const char* path, int flags, mode_t mode)
{
    return ::open(path, flags, mode);
}
#endif

OsCalls SystemOsCalls() noexcept
{
#define OS_SYSTEM(name) &::name,
    return {OS_CALLS(OS_SYSTEM)};
#undef OS_SYSTEM
}

OsCalls gOs = SystemOsCalls();
