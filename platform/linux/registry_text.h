// The registry reader on registry-editor text rather than on the registry
// file, so that the file call only moves bytes and the rules can run in memory.
#pragma once

#include "platform/linux/registry.h"

#include <string_view>

// RegOpenKeyExA with this text as the registry file's content; the key it
// gives is queried and closed as any other.
LONG OpenRegistryKeyFromText(std::string_view text, HKEY root, LPCSTR subKey, PHKEY result);
