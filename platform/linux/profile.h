// Profile (INI) files, as Windows reads and writes them. Both calls need a
// section, a key and a file; listing names and deleting keys or sections (the
// null arguments of Windows) are not offered.
#pragma once

#include "platform/linux/win32_types.h"

DWORD GetPrivateProfileStringA(LPCSTR section, LPCSTR key, LPCSTR defaultValue, LPSTR result, DWORD size,
                               LPCSTR fileName);
BOOL WritePrivateProfileStringA(LPCSTR section, LPCSTR key, LPCSTR value, LPCSTR fileName);
