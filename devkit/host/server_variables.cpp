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

// "Content-Type" as it appears after "HTTP_": CONTENT_TYPE.
std::string VariableNameOf(std::string_view header)
{
    std::string name = UpperCase(header);
    std::replace(name.begin(), name.end(), '-', '_');
    return name;
}

// Repeated headers read as one, their values joined as HTTP allows.
std::optional<WipedBytes> HeaderVariable(const HttpRequest& request, std::string_view name)
{
    std::optional<WipedBytes> value;
    for (const auto& [header, headerValue] : request.headers) {
        if (VariableNameOf(header) != name)
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

} // namespace

std::optional<WipedBytes> LookUpServerVariable(const HttpRequest& request, std::string_view requested)
{
    const std::string name = UpperCase(requested);
    if (name.starts_with("HTTP_"))
        return HeaderVariable(request, std::string_view(name).substr(5));
    if (name == "HTTPS")
        return ToWipedBytes(request.https ? "on" : "off");
    if (name == "REQUEST_METHOD")
        return ToWipedBytes(request.method);
    if (name == "CONTENT_TYPE")
        return HeaderVariable(request, "CONTENT_TYPE").value_or(WipedBytes());
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
