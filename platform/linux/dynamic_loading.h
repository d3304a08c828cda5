// Dynamic loading over the system's dynamic loader.
#pragma once

#include "platform/linux/win32_types.h"

typedef void* HMODULE;
typedef HMODULE HINSTANCE;
typedef void (*FARPROC)();

HMODULE LoadLibraryA(LPCSTR fileName);
FARPROC GetProcAddress(HMODULE module, LPCSTR name);
BOOL FreeLibrary(HMODULE module);
