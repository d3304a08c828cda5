#include "extension/request_context.h"

#include "platform/ascii.h"

#include <charconv>
#include <cstdint>

namespace {

// The decimal number at the start of a status text such as "403 Forbidden".
DWORD StatusNumber(const char* status)
{
    DWORD number = 0;
    for (const char* p = status; *p >= '0' && *p <= '9'; ++p)
        number = number * 10 + static_cast<DWORD>(*p - '0');
    return number;
}

std::string HeaderBlock(DWORD statusNumber, const char* contentType, uint64_t bodyLength)
{
    char digits[64];
    auto [end, error] = std::to_chars(digits, digits + sizeof digits, bodyLength);
    (void)error;

    std::string block;
    if (statusNumber == 405)
        block += "Allow: POST\r\n";
    if (statusNumber == 401)
        block += "WWW-Authenticate: Basic realm=\"TessalineIntegration\"\r\n";
    block += "Content-Type: ";
    block += contentType;
    block += "\r\nContent-Length: ";
    block.append(digits, end);
    block += "\r\nConnection: close\r\n\r\n";
    return block;
}

} // namespace

void RequestContext::SendResponse(const char* status, const char* contentType, std::string_view body)
{
    // WriteClient takes a 32-bit count; a body it cannot carry whole is not sent cut short.
    if (body.size() > UINT32_MAX) {
        SendInternalError();
        return;
    }

    DWORD statusNumber = StatusNumber(status);
    std::string headers = HeaderBlock(statusNumber, contentType, body.size());

    HSE_SEND_HEADER_EX_INFO info{};
    info.pszStatus = status;
    info.pszHeader = headers.c_str();
    info.cchStatus = static_cast<DWORD>(strlen(status));
    info.cchHeader = static_cast<DWORD>(headers.size());
    info.fKeepConn = FALSE;

    answered_ = true;
    ecb_->dwHttpStatusCode = statusNumber;
    ecb_->ServerSupportFunction(ecb_->ConnID, HSE_REQ_SEND_RESPONSE_HEADER_EX, &info, nullptr, nullptr);

    if (EqualsIgnoringAsciiCase(ecb_->lpszMethod ? ecb_->lpszMethod : "", "HEAD"))
        return;
    DWORD length = static_cast<DWORD>(body.size());
    ecb_->WriteClient(ecb_->ConnID, const_cast<char*>(body.data()), &length, HSE_IO_SYNC);
}

void RequestContext::SendErrorPage(const char* status, const char* message)
{
    std::string page = "<html>\r\n<head><title>";
    page += status;
    page += "</title></head>\r\n<body><h1>";
    page += message;
    page += "</h1></body>\r\n</html>\r\n";
    SendResponse(status, "text/html", page);
}

void RequestContext::SendInternalError()
{
    SendErrorPage("500 Internal Server Error", "Internal server error");
}

void RequestContext::SendInternalErrorIfUnanswered()
{
    if (!answered_)
        SendInternalError();
}
