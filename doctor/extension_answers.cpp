#include "doctor/extension_answers.h"

#include "extension/request_context.h"

#include <cstdlib>

namespace {

// A control block that keeps what the response writer gives it.
class KeptAnswer {
public:
    KeptAnswer()
    {
        ecb_.cbSize = sizeof ecb_;
        ecb_.ConnID = this;
        ecb_.lpszMethod = const_cast<char*>("POST");
        ecb_.ServerSupportFunction = &KeptAnswer::SupportFunction;
        ecb_.WriteClient = &KeptAnswer::Write;
    }
    EXTENSION_CONTROL_BLOCK* Ecb() { return &ecb_; }
    HttpAnswer Answer() const { return answer_; }

private:
    static BOOL WINAPI SupportFunction(HCONN connection, DWORD request, LPVOID buffer, LPDWORD, LPDWORD)
    {
        if (request != HSE_REQ_SEND_RESPONSE_HEADER_EX)
            return FALSE;
        auto* self = static_cast<KeptAnswer*>(connection);
        const auto* info = static_cast<const HSE_SEND_HEADER_EX_INFO*>(buffer);
        self->answer_.status = static_cast<int>(strtol(info->pszStatus, nullptr, 10));
        // "Name: value" lines up to the blank one.
        std::string_view block(info->pszHeader, info->cchHeader);
        for (size_t end; (end = block.find("\r\n")) != std::string_view::npos && end > 0; block.remove_prefix(end + 2)) {
            std::string_view line = block.substr(0, end);
            size_t colon = line.find(": ");
            if (colon != std::string_view::npos)
                self->answer_.headers.emplace_back(std::string(line.substr(0, colon)), std::string(line.substr(colon + 2)));
        }
        return TRUE;
    }
    static BOOL WINAPI Write(HCONN connection, LPVOID buffer, LPDWORD bytes, DWORD)
    {
        static_cast<KeptAnswer*>(connection)->answer_.body.append(static_cast<const char*>(buffer), *bytes);
        return TRUE;
    }

    EXTENSION_CONTROL_BLOCK ecb_{};
    HttpAnswer answer_;
};

const std::string kNoHeader;

bool SameHeader(const HttpAnswer& got, const HttpAnswer& page, std::string_view name)
{
    return HeaderOr(got, name) == HeaderOr(page, name);
}

bool SameStatusHeader(const HttpAnswer& got, const HttpAnswer& page)
{
    const StatusHeader* header = HeaderOfStatus(static_cast<unsigned>(page.status));
    return !header || SameHeader(got, page, header->name);
}

// The page's message, as the report quotes it.
std::string Message(const HttpAnswer& page)
{
    size_t start = page.body.find("<h1>") + 4;
    return page.body.substr(start, page.body.find("</h1>") - start);
}

} // namespace

HttpAnswer ExpectedPage(const ErrorPage& page)
{
    KeptAnswer kept;
    RequestContext(kept.Ecb()).SendErrorPage(page);
    return kept.Answer();
}

const std::string& HeaderOr(const HttpAnswer& answer, std::string_view name)
{
    const std::string* value = answer.Header(name);
    return value ? *value : kNoHeader;
}

PageMatch Compare(const HttpAnswer& got, const HttpAnswer& page)
{
    if (got.status != page.status || !SameStatusHeader(got, page))
        return PageMatch::kDifferent;
    bool same = got.body == page.body && !got.bodyCutOff && SameHeader(got, page, "Content-Type");
    return same ? PageMatch::kSame : PageMatch::kStatusOnly;
}

std::string Describe(const HttpAnswer& page)
{
    std::string text = "the extension's " + std::to_string(page.status) + " page, \"" + Message(page) + "\"";
    if (const StatusHeader* header = HeaderOfStatus(static_cast<unsigned>(page.status)))
        text += ", with " + std::string(header->name) + ": " + header->value;
    return text;
}
