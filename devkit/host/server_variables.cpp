#include "devkit/host/server_variables.h"

#include <algorithm>
#include <cctype>
#include <string>

namespace {

std::string UpperCase(std::string_view text)
{
    std::string upper(text);
    std::transform(upper.begin(), upper.end(), upper.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return upper;
}

bool EqualIgnoringCase(std::string_view a, std::string_view b)
{
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](unsigned char x, unsigned char y) {
        return std::toupper(x) == std::toupper(y);
    });
}

// Repeated headers read as one, their values joined as HTTP allows. Header
// names compare without regard to case.
std::optional<WipedBytes> HeaderVariable(const HttpRequest& request, std::string_view headerName)
{
    std::optional<WipedBytes> value;
    for (const auto& [header, headerValue] : request.headers) {
        if (!EqualIgnoringCase(header, headerName))
            continue;
        if (value) {
            constexpr std::string_view kSeparator = ", ";
            value->insert(value->end(), kSeparator.begin(), kSeparator.end());
            value->insert(value->end(), headerValue.begin(), headerValue.end());
        } else {
            value = headerValue;
        }
    }
    return value;
}

// IIS reads every underscore after HTTP_ as a dash (HTTP_MY_HEADER finds a
// header sent as My-Header), so a header whose own name holds an underscore,
// Content_Type say, is never found through HTTP_; HEADER_ takes the name as
// it stands. (ASP's ServerVariables reference for HTTP_<HeaderName>; the IIS
// 6.0 SDK's GetServerVariable remarks for HEADER_.)
std::string HeaderNameAfterHttp(std::string_view variableSuffix)
{
    std::string name(variableSuffix);
    std::replace(name.begin(), name.end(), '_', '-');
    return name;
}

} // namespace

std::optional<WipedBytes> LookUpServerVariable(const HttpRequest& request, std::string_view requested)
{
    const std::string name = UpperCase(requested);
    if (name.starts_with("HTTP_"))
        return HeaderVariable(request, HeaderNameAfterHttp(std::string_view(name).substr(5)));
    if (name.starts_with("HEADER_"))
        return HeaderVariable(request, std::string_view(name).substr(7));
    if (name == "HTTPS")
        return ToWipedBytes(request.https ? "on" : "off");
    if (name == "REQUEST_METHOD")
        return ToWipedBytes(request.method);
    if (name == "CONTENT_TYPE")
        return HeaderVariable(request, "Content-Type").value_or(WipedBytes());
    if (name == "CONTENT_LENGTH")
        return ToWipedBytes(std::to_string(request.body.size()));
    if (name == "QUERY_STRING")
        return ToWipedBytes(request.query);
    if (name == "PATH_INFO")
        return ToWipedBytes(request.path);
    if (name == "REMOTE_ADDR")
        return ToWipedBytes(request.remoteAddress);
    if (name == "SERVER_PORT")
        return ToWipedBytes(std::to_string(request.localPort));
    return std::nullopt;
}
