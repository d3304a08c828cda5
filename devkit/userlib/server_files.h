// Where the mail server keeps its files: the registry names the main
// settings file (value IniPath of HKEY_LOCAL_MACHINE\Software\Norvane\Velmora),
// and its section [Directories] names the rest:
//
//   [Directories]
//   Accounts=/srv/velmora/Accounts.txt      ; the accounts, see account_file.h
//   AliasFile=/srv/velmora/Aliases.txt      ; VL_GetDBPath file 12
//   SettingsFile=/srv/velmora/Settings.ini  ; VL_GetDBPath file 200
//
// Paths are absolute. Both are read again on every call, so that one
// registry file configures everything, whenever it changes.
#pragma once

#include <cstddef>

// The longest path, with its zero, that the library hands out.
constexpr size_t kServerPathSize = 260;

// Copies the path under the given key of [Directories] into path, cut to
// kServerPathSize bytes with the zero; empty when anything is missing.
void ReadServerFilePath(const char* key, char* path);
