#include "doctor/request_encoding.h"

#include <cctype>
#include <cstdint>

std::string Base64(const std::string& bytes)
{
    static constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    for (size_t i = 0; i < bytes.size(); i += 3) {
        uint32_t group = static_cast<unsigned char>(bytes[i]) << 16;
        if (i + 1 < bytes.size())
            group |= static_cast<unsigned char>(bytes[i + 1]) << 8;
        if (i + 2 < bytes.size())
            group |= static_cast<unsigned char>(bytes[i + 2]);
        out += kAlphabet[group >> 18];
        out += kAlphabet[(group >> 12) & 63];
        out += i + 1 < bytes.size() ? kAlphabet[(group >> 6) & 63] : '=';
        out += i + 2 < bytes.size() ? kAlphabet[group & 63] : '=';
    }
    return out;
}

std::string PercentEncoded(const std::string& text)
{
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (char c : text) {
        unsigned char byte = static_cast<unsigned char>(c);
        if (isalnum(byte) || c == '-' || c == '.' || c == '_' || c == '~') {
            out += c;
        } else {
            out += '%';
            out += kHex[byte >> 4];
            out += kHex[byte & 15];
        }
    }
    return out;
}
