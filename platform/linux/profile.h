// Profile (INI) files, as Windows reads and writes them.
#pragma once

#include "platform/linux/win32_types.h"

DWORD GetPrivateProfileStringA(LPCSTR section, LPCSTR key, LPCSTR defaultValue, LPSTR result, DWORD size,
                               LPCSTR fileName);
BOOL WritePrivateProfileStringA(LPCSTR section, LPCSTR key, LPCSTR value, LPCSTR fileName);
