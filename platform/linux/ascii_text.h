// Text helpers of the Linux registry and profile readers.
#pragma once

#include "platform/ascii.h"

#include <string_view>

// The text without the given bytes at either end.
inline std::string_view TrimmedOf(std::string_view text, std::string_view whitespace)
{
    size_t first = text.find_first_not_of(whitespace);
    if (first == std::string_view::npos)
        return {};
    return text.substr(first, text.find_last_not_of(whitespace) - first + 1);
}
