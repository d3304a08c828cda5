#include "platform/os_calls.h"

OsCalls SystemOsCalls() noexcept
{
#define OS_SYSTEM(name) &::name,
    return {OS_CALLS(OS_SYSTEM)};
#undef OS_SYSTEM
}

OsCalls gOs = SystemOsCalls();
