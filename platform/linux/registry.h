// The registry, read from a registry-editor file (registry_file.h says
// which). Read-only.
#pragma once

#include "platform/linux/win32_types.h"

struct RegistryKey;
typedef RegistryKey* HKEY;
typedef HKEY* PHKEY;
typedef DWORD REGSAM;

#define HKEY_LOCAL_MACHINE (reinterpret_cast<HKEY>(static_cast<uintptr_t>(0x80000002)))
#define KEY_QUERY_VALUE 0x0001
#define KEY_READ 0x20019
// The file holds strings (REG_SZ) and dwords; the other types are named for
// the doctor, which reports a value of a type the extension cannot use.
#define REG_NONE 0
#define REG_SZ 1
#define REG_EXPAND_SZ 2
#define REG_BINARY 3
#define REG_DWORD 4
#define REG_MULTI_SZ 7

LONG RegOpenKeyExA(HKEY root, LPCSTR subKey, DWORD options, REGSAM access, PHKEY result);
LONG RegQueryValueExA(HKEY key, LPCSTR valueName, LPDWORD reserved, LPDWORD type, LPBYTE data, LPDWORD size);
LONG RegCloseKey(HKEY key);
