// The posted form: a URL-encoded body of 1 to 4096 bytes, cut into
// name/value pairs, whose first "cmd" parameter selects the command.
#include "extension/request_context.h"
#include "extension/wiped_buffer.h"
#include "platform/ascii.h"
#include "request/percent_decoding.h"

#include <cstring>

namespace {

constexpr std::string_view kFormContentType = "application/x-www-form-urlencoded";
constexpr DWORD kLargestBody = 4096;

bool IsFormContentType(const char* contentType)
{
    if (!contentType)
        return false;
    std::string_view type(contentType);
    if (!StartsWithIgnoringAsciiCase(type, kFormContentType))
        return false;
    return type.size() == kFormContentType.size() || type[kFormContentType.size()] == ';';
}

CommandKind SelectCommand(const ParameterList& parameters)
{
    for (const FormParameter& parameter : parameters) {
        if (!EqualsIgnoringAsciiCase(parameter.name, "cmd"))
            continue;
        if (EqualsIgnoringAsciiCase(parameter.value, "list"))
            return kCommandList;
        if (EqualsIgnoringAsciiCase(parameter.value, "auth"))
            return kCommandAuth;
        return kCommandNone;
    }
    return kCommandNone;
}

} // namespace

// Fills the buffer with the whole body: what the host already holds, then
// the rest through ReadClient, asking again until every byte has arrived.
bool RequestContext::ReadBody(char* buffer)
{
    const DWORD total = ecb_->cbTotalBytes;
    DWORD filled = ecb_->cbAvailable < total ? ecb_->cbAvailable : total;
    if (filled > 0)
        memcpy(buffer, ecb_->lpbData, filled);
    while (filled < total) {
        DWORD size = total - filled;
        if (!ecb_->ReadClient(ecb_->ConnID, buffer + filled, &size) || size == 0)
            return false;
        filled += size < total - filled ? size : total - filled;
    }
    return true;
}

// Reads the body and cuts it into the parameter list. The body lives in a
// buffer of its own, wiped once cut up: an auth body carries a password.
bool RequestContext::ReadParameters(DWORD total)
{
    WipedBuffer<char> body(total + 1);
    if (!ReadBody(body.get()))
        return false;
    body.get()[total] = '\0';

    char* position = nullptr;
    for (char* pair = NextToken(body.get(), "&", &position); pair; pair = NextToken(nullptr, "&", &position)) {
        char* value = strchr(pair, '=');
        if (value)
            *value++ = '\0';
        else
            value = pair + strlen(pair);
        PercentDecode(pair);
        PercentDecode(value);
        parameters_.emplace_back(pair, value);
    }
    return true;
}

bool RequestContext::ReadForm()
{
    const DWORD total = ecb_->cbTotalBytes;
    if (!IsFormContentType(ecb_->lpszContentType) || total < 1 || total > kLargestBody) {
        SendErrorPage("400 Bad Request", "Invalid input");
        return false;
    }

    if (!ReadParameters(total)) {
        SendErrorPage("500 Internal Server Error", "Error reading posted data");
        return false;
    }

    command_ = SelectCommand(parameters_);
    if (command_ == kCommandNone) {
        SendErrorPage("400 Bad Request", "Invalid command");
        return false;
    }
    return true;
}
