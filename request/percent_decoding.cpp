#include "request/percent_decoding.h"

#include "platform/ascii.h"

#include <cstring>

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
            int high = HexDigitValue(read[1]);
            int low = high < 0 ? -1 : HexDigitValue(read[2]);
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
