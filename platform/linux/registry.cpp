#include "platform/linux/registry.h"

LONG RegOpenKeyExA(HKEY, LPCSTR, DWORD, REGSAM, PHKEY) { return ERROR_FILE_NOT_FOUND; }
LONG RegQueryValueExA(HKEY, LPCSTR, LPDWORD, LPDWORD, LPBYTE, LPDWORD) { return ERROR_FILE_NOT_FOUND; }
LONG RegCloseKey(HKEY) { return ERROR_SUCCESS; }
