// The POSIX calls through which the Linux platform reaches files, in one
// table, so that a test can make any of them fail and then restore it.
#pragma once

#include <sys/stat.h>
#include <sys/types.h>

struct SystemCalls {
    int (*open)(const char* path, int flags, mode_t mode);
    ssize_t (*read)(int file, void* buffer, size_t count);
    ssize_t (*write)(int file, const void* bytes, size_t count);
    int (*fsync)(int file);
    int (*fstat)(int file, struct stat* status);
    int (*fchmod)(int file, mode_t mode);
    int (*fchown)(int file, uid_t owner, gid_t group);
    int (*close)(int file);
    int (*rename)(const char* from, const char* to);
    int (*unlink)(const char* path);
};

extern SystemCalls gSystemCalls;

// The table as the system provides it.
SystemCalls RealSystemCalls() noexcept;
