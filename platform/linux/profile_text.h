// The profile reader and writer on a file's text rather than on the file, so
// that the file calls only move bytes and the rules can run in memory.
#pragma once

#include "platform/linux/win32_types.h"

#include <string>
#include <string_view>

// GetPrivateProfileStringA with this text as the file's content; an empty
// text stands for a missing file.
DWORD ProfileStringFromText(std::string_view text, std::string_view section, std::string_view key,
                            LPCSTR defaultValue, LPSTR result, DWORD size);

// The text after WritePrivateProfileStringA has written value to key in
// section: the key's line changed or added (with its section when missing),
// every other line byte for byte as it was.
std::string ProfileTextWith(std::string_view text, std::string_view section, std::string_view key,
                            std::string_view value);
