#include "doctor/probe_transport.h"

#include "platform/ascii.h"

const std::string* HttpAnswer::Header(std::string_view name) const
{
    for (const auto& [field, value] : headers)
        if (EqualsIgnoringAsciiCase(field, name))
            return &value;
    return nullptr;
}

bool KeepBody(HttpAnswer& answer, std::string_view bytes)
{
    size_t room = kLongestKeptBody - answer.body.size();
    answer.body.append(bytes.substr(0, room));
    return bytes.size() <= room;
}

bool TakeBody(const HttpRequest& request, HttpAnswer& answer, std::string_view bytes)
{
    answer.bodyBytes += bytes.size();
    bool more = request.bodyReader ? request.bodyReader->Take(bytes) : KeepBody(answer, bytes);
    answer.bodyCutOff = answer.bodyCutOff || !more;
    return more;
}

std::string DeadlinePassed(ExchangePart part, const HttpRequest& request, const HttpAnswer& answer)
{
    auto seconds = [](std::chrono::seconds deadline) { return std::to_string(deadline.count()) + " s"; };
    switch (part) {
    case ExchangePart::kConnecting: return "no connection within " + seconds(kStepDeadline);
    case ExchangePart::kHandshake: return "the TLS handshake did not end within " + seconds(kStepDeadline);
    case ExchangePart::kHeaderBlock: return "no whole answer head (status line and header fields) within " + seconds(kStepDeadline);
    case ExchangePart::kBody: break;
    }
    return "the answer did not end within " + seconds(request.deadline) + " (" + std::to_string(answer.bodyBytes) +
           " bytes of its body had come)";
}

std::string HeaderBlockTooLong()
{
    return "the answer's head (status line and header fields) is longer than " + std::to_string(kLongestHeaderBlock) +
           " bytes";
}
