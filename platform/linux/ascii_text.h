// Text helpers of the Linux registry and profile readers: names compare
// ignoring ASCII letter case only, as Windows compares them.
#pragma once

#include <string_view>

inline char LowerAscii(char c)
{
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

inline bool EqualsIgnoringCase(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (size_t index = 0; index < a.size(); ++index)
        if (LowerAscii(a[index]) != LowerAscii(b[index]))
            return false;
    return true;
}

// The text without the given bytes at either end.
inline std::string_view TrimmedOf(std::string_view text, std::string_view whitespace)
{
    size_t first = text.find_first_not_of(whitespace);
    if (first == std::string_view::npos)
        return {};
    return text.substr(first, text.find_last_not_of(whitespace) - first + 1);
}
