#include "request/percent_decoding.h"

#include <cstring>

namespace {

int HexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

} // namespace

void PercentDecode(char* text)
{
    char* read = strpbrk(text, "%+");
    if (!read)
        return;
    char* write = read;
    while (*read != '\0') {
        if (*read == '+') {
            *write++ = ' ';
            ++read;
            continue;
        }
        if (*read == '%') {
            int high = HexValue(read[1]);
            int low = high < 0 ? -1 : HexValue(read[2]);
            if (low >= 0) {
                *write++ = static_cast<char>(high * 16 + low);
                read += 3;
                continue;
            }
        }
        *write++ = *read++;
    }
    *write = '\0';
}
