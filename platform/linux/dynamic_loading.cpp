#include "platform/linux/dynamic_loading.h"

#include "platform/os_calls.h"

HMODULE LoadLibraryA(LPCSTR fileName)
{
    return gOs.dlopen(fileName, RTLD_NOW | RTLD_LOCAL);
}

HMODULE LoadLibraryExA(LPCSTR fileName, HANDLE, DWORD)
{
    return LoadLibraryA(fileName);
}

FARPROC GetProcAddress(HMODULE module, LPCSTR name)
{
    return reinterpret_cast<FARPROC>(gOs.dlsym(module, name));
}

BOOL FreeLibrary(HMODULE module)
{
    return gOs.dlclose(module) == 0 ? TRUE : FALSE;
}
