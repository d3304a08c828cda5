#include "request/base64.h"

#include <array>
#include <cstdint>

namespace {

constexpr uint8_t kNotInAlphabet = 255;

constexpr std::array<uint8_t, 256> MakeValueTable()
{
    std::array<uint8_t, 256> table{};
    for (auto& entry : table)
        entry = kNotInAlphabet;
    constexpr char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    for (uint8_t value = 0; value < 64; ++value)
        table[static_cast<unsigned char>(alphabet[value])] = value;
    return table;
}

constexpr std::array<uint8_t, 256> kValues = MakeValueTable();

} // namespace

char* DecodeBase64(char* text)
{
    char* read = text;
    char* write = text;
    uint32_t bits = 0;
    int bitCount = 0;
    while (*read != '\0') {
        unsigned char byte = static_cast<unsigned char>(*read++);
        if (byte == '\r' || byte == '\n')
            continue;
        uint8_t value = kValues[byte];
        if (value >= 64)
            break;
        bits = (bits << 6) | value;
        bitCount += 6;
        if (bitCount >= 8) {
            bitCount -= 8;
            *write++ = static_cast<char>((bits >> bitCount) & 0xFF);
        }
    }
    *write = '\0';
    return text;
}
