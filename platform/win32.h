// The one place where the extension meets the operating system. On Windows
// these are the real headers; on Linux the project's own implementation of
// the same subset, with the same names, layouts and behaviour.
#pragma once

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#include <httpext.h>
#include <io.h>
#include <share.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>

// The three ISAPI entry points are exported through the module-definition file.
#define EXTENSION_EXPORT extern "C"

// Composed as application directory, then library type.
#define USER_LIBRARY_PATH_FORMAT "%s\\VLUser%s.dll"

// Reentrant: the position lives with the caller, not in per-thread state.
inline char* NextToken(char* text, const char* separators, char** position)
{
    return strtok_s(text, separators, position);
}

// Opened in binary mode without denying other processes read or write access;
// only a file on disk of at most `largest` bytes, so that a device ("NUL",
// "CON") or a pipe, which may never end or never answer, is never read.
inline FILE* OpenSharedForReading(const char* path, uint64_t largest)
{
    FILE* file = _fsopen(path, "rb", _SH_DENYNO);
    if (!file)
        return nullptr;
    HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file)));
    LARGE_INTEGER size;
    if (GetFileType(handle) == FILE_TYPE_DISK && GetFileSizeEx(handle, &size) &&
        static_cast<uint64_t>(size.QuadPart) <= largest)
        return file;
    fclose(file);
    return nullptr;
}

#else
#include "platform/linux/win32_types.h"
#include "platform/linux/isapi.h"
#include "platform/linux/registry.h"
#include "platform/linux/profile.h"
#include "platform/linux/dynamic_loading.h"
#include "platform/linux/code_pages.h"
#include "platform/linux/last_error.h"
#include "platform/linux/regular_file.h"
#include <stdio.h>
#include <string.h>

#define EXTENSION_EXPORT extern "C" __attribute__((visibility("default")))

#define USER_LIBRARY_PATH_FORMAT "%s/VLUser%s.so"

inline char* NextToken(char* text, const char* separators, char** position)
{
    return strtok_r(text, separators, position);
}
#endif
