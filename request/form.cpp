#include "request/form.h"

#include "platform/ascii.h"
#include "platform/wiping.h"
#include "platform/win32.h"
#include "request/percent_decoding.h"

#include <cstring>

namespace {

constexpr std::string_view kFormContentType = "application/x-www-form-urlencoded";

bool IsFormContentType(const char* contentType)
{
    if (!contentType)
        return false;
    std::string_view type(contentType);
    if (!StartsWithIgnoringAsciiCase(type, kFormContentType))
        return false;
    return type.size() == kFormContentType.size() || type[kFormContentType.size()] == ';';
}

} // namespace

FormParameter::~FormParameter()
{
    WipeString(name);
    WipeString(value);
}

bool IsFormRequest(const char* contentType, uint64_t bodyLength)
{
    return IsFormContentType(contentType) && bodyLength >= 1 && bodyLength <= kLargestForm;
}

void ParseForm(char* body, ParameterList& parameters)
{
    char* position = nullptr;
    for (char* pair = NextToken(body, "&", &position); pair; pair = NextToken(nullptr, "&", &position)) {
        char* value = strchr(pair, '=');
        if (value)
            *value++ = '\0';
        else
            value = pair + strlen(pair);
        PercentDecode(pair);
        PercentDecode(value);
        parameters.emplace_back(pair, value);
    }
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
