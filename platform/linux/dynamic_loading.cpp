#include "platform/linux/dynamic_loading.h"

#include <dlfcn.h>

HMODULE LoadLibraryA(LPCSTR fileName)
{
    return dlopen(fileName, RTLD_NOW | RTLD_LOCAL);
}

HMODULE LoadLibraryExA(LPCSTR fileName, HANDLE, DWORD)
{
    return LoadLibraryA(fileName);
}

FARPROC GetProcAddress(HMODULE module, LPCSTR name)
{
    return reinterpret_cast<FARPROC>(dlsym(module, name));
}

BOOL FreeLibrary(HMODULE module)
{
    return dlclose(module) == 0 ? TRUE : FALSE;
}
