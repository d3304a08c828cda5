// Base64 decoding of the Authorization header: arbitrary text never makes it
// write past the text, and what the test host encodes, wrapped in CR LF lines
// as mail software does, decodes back to the very bytes.
#include "fuzz/fuzz_target.h"
#include "request/base64.h"
#include "tests/fake_host.h"

#include <cstring>
#include <string>

namespace {

void DecodeArbitraryText(const std::string& bytes)
{
    std::string text = bytes;
    char* decoded = DecodeBase64(text.data());
    if (decoded != text.data())
        FuzzFailure("DecodeBase64 returned another buffer");
    if (strlen(decoded) > bytes.size() * 3 / 4)
        FuzzFailure("more bytes decoded than the text can hold");
}

std::string WrappedInLines(const std::string& encoded)
{
    std::string wrapped;
    for (size_t at = 0; at < encoded.size(); at += 76)
        wrapped += encoded.substr(at, 76) + "\r\n";
    return wrapped;
}

void DecodeEncodedBytes(const std::string& bytes)
{
    std::string text = WrappedInLines(EncodeBase64(bytes));
    DecodeBase64(text.data());
    if (memcmp(text.data(), bytes.data(), bytes.size()) != 0 || text[bytes.size()] != '\0')
        FuzzFailure("encoded bytes did not decode back");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::string bytes(reinterpret_cast<const char*>(data), size);
    DecodeArbitraryText(bytes);
    DecodeEncodedBytes(bytes);
    return 0;
}
