#include "extension/request_context.h"

#include "commands/body_pieces.h"
#include "platform/ascii.h"

#include <charconv>
#include <cstdint>
#include <cstring>
#include <string_view>

namespace {

// The decimal number at the start of a status text such as "403 Forbidden".
DWORD StatusNumber(const char* status)
{
    DWORD number = 0;
    for (const char* p = status; *p >= '0' && *p <= '9'; ++p)
        number = number * 10 + static_cast<DWORD>(*p - '0');
    return number;
}

// Text built in a fixed buffer, so that an answer, above all the answer
// to a failed allocation, never needs the heap. What does not fit is cut.
template <size_t Size>
class FixedText {
public:
    FixedText& operator<<(std::string_view piece)
    {
        size_t room = Size - length_;
        size_t count = piece.size() < room ? piece.size() : room;
        memcpy(text_ + length_, piece.data(), count);
        length_ += count;
        return *this;
    }
    FixedText& operator<<(uint64_t number)
    {
        char digits[24];
        auto [end, error] = std::to_chars(digits, digits + sizeof digits, number);
        (void)error;
        return *this << std::string_view(digits, static_cast<size_t>(end - digits));
    }

    std::string_view View() const { return {text_, length_}; }

private:
    char text_[Size];
    size_t length_ = 0;
};

// Room for the longest header block: both optional headers, the longest
// content type and a 20-digit length.
using HeaderText = FixedText<256>;
// Room for every error page: the status texts and messages are short.
using PageText = FixedText<512>;

void WriteHeaderBlock(HeaderText& block, DWORD statusNumber, const char* contentType, uint64_t bodyLength)
{
    if (statusNumber == 405)
        block << "Allow: POST\r\n";
    if (statusNumber == 401)
        block << "WWW-Authenticate: " << kBasicChallenge << "\r\n";
    block << "Content-Type: " << contentType << "\r\nContent-Length: " << bodyLength
          << "\r\nConnection: close\r\n\r\n";
}

} // namespace

void RequestContext::SendResponse(const char* status, const char* contentType, std::string_view body)
{
    SendResponse(status, contentType, std::span<const std::string_view>(&body, 1));
}

void RequestContext::SendResponse(const char* status, const char* contentType, std::span<const std::string_view> body)
{
    uint64_t bodyLength = 0;
    for (std::string_view piece : body)
        bodyLength += piece.size();
    // A body that WriteClient cannot carry whole is not sent cut short.
    if (bodyLength > kLargestBody) {
        SendInternalError();
        return;
    }

    DWORD statusNumber = StatusNumber(status);
    HeaderText headers;
    WriteHeaderBlock(headers, statusNumber, contentType, bodyLength);
    std::string_view block = headers.View();
    // The host may read the terminating zero too.
    headers << std::string_view("", 1); // NOLINT(bugprone-string-constructor): the literal's own zero

    HSE_SEND_HEADER_EX_INFO info{};
    info.pszStatus = status;
    info.pszHeader = block.data();
    info.cchStatus = static_cast<DWORD>(strlen(status));
    info.cchHeader = static_cast<DWORD>(block.size());
    info.fKeepConn = FALSE;

    answered_ = true;
    ecb_->dwHttpStatusCode = statusNumber;
    ecb_->ServerSupportFunction(ecb_->ConnID, HSE_REQ_SEND_RESPONSE_HEADER_EX, &info, nullptr, nullptr);

    if (EqualsIgnoringAsciiCase(ecb_->lpszMethod ? ecb_->lpszMethod : "", "HEAD"))
        return;
    // Once a write fails the connection is gone; the rest would go nowhere.
    for (std::string_view piece : body) {
        DWORD length = static_cast<DWORD>(piece.size());
        if (!ecb_->WriteClient(ecb_->ConnID, const_cast<char*>(piece.data()), &length, HSE_IO_SYNC))
            return;
    }
}

void RequestContext::SendErrorPage(const char* status, const char* message)
{
    PageText page;
    page << "<html>\r\n<head><title>" << status << "</title></head>\r\n<body><h1>" << message
         << "</h1></body>\r\n</html>\r\n";
    SendResponse(status, "text/html", page.View());
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
