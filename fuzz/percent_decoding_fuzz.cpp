// Percent decoding of form fields: arbitrary text never grows, and any bytes
// escaped as a browser escapes them decode back exactly, "%25" included, so a
// decoded byte is never decoded a second time.
#include "fuzz/fuzz_target.h"
#include "request/percent_decoding.h"

#include <cctype>
#include <cstring>
#include <string>

namespace {

void DecodeArbitraryText(const std::string& bytes)
{
    std::string text = bytes;
    PercentDecode(text.data());
    if (strlen(text.c_str()) > strlen(bytes.c_str()))
        FuzzFailure("decoding made the text longer");
}

// Escapes as a form post does: '+' for a space, letters and digits as they
// are, everything else "%XX", in upper or lower case by the byte's parity.
std::string FormEscaped(const std::string& bytes)
{
    std::string escaped;
    for (char c : bytes) {
        unsigned char byte = static_cast<unsigned char>(c);
        if (c == ' ') {
            escaped += '+';
        } else if (isalnum(byte)) {
            escaped += c;
        } else {
            const char* hex = byte % 2 ? "0123456789abcdef" : "0123456789ABCDEF";
            escaped += {'%', hex[byte >> 4], hex[byte & 15]};
        }
    }
    return escaped;
}

void DecodeEscapedBytes(const std::string& bytes)
{
    std::string text = FormEscaped(bytes);
    PercentDecode(text.data());
    if (memcmp(text.data(), bytes.data(), bytes.size()) != 0 || text[bytes.size()] != '\0')
        FuzzFailure("escaped bytes did not decode back");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::string bytes(reinterpret_cast<const char*>(data), size);
    DecodeArbitraryText(bytes);
    DecodeEscapedBytes(bytes);
    return 0;
}
