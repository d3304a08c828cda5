// Dynamic loading over the system's dynamic loader.
#pragma once

#include "platform/linux/win32_types.h"

typedef void* HMODULE;
typedef HMODULE HINSTANCE;
typedef void (*FARPROC)();

constexpr DWORD LOAD_WITH_ALTERED_SEARCH_PATH = 0x00000008;

HMODULE LoadLibraryA(LPCSTR fileName);
// The system's loader already looks for a library's dependencies where the
// library itself says (its RUNPATH), so the flags change nothing here.
HMODULE LoadLibraryExA(LPCSTR fileName, HANDLE file, DWORD flags);
FARPROC GetProcAddress(HMODULE module, LPCSTR name);
BOOL FreeLibrary(HMODULE module);
