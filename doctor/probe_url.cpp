#include "doctor/probe_url.h"

#include "platform/ascii.h"

#include <cstdio>
#include <cstring>
#include <string_view>

namespace {

constexpr char kUsage[] = "--probe takes the extension's URL, https://host[:port]/path/TessalineIntegration.dll";

bool IsHexDigit(char c)
{
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

bool IsAlphaNumeric(char c)
{
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

// What a path and query may hold as written (RFC 3986): unreserved
// characters, sub-delimiters, ':', '@', '/', '?', and '%' before two hex
// digits. A space, a line break or any byte above 0x7F would change the
// request line or be sent as something else.
size_t FirstUnsendable(std::string_view path)
{
    for (size_t at = 0; at < path.size(); ++at) {
        char c = path[at];
        if (c == '%') {
            if (at + 2 >= path.size() || !IsHexDigit(path[at + 1]) || !IsHexDigit(path[at + 2]))
                return at;
            at += 2;
            continue;
        }
        if (!IsAlphaNumeric(c) && !strchr("-._~!$&'()*+,;=:@/?", c))
            return at;
    }
    return std::string_view::npos;
}

// A name or an IPv4 address; an IPv6 address comes without its brackets.
bool IsHostName(std::string_view host, bool bracketed)
{
    for (char c : host) {
        bool fits = bracketed ? IsHexDigit(c) || c == ':' || c == '.' : IsAlphaNumeric(c) || c == '-' || c == '.';
        if (!fits)
            return false;
    }
    return !host.empty();
}

std::string ByteAt(std::string_view text, size_t at)
{
    char hex[8];
    snprintf(hex, sizeof hex, "0x%02X", static_cast<unsigned char>(text[at]));
    return std::string(hex) + " at character " + std::to_string(at + 1);
}

} // namespace

bool ParseProbeUrl(const std::string& text, ProbeUrl& url, std::string& error)
{
    constexpr std::string_view kScheme = "https://";
    error = kUsage;
    if (!StartsWithIgnoringAsciiCase(text, kScheme))
        return false;
    std::string_view rest = std::string_view(text).substr(kScheme.size());
    size_t slash = rest.find('/');
    std::string_view authority = rest.substr(0, slash);
    std::string_view path = slash == std::string_view::npos ? "/" : rest.substr(slash);
    size_t bad = FirstUnsendable(path);
    if (bad != std::string_view::npos) {
        error = "--probe's URL holds a byte that cannot be sent as written (" +
                ByteAt(text, kScheme.size() + (slash == std::string_view::npos ? 0 : slash) + bad) +
                "): write it percent-encoded, as %XX";
        return false;
    }
    url.path = std::string(path);
    std::string_view port;
    bool bracketed = authority.starts_with('[');
    if (bracketed) {
        size_t close = authority.find(']');
        if (close == std::string_view::npos)
            return false;
        url.host = std::string(authority.substr(1, close - 1));
        authority.remove_prefix(close + 1);
        url.portGiven = authority.starts_with(':');
        if (url.portGiven)
            port = authority.substr(1);
        else if (!authority.empty())
            return false;
    } else {
        size_t colon = authority.find(':');
        url.host = std::string(authority.substr(0, colon));
        url.portGiven = colon != std::string_view::npos;
        if (url.portGiven)
            port = authority.substr(colon + 1);
    }
    if (!IsHostName(url.host, bracketed))
        return false;
    if (url.portGiven) {
        unsigned long number = 0;
        for (char c : port) {
            if (c < '0' || c > '9' || (number = number * 10 + static_cast<unsigned long>(c - '0')) > 65535)
                return false;
        }
        if (port.empty() || number == 0)
            return false;
        url.port = static_cast<uint16_t>(number);
    }
    error.clear();
    return true;
}
