#include "extension/request_context.h"

#include "platform/ascii.h"

namespace {

void WipeString(std::string& text)
{
    // The whole capacity: a short string keeps its bytes inside the object,
    // and a moved-from one may still hold them.
    WipeBytes(text.data(), text.capacity());
}

} // namespace

FormParameter::~FormParameter()
{
    WipeString(name);
    WipeString(value);
}

bool RequestContext::IsHttps()
{
    char value[16] = {};
    DWORD size = sizeof value;
    if (!ecb_->GetServerVariable(ecb_->ConnID, const_cast<char*>("HTTPS"), value, &size))
        return false;
    return EqualsIgnoringAsciiCase(value, "on");
}

void RequestContext::HandleRequest()
{
    if (!IsHttps()) {
        SendErrorPage("403 Forbidden", "HTTPS required");
        return;
    }
    if (!EqualsIgnoringAsciiCase(ecb_->lpszMethod ? ecb_->lpszMethod : "", "POST")) {
        SendErrorPage("405 Method Not Allowed", "POST method required");
        return;
    }
    if (!AuthenticateCaller())
        return;
    if (!ReadForm())
        return;
    if (command_ == kCommandList)
        RunListCommand();
    else
        RunAuthCommand();
}
