#include "platform/linux/system_calls.h"

#include <fcntl.h>
#include <stdio.h>
#include <unistd.h>

SystemCalls RealSystemCalls() noexcept
{
    return {
        [](const char* path, int flags, mode_t mode) { return ::open(path, flags, mode); },
        ::read,
        ::write,
        ::fsync,
        ::fstat,
        ::fchmod,
        ::fchown,
        ::close,
        ::rename,
        ::unlink,
    };
}

SystemCalls gSystemCalls = RealSystemCalls();
