#include "doctor/probe_transport.h"

#include "platform/ascii.h"

const std::string* HttpAnswer::Header(std::string_view name) const
{
    for (const auto& [field, value] : headers)
        if (EqualsIgnoringAsciiCase(field, name))
            return &value;
    return nullptr;
}

bool TakeBody(const HttpRequest& request, HttpAnswer& answer, std::string_view bytes)
{
    answer.bodyBytes += bytes.size();
    bool more = true;
    if (request.bodyReader) {
        more = request.bodyReader->Take(bytes);
    } else {
        size_t room = kLongestKeptBody - answer.body.size();
        more = bytes.size() <= room;
        answer.body.append(bytes.substr(0, room));
    }
    answer.bodyCutOff = answer.bodyCutOff || !more;
    return more;
}
